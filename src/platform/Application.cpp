#include "platform/Application.h"

#include <QCoreApplication>

#include "platform/BuildConfig.h"

namespace platform {

Version programVersion() {
    return {build::VersionMajor, build::VersionMinor, build::VersionRevision};
}

QString executablePath() {
    return QCoreApplication::applicationFilePath();
}

} // namespace platform
