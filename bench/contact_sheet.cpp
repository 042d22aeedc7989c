// Writes a contact sheet of every painter to a PNG for checking by eye:
//   QT_QPA_PLATFORM=offscreen contact_sheet OUT.png
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "drawing/Colors.h"
#include "drawing/ImageShadow.h"
#include "drawing/PathText.h"
#include "drawing/RoundPanel.h"
#include "drawing/WindowIcon.h"
#include "raster/GraphicsText.h"

using namespace drawing;

namespace {

QString family;

void label(QPainter &p, int x, int y, const QString &text) {
    PathTextParams t;
    t.rcLayout = {x, y, 200, 14};
    t.strText = text;
    t.strFontName = family;
    t.sngFontSize = 11;
    t.lTextColor = 0x404040;
    DrawPathText(p, t);
}

RoundPanelParams panel(float x, float y, float w, float h) {
    RoundPanelParams r;
    r.sngLeft = x;
    r.sngTop = y;
    r.sngRight = x + w;
    r.sngBottom = y + h;
    r.lColor1 = 0x00F0C090; // light blue (OLE BGR)
    r.lColor2 = 0x00A05010;
    r.lColor3 = 0x00602000;
    r.lColor4 = 0x000000FF;
    r.iRadiusTopLeft = r.iRadiusTopRight = r.iRadiusBottomLeft = r.iRadiusBottomRight = 8;
    return r;
}

QImage checker() {
    QImage image(60, 40, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, ((x / 5 + y / 5) % 2) ? 0xFFE08040 : 0xFF4080E0);
    return image;
}

// A card like the updater's window: flat light background, title, status line with a bar.
QImage card(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    PathTextParams bg;
    bg.rcLayout = {0, 0, w - 1, h - 1};
    bg.bBackground = bg.bBorder = true;
    bg.lColor1 = bg.lColor2 = ShadeColor(0xFFFFFF, -0.05f);
    DrawPathText(p, bg);
    PathTextParams mark;
    mark.rcLayout = {-20, -20, w + 21, h + 21};
    mark.strText = QStringLiteral("软件更新");
    mark.strFontName = family;
    mark.sngFontSize = 64;
    mark.lFontStyle = 1;
    mark.lTextColor = ShadeColor(0xFFFFFF, -0.2f);
    mark.bTextAlpha = 25;
    mark.lOutlineWidth = 1;
    mark.bOutlineAlpha = 25;
    DrawPathText(p, mark);
    PathTextParams title;
    title.rcLayout = {8, 8, w - 17, 19};
    title.strText = QStringLiteral("Demo 更新工具 1.0.0 beta");
    title.lAlign = 4;
    title.strFontName = family;
    title.sngFontSize = 14;
    title.lTextColor = ShadeColor(0xFFFFFF, -0.5f);
    DrawPathText(p, title);
    PathTextParams status;
    status.rcLayout = {0, h - 20, w - 1, 19};
    status.strText = QStringLiteral("正在下载，请稍等 ...");
    status.lAlign = 5;
    status.strFontName = family;
    status.sngFontSize = 12;
    status.lTextColor = ShadeColor(0xFFFFFF, 0.5f);
    status.sngPercent = 37.5f;
    status.bBackground = status.bBorder = true;
    status.lColor1 = status.lColor2 = ShadeColor(0xFFFFFF, -0.125f);
    DrawPathText(p, status);
    PathTextParams button;
    button.rcLayout = {w - 160, h - 55, 139, 24};
    button.strText = QStringLiteral("检查更新");
    button.lAlign = 5;
    button.strFontName = family;
    button.sngFontSize = 14;
    button.lTextColor = 0xFFFFFF;
    button.bBackground = button.bBorder = true;
    button.lColor1 = button.lColor2 = ShadeColor(ShadeColor(0xFFFFFF, -0.25f), -0.1f);
    DrawPathText(p, button);
    return image;
}

} // namespace

