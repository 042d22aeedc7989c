#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include "update-tool/progress.h"

// Decoding of the progress messages the conversion engine sends to the updater window.
// Pure functions over bytes: they read at most kPayloadLimit bytes of a payload, whatever
// its declared length, and a payload cannot make them fail; only running out of memory
// throws, and that is left to the caller's step (the hook's exception boundary).
namespace hook {

// The message kind that carries progress; every other kind is answered and ignored.
inline constexpr quint32 kProgressKind = UTP_KIND_PROGRESS;
// Only this many payload bytes are ever decoded; the rest of a longer payload is cut.
inline constexpr qsizetype kPayloadLimit = 1024;

// The three ways a progress message repaints the window, or none when it is ignored.
enum class RepaintCase {
    None,       // not a progress message: the window stays as it is
    Idle,       // percent exactly 0 (or no number): percent 0, the author link as status
    Finished,   // 100 percent or more: percent 0, "已经完成"
    Processing, // anything else, negatives included: the percent, "正在处理"
};

struct ProgressDecision {
    RepaintCase repaintCase = RepaintCase::None;
    // The value for the remembered percent and for the repaint's lPercentValue.
    float percent = 0;

    // The status line for this case; `strAuthorLinkText` is the window's idle text.
    // Empty for RepaintCase::None.
    QString statusText(const QString &strAuthorLinkText) const;
};

// The text a payload carries: its first kPayloadLimit bytes, zero-filled to that size,
// decoded in the locale's codeset and cut before the first NUL.
QString progressText(QByteArrayView payload);

// Applies the filters and reads the fraction after the first "?" of a decoded text.
ProgressDecision decideProgress(QStringView text);

// Both steps for one message of kind `dwData`.
ProgressDecision decodeProgressMessage(quint32 dwData, QByteArrayView payload);

} // namespace hook
