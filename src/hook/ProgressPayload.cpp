#include "hook/ProgressPayload.h"

#include <algorithm>
#include <cfloat>
#include <cstring>

#include <QByteArray>
#include <QCoreApplication>

#include "platform/Text.h"

namespace hook {

QString ProgressDecision::statusText(const QString &strAuthorLinkText) const {
    switch (repaintCase) {
    case RepaintCase::Idle:
        return strAuthorLinkText;
    case RepaintCase::Finished:
        return QCoreApplication::translate("update-tool", "已经完成");
    case RepaintCase::Processing:
        return QCoreApplication::translate("update-tool", "正在处理");
    case RepaintCase::None:
        break;
    }
    return {};
}

QString progressText(QByteArrayView payload) {
    // The buffer is zero-filled to its full size so a payload without a NUL still ends in
    // one, unless it fills the buffer.
    QByteArray buffer(kPayloadLimit, '\0');
    const qsizetype length = std::min(payload.size(), kPayloadLimit);
    if (length > 0)
        std::memcpy(buffer.data(), payload.data(), static_cast<size_t>(length));
    QString text = platform::fromLocaleCodeset(buffer);
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0)
        text.truncate(nul);
    return text;
}

ProgressDecision decideProgress(QStringView text) {
    // The engine's other notices share the key prefix; only progress values count.
    if (!text.contains(u'?') || text.contains(u"Trancel1_ScriptChange") ||
        text.contains(u"Trancel1_PipeChange") || !text.contains(u"Trancel1_ProgressValue"))
        return {};

    const qsizetype first = text.indexOf(u'?');
    const qsizetype next = text.indexOf(u'?', first + 1);
    const QStringView field =
        next < 0 ? text.mid(first + 1) : text.mid(first + 1, next - first - 1);
    const double scaled = platform::leadingNumber(field) * 100.0;

    if (scaled == 0)
        return {RepaintCase::Idle, 0};
    if (scaled >= 100)
        return {RepaintCase::Finished, 0};
    // A value beyond the single-precision range cannot be shown or remembered; such a
    // message leaves the window as it is.
    if (!(scaled >= -FLT_MAX))
        return {};
    return {RepaintCase::Processing, static_cast<float>(scaled)};
}

ProgressDecision decodeProgressMessage(quint32 dwData, QByteArrayView payload) {
    if (dwData != kProgressKind)
        return {};
    return decideProgress(progressText(payload));
}

} // namespace hook
