// Times of the painters as one frame of the window uses them: DrawPathText of a typical
// status line with the outline cache warm and cold, the agreement paragraph and the
// watermark, the rounded background panel and the card's image shadow:
//   QT_QPA_PLATFORM=offscreen bench_drawing
#include <algorithm>
#include <cstdio>
#include <vector>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "drawing/Colors.h"
#include "drawing/ImageShadow.h"
#include "drawing/PathText.h"
#include "drawing/RoundPanel.h"
#include "raster/GraphicsText.h"

namespace {

double medianMicroseconds(std::vector<qint64> &ns) {
    std::sort(ns.begin(), ns.end());
    return double(ns[ns.size() / 2]) / 1000.0;
}

} // namespace

int main(int argc, char **argv) {
    QGuiApplication app(argc, argv);
    QImage canvas(440, 200, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);

    drawing::PathTextParams t;
    t.rcLayout = {0, 180, 300, 20};
    t.strText = QStringLiteral("正在下载，请稍等 ...");
    t.lAlign = 5;
    t.strFontName = raster::programFontFamily();
    t.sngFontSize = 12;
    t.lTextColor = drawing::ShadeColor(0xFFFFFF, 0.5f);
    t.sngPercent = 37.5f;
    t.bBackground = t.bBorder = true;
    t.lColor1 = t.lColor2 = drawing::ShadeColor(0xFFFFFF, -0.125f);
    drawing::DrawPathText(painter, t); // loads the font once

    const int rounds = 300;
    std::vector<qint64> cold, warm, textOnly;
    QElapsedTimer timer;
    for (int i = 0; i < rounds; ++i) {
        raster::clearTextPathCache();
        timer.start();
        drawing::DrawPathText(painter, t);
        cold.push_back(timer.nsecsElapsed());
    }
    for (int i = 0; i < rounds; ++i) {
        timer.start();
        drawing::DrawPathText(painter, t);
        warm.push_back(timer.nsecsElapsed());
    }
    drawing::PathTextParams plain = t;
    plain.bBackground = plain.bBorder = false;
    plain.sngPercent = 0;
    for (int i = 0; i < rounds; ++i) {
        timer.start();
        drawing::DrawPathText(painter, plain);
        textOnly.push_back(timer.nsecsElapsed());
    }
    drawing::PathTextParams agreement = plain;
    agreement.rcLayout = {25, 55, 329, 314};
    agreement.lAlign = 7;
    agreement.sngFontSize = 15;
    agreement.strText = QStringLiteral(
        "用户协议\r\n\r\n软件作者保证软件不含任何恶意代码或病毒;\r\n也不会在未经使用人允许的"
        "情况下连接网络;\r\n使用人不可将软件用于非法用途或反向工程;\r\n\r\n联系作者 QQ: "
        "10000\r\n或者电子邮件 author@example.com\r\n\r\n\r\n按下 开始下载 按钮即表示您已"
        "确认以上协议。");
    drawing::PathTextParams watermark = plain;
    watermark.rcLayout = {-20, -20, 461, 221};
    watermark.lAlign = 7;
    watermark.sngFontSize = 64;
    watermark.lFontStyle = 1;
    watermark.strText = QStringLiteral("软件更新");
    watermark.bTextAlpha = 25;
    watermark.lOutlineWidth = 1;
    watermark.bOutlineAlpha = 25;
    std::vector<qint64> paragraph, mark;
    for (int i = 0; i < rounds; ++i) {
        timer.start();
        drawing::DrawPathText(painter, agreement);
        paragraph.push_back(timer.nsecsElapsed());
        timer.start();
        drawing::DrawPathText(painter, watermark);
        mark.push_back(timer.nsecsElapsed());
    }
    drawing::RoundPanelParams panel;
    panel.sngRight = 439;
    panel.sngBottom = 199;
    panel.lFillStyle = drawing::LinearGradientFill;
    panel.lColor1 = drawing::ShadeColor(0x00C08040, 0.25f);
    panel.lColor2 = 0x00C08040;
    panel.lColor3 = drawing::ShadeColor(0x00C08040, 0.35f);
    panel.lColor4 = 0;
    panel.iRadiusTopLeft = panel.iRadiusTopRight = 8;
    panel.iRadiusBottomLeft = panel.iRadiusBottomRight = 8;
    QImage surface(460, 220, QImage::Format_ARGB32_Premultiplied);
    QPainter onSurface(&surface);
    onSurface.setRenderHint(QPainter::SmoothPixmapTransform);
    std::vector<qint64> panels, shadows;
    for (int i = 0; i < rounds; ++i) {
        timer.start();
        drawing::DrawRoundPanel(painter, panel);
        panels.push_back(timer.nsecsElapsed());
        surface.fill(Qt::transparent);
        timer.start();
        drawing::DrawImageShadow(onSurface, canvas, {12, 12, 436, 196, 20, 255, 0x202020, 0});
        shadows.push_back(timer.nsecsElapsed());
    }
    std::printf("DrawPathText status line, cold cache: %.1f us (median of %d)\n",
                medianMicroseconds(cold), rounds);
    std::printf("DrawPathText status line, warm cache: %.1f us (median of %d)\n",
                medianMicroseconds(warm), rounds);
    std::printf("DrawPathText text only, warm cache:   %.1f us (median of %d)\n",
                medianMicroseconds(textOnly), rounds);
    std::printf("DrawPathText agreement paragraph, warm: %.1f us (median of %d)\n",
                medianMicroseconds(paragraph), rounds);
    std::printf("DrawPathText watermark 64px outlined, warm: %.1f us (median of %d)\n",
                medianMicroseconds(mark), rounds);
    std::printf("DrawRoundPanel 440x200 style-15 background: %.1f us (median of %d)\n",
                medianMicroseconds(panels), rounds);
    std::printf("DrawImageShadow of a 440x200 card, blur 20: %.1f us (median of %d)\n",
                medianMicroseconds(shadows), rounds);
    return 0;
}
