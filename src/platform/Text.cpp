#include "platform/Text.h"

#include <cerrno>
#include <charconv>
#include <langinfo.h>

#include <iconv.h>

#include <QTime>

namespace platform {
namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}
bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// Length of the longest prefix of `text` that reads as a number (sign, digits, one point,
// exponent). Returns 0 when no digit was read.
qsizetype numberPrefixLength(QStringView text) {
    qsizetype i = 0;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    qsizetype digits = 0;
    while (i < text.size() && isDigit(text[i]))
        ++i, ++digits;
    if (i < text.size() && text[i] == u'.') {
        ++i;
        while (i < text.size() && isDigit(text[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return 0;
    // An exponent counts only when at least one digit follows it.
    if (i < text.size() &&
        (text[i] == u'e' || text[i] == u'E' || text[i] == u'd' || text[i] == u'D')) {
        qsizetype j = i + 1;
        if (j < text.size() && (text[j] == u'+' || text[j] == u'-'))
            ++j;
        if (j < text.size() && isDigit(text[j])) {
            while (j < text.size() && isDigit(text[j]))
                ++j;
            i = j;
        }
    }
    return i;
}

double toDouble(QStringView number) {
    QByteArray ascii = number.toLatin1();
    ascii.replace('d', 'e').replace('D', 'e');
    const char *begin = ascii.constData();
    if (*begin == '+')
        ++begin;
    double value = 0;
    const auto [ptr, ec] = std::from_chars(begin, ascii.constData() + ascii.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // from_chars leaves the value untouched on overflow; tell huge from tiny.
        const qsizetype e = ascii.indexOf('e');
        const bool tiny = e >= 0 && ascii.indexOf('-', e) > e;
        const bool negative = ascii.startsWith('-');
        if (tiny)
            return negative ? -0.0 : 0.0;
        return negative ? -HUGE_VAL : HUGE_VAL;
    }
    (void)ptr;
    return value;
}

// Runs iconv over the whole input; an invalid or incomplete input sequence is replaced by
// `replacement` (already in the output encoding) and skipped `skip` bytes at a time.
QByteArray convert(iconv_t cd, QByteArrayView input, QByteArrayView replacement,
                   int (*skipLength)(const char *, size_t)) {
    QByteArray out;
    out.reserve(input.size() * 2 + 16);
    char *in = const_cast<char *>(input.data());
    size_t inLeft = static_cast<size_t>(input.size());
    char buffer[4096];
    while (true) {
        char *outPtr = buffer;
        size_t outLeft = sizeof buffer;
        const size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, outPtr - buffer);
        if (result != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG)
            continue;
        if (errno == EILSEQ || errno == EINVAL) {
            out.append(replacement);
            const int skip = std::max(1, skipLength(in, inLeft));
            in += std::min<size_t>(static_cast<size_t>(skip), inLeft);
            inLeft -= std::min<size_t>(static_cast<size_t>(skip), inLeft);
            if (inLeft == 0)
                break;
            continue;
        }
        break;
    }
    // Stateful encodings may need to return to their initial shift state.
    char *outPtr = buffer;
    size_t outLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, outPtr - buffer);
    return out;
}

int skipOneByte(const char *, size_t) {
    return 1;
}

// Length of the UTF-8 sequence starting at `p`, so an unencodable character is replaced
// as a whole.
int utf8SequenceLength(const char *p, size_t left) {
    const auto lead = static_cast<unsigned char>(*p);
    int length = 1;
    if (lead >= 0xF0)
        length = 4;
    else if (lead >= 0xE0)
        length = 3;
    else if (lead >= 0xC0)
        length = 2;
    return static_cast<int>(std::min<size_t>(static_cast<size_t>(length), left));
}

class Iconv {
public:
    Iconv(const char *to, const char *from)
        : m_cd(iconv_open(to, from)) {}
    ~Iconv() {
        if (valid())
            iconv_close(m_cd);
    }
    Iconv(const Iconv &) = delete;
    Iconv &operator=(const Iconv &) = delete;
    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t handle() const { return m_cd; }

private:
    iconv_t m_cd;
};

} // namespace

QString trimBlanks(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin).toString();
}

double leadingNumber(QStringView text) {
    qsizetype start = 0;
    while (start < text.size() && isBlank(text[start]))
        ++start;
    const QStringView rest = text.mid(start);
    const qsizetype length = numberPrefixLength(rest);
    return length == 0 ? 0.0 : toDouble(rest.first(length));
}

std::optional<double> parseNumber(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    const QStringView core = text.mid(begin, end - begin);
    const qsizetype length = numberPrefixLength(core);
    if (length == 0 || length != core.size())
        return std::nullopt;
    return toDouble(core);
}

QString timeStampHHMMSS(const QTime &time) {
    return time.toString(QStringLiteral("HHmmss"));
}

QByteArray localeCodeset() {
    const char *codeset = nl_langinfo(CODESET);
    return codeset && *codeset ? QByteArray(codeset) : QByteArray("UTF-8");
}

std::optional<QString> decodeCharset(QByteArrayView bytes, const QByteArray &charset) {
    Iconv cd("UTF-8", charset.constData());
    if (!cd.valid())
        return std::nullopt;
    return QString::fromUtf8(convert(cd.handle(), bytes, "\xEF\xBF\xBD", skipOneByte));
}

QString fromLocaleCodeset(QByteArrayView bytes) {
    if (auto text = decodeCharset(bytes, localeCodeset()))
        return *text;
    return QString::fromLatin1(bytes);
}

std::optional<QByteArray> encodeCharset(QStringView text, const QByteArray &charset) {
    Iconv cd(charset.constData(), "UTF-8");
    if (!cd.valid())
        return std::nullopt;
    return convert(cd.handle(), text.toUtf8(), "?", utf8SequenceLength);
}

QByteArray toLocaleCodeset(QStringView text) {
    return encodeCharset(text, localeCodeset()).value_or(text.toUtf8());
}

} // namespace platform
