#pragma once

#include <functional>

#include <QList>
#include <QString>

#include "hook/ProgressHook.h"

// A stand-in for the updater window: it keeps the remembered values the hook reads and
// writes, and records every repaint.
struct RecordingWindow {
    struct Repaint {
        qint32 lMouseStatus = 0;
        QString strInfo1;
        QString strInfo2;
        float lPercentValue = 0;
        // The remembered percent as the repaint found it.
        float sngLastPercentSeen = 0;
    };

    QString strLastInfo1 = QStringLiteral("测试产品 更新工具 1.0.0 beta");
    QString strAuthorLinkText = QStringLiteral("点击这里访问作者页面");
    float sngLastPercent = 7;
    QList<Repaint> repaints;
    // Runs inside each repaint, before it is recorded.
    std::function<void()> duringReDraw;

    hook::HookWindow bind() {
        hook::HookWindow window;
        window.ReDraw = [this](qint32 mouse, const QString &info1, const QString &info2,
                               float percent) {
            if (duringReDraw)
                duringReDraw();
            repaints.append({mouse, info1, info2, percent, sngLastPercent});
        };
        window.strLastInfo1 = [this] { return strLastInfo1; };
        window.strAuthorLinkText = [this] { return strAuthorLinkText; };
        window.setLastPercent = [this](float value) { sngLastPercent = value; };
        return window;
    }
};
