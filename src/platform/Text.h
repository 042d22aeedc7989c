#pragma once

#include <optional>

#include <QByteArray>
#include <QString>
#include <QStringView>

class QTime;

// The program's text services. Searches compare UTF-16 code units exactly (case-sensitive),
// numbers always use "." as the decimal point whatever the user's locale, and "ANSI" text is
// text in the locale's codeset.
namespace platform {

// Removes leading and trailing spaces (only U+0020, like the form runtime's Trim).
QString trimBlanks(QStringView text);

// The number at the start of `text`: leading blanks (space, tab, line feed) are skipped,
// then an optional sign, digits with at most one ".", and an optional exponent are read up
// to the first character that cannot continue the number. No number gives 0. The result
// may be infinite for absurd exponents; integer conversions then report the overflow.
double leadingNumber(QStringView text);

// The value of `text` when it is a number as a whole (surrounding blanks allowed), else
// nothing. "27", " 2.5 ", "-3", "1e3" are numbers; "12abc", "", "." are not.
std::optional<double> parseNumber(QStringView text);

// The time as six digits "HHMMSS".
QString timeStampHHMMSS(const QTime &time);

// The name of the locale's codeset ("UTF-8", "GB18030", ...).
QByteArray localeCodeset();

// Bytes in the locale's codeset to text, and back. Invalid input bytes become U+FFFD;
// characters the codeset cannot hold become "?".
QString fromLocaleCodeset(QByteArrayView bytes);
QByteArray toLocaleCodeset(QStringView text);

// Bytes in a named charset ("GBK", "GB18030", "UTF-8", "ISO-8859-1", ...) to text;
// nothing when the charset is unknown. Invalid input bytes become U+FFFD.
std::optional<QString> decodeCharset(QByteArrayView bytes, const QByteArray &charset);
// Text to bytes in a named charset; nothing when the charset is unknown. Characters the
// charset cannot hold become "?".
std::optional<QByteArray> encodeCharset(QStringView text, const QByteArray &charset);

} // namespace platform
