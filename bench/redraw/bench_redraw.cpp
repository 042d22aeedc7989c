// Time of one repaint of the window as the program makes it: the composer paints a fresh
// card and composes it with its drop shadow into the layered surface. Offscreen, the
// compact view (style 15, title, status and action button) and the expanded view with a
// found version and its agreement:
//   QT_QPA_PLATFORM=offscreen bench_redraw [ROUNDS]
#include <algorithm>
#include <cstdio>
#include <vector>

#include <QElapsedTimer>
#include <QGuiApplication>

#include "raster/GraphicsText.h"
#include "render/LayeredSurface.h"
#include "render/ScreenComposer.h"

namespace {

const QString Agreement = QStringLiteral(
    "用户协议\r\n"
    "一、本工具只从软件作者的页面下载软件的最新版本，不收集、不上传任何个人信息。\r\n"
    "二、下载的安装包由软件作者提供，请在安装前确认来源可信。\r\n"
    "三、下载过程中请保持网络连接，中途取消不会留下不完整的文件。\r\n"
    "四、使用本工具即表示您同意以上条款。");

double medianMs(std::vector<qint64> &ns) {
    std::sort(ns.begin(), ns.end());
    return double(ns[ns.size() / 2]) / 1e6;
}

// Median time of one ReDraw, alternating two hover regions as pointer movement does so
// that each frame really differs from the one before.
double timeRedraw(const render::ViewState &base, QSize client, int rounds) {
    render::LayeredSurface surface;
    surface.create(client, 1.0, 255);
    render::ScreenComposer composer;
    const render::Rect canvas{0, 0, client.width() - 2 * render::ShadowMargin,
                              client.height() - 2 * render::ShadowMargin};
    render::ReDrawRequest request{.lMouseStatus = render::MouseHovering,
                                  .strInfo1 = QStringLiteral("更新工具 2.4.1"),
                                  .strInfo2 = QStringLiteral("正在下载，请稍等 ..."),
                                  .lPercentValue = 37.5f};
    render::ViewState view = base;
    for (int i = 0; i < 5; ++i) // fonts, outlines and caches warm up
        composer.ReDraw(request, view, canvas, false, surface);
    std::vector<qint64> ns;
    QElapsedTimer timer;
    for (int i = 0; i < rounds; ++i) {
        view.lHoverRegion = i % 2 ? render::srActionButton : render::srNone;
        request.lPercentValue = 37.5f + float(i % 2);
        timer.start();
        composer.ReDraw(request, view, canvas, false, surface);
        ns.push_back(timer.nsecsElapsed());
    }
    return medianMs(ns);
}

} // namespace

int main(int argc, char **argv) {
    QGuiApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 300;
    render::ViewState view;
    view.fontName = raster::programFontFamily();
    if (view.fontName.isEmpty()) {
        std::fprintf(stderr, "bench_redraw: no font with Chinese glyphs is installed\n");
        return 1;
    }
    view.lThemeStyle = render::RoundedStyle;
    view.lThemeColor = 0xE0A050;
    view.lThemeLightColor = 0xF8ECE0;
    view.lThemeSpecialColor = 0xC07020;
    view.strActionCaption = QStringLiteral("开始下载");
    view.strPageTitle = QStringLiteral("示例软件 2.5.0 正式版");
    view.strAgreement = Agreement;

    view.Tag = QStringLiteral("0");
    const double compact = timeRedraw(view, QSize(460, 220), rounds);
    view.Tag = QStringLiteral("1");
    const double expanded = timeRedraw(view, QSize(400, 460), rounds);
    std::printf("redraw_ms_compact=%.3f\nredraw_ms_expanded=%.3f\n", compact, expanded);
    return 0;
}
