// update-tool-stamp: the packaging step. Writes the settings trailer that tells a copy of
// the updater which product it serves and how it looks, and shows what a copy carries.
#include <cstdio>
#include <cstdlib>

#include <QCoreApplication>
#include <QStringList>

#include "StampCommand.h"

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    const stamp::Result result = stamp::run(args);
    if (!result.output.isEmpty())
        std::fputs(result.output.toLocal8Bit().constData(), stdout);
    if (!result.error.isEmpty())
        std::fprintf(stderr, "update-tool-stamp: %s\n", result.error.toLocal8Bit().constData());
    return result.exitCode;
}
