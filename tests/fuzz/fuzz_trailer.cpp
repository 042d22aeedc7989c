// Feeds arbitrary file tails to the trailer reader, the property-bag parser and the settings
// conversions, exactly as start-up reads an executable.
#include <cstddef>
#include <cstdint>

#include <QBuffer>

#include "platform/PropertyBag.h"
#include "platform/SettingsTrailer.h"
#include "window/UpdaterSettings.h"

namespace {

// Every decoded unit comes from its own two bytes of the block, so a bag can never decode to
// more than the bytes it was read from. A reader that lets entries overlap breaks this long
// before it runs out of memory, so the fuzzer finds it with small inputs too.
void checkDecodedSize(const platform::PropertyBag &bag, qsizetype blockSize) {
    qsizetype decoded = 0;
    for (const auto &property : bag.properties()) {
        decoded += 2 * property.name.size();
        if (const auto *text = std::get_if<QString>(&property.value))
            decoded += 2 * text->size();
    }
    if (decoded > blockSize)
        __builtin_trap();
}

void parseContents(QByteArrayView contents) {
    if (const auto bag = platform::PropertyBag::fromContents(contents)) {
        checkDecodedSize(*bag, contents.size());
        (void)window::settingsFromBag(*bag);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);
    if (const auto contents = platform::readTrailerContents(file))
        parseContents(*contents);
    // The contents parser on its own, for inputs that never form a valid trailer.
    parseContents(bytes);
    return 0;
}
