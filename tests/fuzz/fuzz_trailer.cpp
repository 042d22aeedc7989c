// Feeds arbitrary file tails to the trailer reader, the property-bag parser and the settings
// conversions, exactly as start-up reads an executable.
#include <cstddef>
#include <cstdint>

#include <QBuffer>

#include "platform/PropertyBag.h"
#include "platform/SettingsTrailer.h"
#include "window/UpdaterSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);
    if (const auto contents = platform::readTrailerContents(file)) {
        if (const auto bag = platform::PropertyBag::fromContents(*contents))
            (void)window::settingsFromBag(*bag);
    }
    // The contents parser on its own, for inputs that never form a valid trailer.
    if (const auto bag = platform::PropertyBag::fromContents(bytes))
        (void)window::settingsFromBag(*bag);
    return 0;
}
