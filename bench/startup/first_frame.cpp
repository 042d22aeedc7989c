// first_frame PROGRAM [ARGS...]: runs PROGRAM on $DISPLAY and prints the milliseconds from
// its exec to the first drawing into one of its top-level windows after that window was
// mapped, then ends it. Windows are watched from their creation on (substructure events on
// the root, a damage object per new window), so no frame is missed between polls.
#include <chrono>
#include <cstdio>
#include <set>

#include <X11/Xlib.h>
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

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: first_frame PROGRAM [ARGS...]\n");
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
