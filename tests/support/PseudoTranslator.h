#pragma once

#include <QTranslator>

namespace testsupport {

// A language for tests only: every English text of the catalogue with accented letters and
// lengthened by 40 %, so that a text which would leave its region in a longer language
// leaves it here first. Placeholders ("%1") and line breaks stay as they are.
class PseudoTranslator final : public QTranslator {
public:
    bool load() { return m_english.load(QStringLiteral(":/i18n/update-tool_en.qm")); }

    QString translate(const char *context, const char *source, const char *disambiguation,
                      int n) const override {
        const QString english = m_english.translate(context, source, disambiguation, n);
        if (english.isEmpty())
            return {};
        static const QString plain = QStringLiteral("aceinoouyACEINOUY");
        static const QString accented = QStringLiteral("àçéîñöøüýÀÇÉÎÑÖÜÝ");
        QString text;
        for (const QChar c : english) {
            const qsizetype at = plain.indexOf(c);
            text += at < 0 ? c : accented.at(at);
        }
        // Whole words of padding, so the text still wraps where words end.
        const qsizetype padding = english.size() * 2 / 5;
        for (qsizetype added = 0; added < padding; added += 4)
            text += QStringLiteral(" ẍẍẍ");
        return text;
    }

    bool isEmpty() const override { return m_english.isEmpty(); }

private:
    QTranslator m_english;
};

} // namespace testsupport
