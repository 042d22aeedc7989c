// Downloads one address to one file through the download control and the real read service,
// as the updater does, and prints how long it took and the process's peak memory:
//   bench_download URL SAVE_PATH
// prints "seconds=S", "bytes=N", "peak_rss_kib=K"; exit status 0 only for a saved file.

#include <cstdio>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include "download/ctlAsyncDownload.h"
#include "platform/NetworkReadService.h"

namespace {

struct Sink final : download::ctlAsyncDownloadEvents {
    bool saved = false;
    QString reason;
    void FileSaved(const QString &, const QString &) override { saved = true; }
    void Finished(const platform::AsyncProperty &X, std::int32_t) override {
        reason = X.statusText;
        QCoreApplication::quit();
    }
};

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: bench_download URL SAVE_PATH\n");
        return 2;
    }
    platform::NetworkReadService service;
    download::ctlAsyncDownload control(service);
    Sink sink;
    control.setEventSink(&sink);
    control.setOverwrite(true);

    QElapsedTimer timer;
    timer.start();
    control.Download(args[1], args[2]);
    QCoreApplication::exec();
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    if (!sink.saved) {
        std::fprintf(stderr, "bench_download: the download failed: %s\n", qPrintable(sink.reason));
        return 1;
    }
    std::printf("seconds=%.3f\nbytes=%lld\npeak_rss_kib=%ld\n", seconds,
                static_cast<long long>(QFileInfo(args[2]).size()), usage.ru_maxrss);
    return 0;
}