int main(int argc, char **argv) {
    QGuiApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("sheet.png");
    family = raster::programFontFamily();

    QImage sheet(1000, 1000, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(QColor(0xF4, 0xF4, 0xF4));
    QPainter p(&sheet);
    p.setRenderHint(QPainter::Antialiasing);

    // Row 1: fill styles.
    const QImage texture = checker();
    const char *styles[] = {"0 solid",      "1 none",      "2 texture",    "3 centre",
                            "4 dir 1 (90)", "4 dir 2 (0)", "4 dir 3 (45)", "4 dir 4 (135)"};
    for (int i = 0; i < 8; ++i) {
        const int x = 10 + i * 122;
        label(p, x, 8, QString::fromLatin1(styles[i]));
        RoundPanelParams r = panel(x, 26, 110, 70);
        r.lFillStyle = i < 4 ? i : LinearGradientFill;
        r.lGradientDirection = i < 4 ? 1 : i - 3;
        if (i == 2) {
            // The texture is anchored at the target's origin: shift the target to show it.
            p.save();
            p.translate(x, 26);
            r.sngLeft = 0;
            r.sngTop = 0;
            r.sngRight = 110;
            r.sngBottom = 70;
            r.picTexture = texture;
            DrawRoundPanel(p, r);
            p.restore();
            continue;
        }
        DrawRoundPanel(p, r);
    }

    // Row 2: bevels, dashes, radii, shadow.
    const float widths[] = {1, 2.5f, 3.5f, 6};
    for (int i = 0; i < 4; ++i) {
        const int x = 10 + i * 122;
        label(p, x, 110, QStringLiteral("bevel w %1").arg(double(widths[i])));
        RoundPanelParams r = panel(x, 128, 110, 70);
        r.lFillStyle = SolidFill;
        r.lColor1 = 0x00E0E0E0;
        r.sngLineWidth = widths[i];
        r.bBevel = true;
        DrawRoundPanel(p, r);
    }
    for (int i = 1; i <= 4; ++i) {
        const int x = 10 + (i + 3) * 122;
        label(p, x, 110, QStringLiteral("dash style %1").arg(i));
        RoundPanelParams r = panel(x, 128, 110, 70);
        r.lFillStyle = NoFill;
        r.sngLineWidth = 2;
        r.lDashStyle = i;
        r.bBevel = true;
        DrawRoundPanel(p, r);
    }
    {
        label(p, 10, 212, QStringLiteral("radii 0/8/16/24, 1px"));
        RoundPanelParams r = panel(10, 230, 110, 70);
        r.iRadiusTopLeft = 0;
        r.iRadiusTopRight = 8;
        r.iRadiusBottomLeft = 16;
        r.iRadiusBottomRight = 24;
        DrawRoundPanel(p, r);
        label(p, 132, 212, QStringLiteral("radii 0, bevel 3"));
        r = panel(132, 230, 110, 70);
        r.iRadiusTopLeft = r.iRadiusTopRight = r.iRadiusBottomLeft = r.iRadiusBottomRight = 0;
        r.sngLineWidth = 3;
        r.bBevel = true;
        DrawRoundPanel(p, r);
        label(p, 254, 212, QStringLiteral("shadow 10 (blurred)"));
        r = panel(254, 230, 110, 70);
        r.sngShadowSize = 10;
        r.bShadowAlpha = 120;
        DrawRoundPanel(p, r);
        label(p, 400, 212, QStringLiteral("path shadow sharp 4, offset 3"));
        r = panel(400, 230, 110, 70);
        r.lFillStyle = SolidFill;
        DrawPathShadow(p, OutlinePath(RoundPanelOutline(r)),
                       {400, 230, 110, 70, 4, 120, 0, 3, true});
        DrawRoundPanel(p, r);
        label(p, 546, 212, QStringLiteral("style 15 panel"));
        // The gradient rectangle ends at R + 1 and B + 1, so the panel is drawn at the origin
        // of its own canvas, as the window does.
        p.save();
        p.translate(546, 230);
        RoundPanelParams s;
        s.sngRight = 200 - 1;
        s.sngBottom = 80 - 1;
        s.lFillStyle = LinearGradientFill;
        s.lColor1 = ShadeColor(0x00C08040, 0.25f);
        s.lColor2 = 0x00C08040;
        s.lColor3 = ShadeColor(0x00C08040, 0.35f);
        s.lColor4 = 0;
        s.iRadiusTopLeft = s.iRadiusTopRight = s.iRadiusBottomLeft = s.iRadiusBottomRight = 8;
        DrawRoundPanel(p, s);
        p.restore();
    }

    // Row 3: alignments 1..9 and the bars.
    for (int a = 1; a <= 9; ++a) {
        const int col = (a - 1) % 3, row = 2 - (a - 1) / 3;
        PathTextParams t;
        t.rcLayout = {10 + col * 104, 330 + row * 54, 100, 50};
        t.strText = QStringLiteral("对齐 %1 Ag").arg(a);
        t.lAlign = a;
        t.strFontName = family;
        t.sngFontSize = 13;
        t.lTextColor = 0x00302010;
        t.bBorder = true;
        t.lColor1 = 0x00A0A0A0;
        DrawPathText(p, t);
    }
    const float percents[] = {0, 37.5f, 50, 150};
    for (int i = 0; i < 4; ++i) {
        PathTextParams t;
        t.rcLayout = {340, 330 + i * 26, 301, 19};
        t.strText = QStringLiteral("%1 %").arg(double(percents[i]));
        t.lAlign = 5;
        t.strFontName = family;
        t.sngFontSize = 12;
        t.lTextColor = 0x00FFFFFF;
        t.sngPercent = percents[i];
        t.bBackground = t.bBorder = true;
        t.lColor1 = 0x00F0C090;
        t.lColor2 = 0x00A05010;
        DrawPathText(p, t);
    }
    const char *styleNames[] = {"Regular 常规", "Bold 粗体", "Italic 斜体", "Underline 下划线",
                                "Strikeout 删除线"};
    const int styleBits[] = {0, 1, 2, 4, 8};
    for (int i = 0; i < 5; ++i) {
        PathTextParams t;
        t.rcLayout = {660, 330 + i * 30, 330, 26};
        t.strText = QString::fromUtf8(styleNames[i]);
        t.lAlign = 4;
        t.strFontName = family;
        t.sngFontSize = 18;
        t.lFontStyle = styleBits[i];
        t.lTextColor = 0x00202020;
        DrawPathText(p, t);
    }

    // Row 4: a wrapped Chinese paragraph with an outline, and the highlighted title over it.
    {
        const QString agreement = QStringLiteral(
            "Demo 2.0.1\r\n用户协议\r\n\r\n软件作者保证软件不含任何恶意代码或病毒;"
            "\r\n也不会在未经使用人允许的情况下连接网络;\r\n使用人不可将软件用于"
            "非法用途或反向工程;\r\n\r\n联系作者 QQ: 10000\r\n或者电子邮件 "
            "author@example.com\r\n\r\n\r\n按下 开始下载 按钮即表示您已确认以上协议。");
        PathTextParams panelText;
        panelText.rcLayout = {10, 500, 339, 324};
        panelText.bBackground = panelText.bBorder = true;
        panelText.lColor1 = panelText.lColor2 = 0x00C08040;
        panelText.bAlpha1 = panelText.bAlpha2 = 30;
        DrawPathText(p, panelText);
        PathTextParams t;
        t.rcLayout = {15, 505, 329, 314}; // the expanded window's content area
        t.strText = agreement;
        t.lAlign = 7;
        t.strFontName = family;
        t.sngFontSize = 15;
        t.lTextColor = 0x00403020;
        t.bTextAlpha = 210;
        DrawPathText(p, t);
        t.strText = QStringLiteral("Demo 2.0.1");
        t.lTextColor = 0x000060E0;
        t.bTextAlpha = 255;
        t.lOutlineWidth = 1;
        t.lOutlineColor = 0x00FFFFFF;
        DrawPathText(p, t);

        PathTextParams big;
        big.rcLayout = {360, 500, 300, 140};
        big.strText = QStringLiteral("软件更新，描边文字");
        big.lAlign = 5;
        big.strFontName = family;
        big.sngFontSize = 40;
        big.lFontStyle = 1;
        big.lTextColor = 0x0000C0FF;
        big.lOutlineWidth = 4;
        big.lOutlineColor = 0x00402000;
        big.bBorder = true;
        big.lColor1 = 0x00A0A0A0;
        DrawPathText(p, big);
    }

    // Row 5: a card with its image shadow, as the window composes it.
    {
        const int W = 440, H = 200, margin = 10;
        const QImage c = card(W, H);
        const int ox = 360, oy = 660;
        DrawImageShadow(
            p, c,
            {ox + margin + 2, oy + margin + 2, W - 4, H - 4, 2.0f * margin, 255, 0x202020, 0});
        p.drawImage(ox + margin, oy + margin, c);
        label(p, ox, oy + H + 2 * margin + 4, QStringLiteral("card with image shadow (b 20)"));
    }
    {
        const QIcon icon = AppIcon(QStringLiteral("APPICON"));
        int x = 10;
        for (const int size : {16, 32, 48, 64, 128}) {
            p.drawPixmap(x, 840 + 128 - size, icon.pixmap(size, size));
            x += size + 8;
        }
    }
    p.end();
    return sheet.save(out) ? 0 : 1;
}
