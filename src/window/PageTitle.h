#pragma once

#include <optional>

#include <QByteArray>
#include <QString>

// Reading the newest version's title from the product page, and the package file name made
// from it. The page comes from the network: everything here treats it as untrusted.
namespace window {

// The text between the first `start` and the first `end` after it (exact, case-sensitive);
// the empty text when either marker is missing or no `end` follows the start.
QString GetTextBetween(const QString &text, const QString &start, const QString &end);

// The charset a page declares: the Content-Type's charset parameter, else a <meta charset>
// or http-equiv Content-Type within the page's first 2 KiB; empty when it declares none.
QByteArray declaredCharset(const QByteArray &contentType, const QByteArray &page);

// The page as text, in the charset it declares, else in the locale's codeset.
QString decodePage(const QByteArray &page, const QByteArray &contentType);

// The title after "h1 title=" with the double quotes and the invisible characters (Unicode
// format characters such as bidi controls and zero-width spaces, and U+0085, U+2028,
// U+2029) removed; nothing when the page has no such title, or one that is blank or made
// only of dots.
std::optional<QString> pageTitle(const QString &pageText);

// A title as the user sees it, for comparing one with another: without double quotes and
// invisible characters (as `pageTitle` takes them out), and without blanks at either end.
QString comparableTitle(QStringView title);

// The package signature a page announces with <meta name="package-signature"
// content="BASE64">: the decoded bytes of the whole .minisig file. Nothing when the page
// carries none, or one that is not strict base64 or longer than a signature file can be.
std::optional<QByteArray> packageSignature(const QString &pageText);

// The package's file name for a title: the invisible characters and leading dots are
// removed (so the name shows what it is and is never hidden), blanks become "_", and so does
// every character that cannot stand in a file name on common systems (separators, NUL and
// other control characters, < > : " | ? *), so the package always lands in the program's
// own folder. Very long titles are shortened to keep the name within file-system limits.
QString packageFileName(const QString &title);

} // namespace window
