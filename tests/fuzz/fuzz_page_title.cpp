// Feeds arbitrary page bytes and Content-Type values through the decoding, the title
// extraction, the announced signature and the file-name derivation that a finished check
// runs.
#include <cstddef>
#include <cstdint>

#include "signing/Minisign.h"
#include "window/PageTitle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    // The first line, when short, plays the Content-Type header.
    const qsizetype newline = bytes.indexOf('\n');
    const QByteArray contentType =
        newline >= 0 && newline < 100 ? bytes.left(newline) : QByteArray();
    const QString text = window::decodePage(bytes, contentType);
    if (const auto title = window::pageTitle(text)) {
        const QString name = window::packageFileName(*title);
        if (name.contains(u'/') || name.contains(u'\\') || name.contains(QChar(0)) ||
            name.startsWith(u'.'))
            __builtin_trap();
        for (QChar c : name)
            if (c.category() == QChar::Other_Format || c == QChar(0x2028) || c == QChar(0x2029))
                __builtin_trap();
    }
    if (const auto signature = window::packageSignature(text))
        if (signature->size() > signing::MaxSignatureFileSize)
            __builtin_trap();
    return 0;
}
