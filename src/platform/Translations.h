#pragma once

#include <QCoreApplication>
#include <QLocale>
#include <QString>
#include <QStringList>

class QCoreApplication;

// The language the interface speaks. The program's own texts are written in Chinese; every
// other language is a catalogue built into the program's resources.
namespace platform {

// Every text of the interface is one of these: its Chinese source, marked for lupdate with
// QT_TRANSLATE_NOOP("update-tool", …), and shown in the chosen language when called. They
// are constants, so they are translated when used, never before the catalogue is installed.
struct UiText {
    const char *source;

    QString operator()() const { return QCoreApplication::translate("update-tool", source); }
};

struct LanguageChoice {
    // The catalogue to load ("en", "de", …); empty for the built-in Chinese.
    QString catalogue;
    // The locale that numbers and dates follow.
    QLocale locale;

    bool isSource() const { return catalogue.isEmpty(); }
};

// Walks the desktop's languages in order (as `QLocale::uiLanguages()` lists them, "C" for
// the C/POSIX or an unset locale) and takes the first one the program speaks: Chinese, the C
// locale (which keeps the Chinese the program always had), or a language with a catalogue
// in `catalogues`. When none of them is spoken, English.
LanguageChoice chooseLanguage(const QStringList &uiLanguages, const QStringList &catalogues);

// The catalogues built into the program ("en", …).
QStringList builtInCatalogues();

// Chooses the language from the desktop's and installs its catalogue, with Qt's own texts
// for the same language where they can be found, into `app`. Never throws.
LanguageChoice installTranslations(QCoreApplication &app);

} // namespace platform
