#pragma once

#include <QString>

// The application object: where the program lives and which version it is.
namespace platform {

struct Version {
    int major = 0;
    int minor = 0;
    int revision = 0;
};

// The program's own version, carried by the build.
Version programVersion();

// The running executable's absolute path. Needs a QCoreApplication.
QString executablePath();

} // namespace platform
