#include "window/PageTitle.h"

#include <QRegularExpression>

#include "platform/Text.h"
#include "signing/Minisign.h"

namespace window {
namespace {

// Room for "(99999).zip" within the 255 bytes most file systems allow for a name.
constexpr qsizetype MaxTitleBytes = 200;
constexpr qsizetype MetaScanBytes = 2048;

bool unsafeInFileName(QChar c) {
    const char16_t u = c.unicode();
    return c.category() == QChar::Other_Control || u == u'/' || u == u'\\' || u == u'<' ||
           u == u'>' || u == u':' || u == u'"' || u == u'|' || u == u'?' || u == u'*';
}

QByteArray charsetParameter(QByteArrayView contentType) {
    static const QRegularExpression charset(
        QStringLiteral(R"(charset\s*=\s*["']?([A-Za-z0-9._:-]+))"),
        QRegularExpression::CaseInsensitiveOption);
    const auto match = charset.match(QString::fromLatin1(contentType));
    return match.hasMatch() ? match.captured(1).toLatin1() : QByteArray();
}

// Characters that change how the text around them is shown or are not shown at all:
// format characters (bidi controls, zero-width joiners, the byte-order mark, tag characters)
// and the line and paragraph separators. In a file name they let one name pose as another.
bool invisibleOrReordering(char32_t c) {
    return QChar::category(c) == QChar::Other_Format || c == 0x85 || c == 0x2028 || c == 0x2029;
}

QString withoutInvisibleCharacters(QStringView text) {
    QString kept;
    kept.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        qsizetype units = 1;
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            units = 2;
        }
        if (!invisibleOrReordering(c))
            kept.append(text.mid(i, units));
        i += units - 1;
    }
    return kept;
}

} // namespace

QString GetTextBetween(const QString &text, const QString &start, const QString &end) {
    const qsizetype s = text.indexOf(start);
    if (s < 0 || start.isEmpty() || end.isEmpty())
        return {};
    const qsizetype e = text.indexOf(end, s + 1);
    const qsizetype from = s + start.size();
    if (e < from)
        return {};
    return text.mid(from, e - from);
}

QByteArray declaredCharset(const QByteArray &contentType, const QByteArray &page) {
    if (QByteArray fromHeader = charsetParameter(contentType); !fromHeader.isEmpty())
        return fromHeader;
    // <meta charset="gbk"> and <meta http-equiv="Content-Type" content="text/html; charset=gbk">
    // both carry "charset=" inside a meta tag.
    static const QRegularExpression meta(QStringLiteral(R"(<meta\b[^>]*>)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QString head = QString::fromLatin1(page.left(MetaScanBytes));
    for (auto it = meta.globalMatch(head); it.hasNext();) {
        const QByteArray charset = charsetParameter(it.next().captured(0).toLatin1());
        if (!charset.isEmpty())
            return charset;
    }
    return {};
}

QString decodePage(const QByteArray &page, const QByteArray &contentType) {
    const QByteArray charset = declaredCharset(contentType, page);
    if (!charset.isEmpty())
        if (auto text = platform::decodeCharset(page, charset))
            return *text;
    return platform::fromLocaleCodeset(page);
}

std::optional<QString> pageTitle(const QString &pageText) {
    QString text = pageText;
    text.remove(u'"');
    const QString title = withoutInvisibleCharacters(
        GetTextBetween(text, QStringLiteral("h1 title="), QStringLiteral(">")));
    const QString trimmed = title.trimmed();
    if (trimmed.isEmpty() || trimmed.count(u'.') == trimmed.size())
        return std::nullopt;
    return title;
}

QString comparableTitle(QStringView title) {
    QString text = title.toString();
    text.remove(u'"');
    return withoutInvisibleCharacters(text).trimmed();
}

std::optional<QByteArray> packageSignature(const QString &pageText) {
    static const QRegularExpression meta(QStringLiteral(R"(<meta\b[^>]*>)"),
                                         QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression named(
        QStringLiteral(R"(\bname\s*=\s*["']?package-signature["'\s/>])"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression content(
        QStringLiteral(R"(\bcontent\s*=\s*(["']?)([^"'\s>]*)\1)"),
        QRegularExpression::CaseInsensitiveOption);
    constexpr qsizetype MaxEncodedSize = (signing::MaxSignatureFileSize + 2) / 3 * 4;
    for (auto it = meta.globalMatch(pageText); it.hasNext();) {
        const QString tag = it.next().captured(0);
        if (!named.match(tag).hasMatch())
            continue;
        const QString encoded = content.match(tag).captured(2);
        if (encoded.isEmpty() || encoded.size() > MaxEncodedSize)
            return std::nullopt;
        auto decoded = QByteArray::fromBase64Encoding(encoded.toLatin1(),
                                                      QByteArray::Base64Encoding |
                                                          QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return std::nullopt;
        return std::move(decoded.decoded);
    }
    return std::nullopt;
}

QString packageFileName(const QString &title) {
    QString name = withoutInvisibleCharacters(title);
    // A leading dot would hide the package from the user's file manager.
    while (name.startsWith(u'.'))
        name.remove(0, 1);
    if (name.isEmpty())
        name = QStringLiteral("_");
    // Every character takes at least one byte, so this cut loses nothing that could fit.
    name.truncate(MaxTitleBytes);
    if (!name.isEmpty() && name.back().isHighSurrogate())
        name.chop(1);
    for (QChar &c : name)
        if (c == u' ' || unsafeInFileName(c))
            c = u'_';
    while (name.toUtf8().size() > MaxTitleBytes) {
        name.chop(1);
        if (!name.isEmpty() && name.back().isHighSurrogate())
            name.chop(1);
    }
    return name + QStringLiteral(".zip");
}

} // namespace window
