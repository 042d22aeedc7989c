#include "platform/Translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace platform {
namespace {

constexpr auto CataloguePrefix = "update-tool_";
const QString CatalogueFolder = QStringLiteral(":/i18n");

bool isChinese(const QString &tag) {
    return tag == QLatin1String("zh") || tag.startsWith(QLatin1String("zh-")) ||
           tag.startsWith(QLatin1String("zh_"));
}

// "de-Latn-DE" matches a catalogue "de_DE" or "de"; the more specific one first.
QString catalogueFor(const QString &tag, const QStringList &catalogues) {
    const QLocale locale(tag);
    const QString full = locale.name(); // "de_DE"
    const QString language = full.section(u'_', 0, 0);
    for (const QString &name : {full, language}) {
        if (catalogues.contains(name))
            return name;
    }
    return {};
}

} // namespace

LanguageChoice chooseLanguage(const QStringList &uiLanguages, const QStringList &catalogues) {
    for (const QString &tag : uiLanguages) {
        if (tag.isEmpty() || tag == QLatin1String("C") || tag == QLatin1String("POSIX"))
            return {{}, QLocale(QLocale::Chinese, QLocale::China)};
        if (isChinese(tag))
            return {{}, QLocale(tag)};
        if (const QString name = catalogueFor(tag, catalogues); !name.isEmpty())
            return {name, QLocale(tag)};
    }
    return {QStringLiteral("en"), QLocale(QLocale::English, QLocale::UnitedStates)};
}

QStringList builtInCatalogues() {
    const QString prefix = QLatin1String(CataloguePrefix);
    QStringList names;
    for (const QString &file :
         QDir(CatalogueFolder).entryList({prefix + QStringLiteral("*.qm")}, QDir::Files))
        names << file.mid(prefix.size()).chopped(3);
    return names;
}

LanguageChoice installTranslations(QCoreApplication &app) {
    const LanguageChoice choice =
        chooseLanguage(QLocale::system().uiLanguages(), builtInCatalogues());
    QLocale::setDefault(choice.locale);
    // Both translators live as long as the application; QCoreApplication does not own them.
    if (!choice.isSource()) {
        auto *own = new QTranslator(&app);
        if (own->load(QLatin1String(CataloguePrefix) + choice.catalogue, CatalogueFolder))
            QCoreApplication::installTranslator(own);
    }
    // Qt's own texts (standard buttons, input methods) in the same language, where the
    // installation or the bundle carries them; English needs none.
    if (choice.locale.language() != QLocale::English) {
        auto *qt = new QTranslator(&app);
        if (qt->load(choice.locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(qt);
    }
    return choice;
}

} // namespace platform
