// first_frame [--animation] PROGRAM [ARGS...]: runs PROGRAM on $DISPLAY and prints the
// milliseconds from its exec to the first drawing into one of its top-level windows after
// that window was mapped, then ends it. Windows are watched from their creation on
// (substructure events on the root, a damage object per new window), so no frame is missed
// between polls.
//
// With --animation it measures the updater's two animations as the X server sees them
// instead, printing fade_ms and resize_ms: the fade-in from that first frame to the first
// later frame whose middle pixel has alpha 255 (the window's own 32-bit picture, read back after
// each drawing), then one view switch, from a click on the card's expand button (through
// XTest, as a user's) to the last drawing after the window's size stopped changing.
#include <chrono>
#include <cstdio>
#include <set>
#include <string_view>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xdamage.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

void endChild(pid_t child) {
    kill(child, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(child, nullptr, WNOHANG) == child)
            return;
        usleep(10000);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

// A window may vanish before its damage object is made: that is no failure here.
int ignoreErrors(Display *, XErrorEvent *) {
    return 0;
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The alpha of the window's middle pixel as it last drew it; -1 when it cannot be read.
int middleAlpha(Display *display, Window window) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.depth != 32)
        return -1;
    XImage *image = XGetImage(display, window, attributes.width / 2, attributes.height / 2, 1, 1,
                              AllPlanes, ZPixmap);
    if (!image)
        return -1;
    const int alpha = int(XGetPixel(image, 0, 0) >> 24);
    XDestroyImage(image);
    return alpha;
}

// Where the expand button of the card lies in a window of `width`: the card starts 10
// pixels in (the shadow margin), the button 50 pixels left of the card's right edge, 8
// below its top, 12 pixels square.
void clickExpand(Display *display, Window window, int width) {
    constexpr int margin = 10;
    const int cardWidth = width - 2 * margin;
    Window child = 0;
    int x = 0, y = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), margin + cardWidth - 44,
                          margin + 14, &x, &y, &child);
    XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XFlush(display);
}

// The two animations of an updater whose first frame just appeared in `window`.
int measureAnimations(Display *display, Window window, int damageEvent, pid_t child,
                      const Clock::time_point deadline) {
    int xtestEvent = 0, xtestError = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &xtestEvent, &xtestError, &major, &minor)) {
        std::fprintf(stderr, "first_frame: the X server has no XTEST extension\n");
        return 1;
    }
    const Clock::time_point firstFrame = Clock::now();
    double fadeMs = -1;
    // The window's picture before its first paint may read as anything: the fade counts once
    // a frame below full opacity was seen.
    bool fading = false;
    XWindowAttributes attributes;
    XGetWindowAttributes(display, window, &attributes);
    int width = attributes.width, height = attributes.height;
    Clock::time_point click{}, lastResize{}, lastFrame{};
    bool clicked = false;
    pollfd fd{ConnectionNumber(display), POLLIN, 0};
    while (Clock::now() < deadline) {
        if (clicked && lastResize != Clock::time_point{} &&
            Clock::now() - std::max(lastResize, lastFrame) > std::chrono::milliseconds(500))
            break; // the size stood still and nothing was drawn for half a second
        if (fadeMs >= 0 && !clicked) {
            // Let the fade's last frame reach the screen, then switch the view.
            XSync(display, False);
            click = Clock::now();
            clickExpand(display, window, width);
            clicked = true;
        }
        if (!XPending(display)) {
            poll(&fd, 1, 20);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == ConfigureNotify && event.xconfigure.window == window) {
            if (event.xconfigure.width != width || event.xconfigure.height != height) {
                width = event.xconfigure.width;
                height = event.xconfigure.height;
                if (clicked)
                    lastResize = Clock::now();
            }
        } else if (event.type == damageEvent + XDamageNotify) {
            const auto *damage = reinterpret_cast<XDamageNotifyEvent *>(&event);
            XDamageSubtract(display, damage->damage, None, None);
            if (damage->drawable != window)
                continue;
            if (fadeMs < 0) {
                const int alpha = middleAlpha(display, window);
                if (fading && alpha == 255)
                    fadeMs = msSince(firstFrame);
                fading = fading || (alpha >= 0 && alpha < 255);
            }
            if (clicked)
                lastFrame = Clock::now();
        }
    }
    endChild(child);
    if (fadeMs < 0 || lastResize == Clock::time_point{}) {
        std::fprintf(stderr, "first_frame: %s\n",
                     fadeMs < 0 ? "the window never became opaque" : "the view never switched");
        return 1;
    }
    const double resizeMs =
        std::chrono::duration<double, std::milli>(std::max(lastResize, lastFrame) - click).count();
    std::printf("%.1f %.1f\n", fadeMs, resizeMs);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    const bool animation = argc > 1 && std::string_view(argv[1]) == "--animation";
    if (animation) {
        --argc;
        ++argv;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: first_frame [--animation] PROGRAM [ARGS...]\n");
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "first_frame: cannot open the display\n");
        return 1;
    }
    XSetErrorHandler(ignoreErrors);
    int damageEvent = 0, damageError = 0;
    if (!XDamageQueryExtension(display, &damageEvent, &damageError)) {
        std::fprintf(stderr, "first_frame: the X server has no DAMAGE extension\n");
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    if (child < 0)
        return 1;

    std::set<Window> mapped;
    const Clock::time_point deadline = start + std::chrono::seconds(20);
    pollfd fd{ConnectionNumber(display), POLLIN, 0};
    while (Clock::now() < deadline) {
        if (!XPending(display)) {
            poll(&fd, 1, 50);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == CreateNotify && event.xcreatewindow.parent == root) {
            XDamageCreate(display, event.xcreatewindow.window, XDamageReportNonEmpty);
        } else if (event.type == MapNotify) {
            mapped.insert(event.xmap.window);
        } else if (event.type == damageEvent + XDamageNotify) {
            const auto *damage = reinterpret_cast<XDamageNotifyEvent *>(&event);
            if (mapped.count(damage->drawable) && animation) {
                XDamageSubtract(display, damage->damage, None, None);
                return measureAnimations(display, damage->drawable, damageEvent, child, deadline);
            }
            if (mapped.count(damage->drawable)) {
                const double ms =
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                endChild(child);
                std::printf("%.1f\n", ms);
                return 0;
            }
            XDamageSubtract(display, damage->damage, None, None);
        }
    }
    endChild(child);
    std::fprintf(stderr, "first_frame: no frame within 20 seconds\n");
    return 1;
}
