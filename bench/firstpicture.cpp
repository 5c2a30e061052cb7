// Start-up time as a user sees it: from exec to the first complete picture in the program's window.
// Usage: firstpicture TITLE COMMAND [ARGS...]. Prints the milliseconds and stops the program; what
// the program itself prints is dropped.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>

#include "picture.h"

extern char** environ;

using Clock = std::chrono::steady_clock;

// Whether the window shows a complete picture: both strands of the helix, or glxgears' red and
// green gears, as the end-to-end tests count them.
static bool complete(Display* dpy, Window window)
{
    XWindowAttributes at;
    XGetWindowAttributes(dpy, window, &at);
    XImage* image = XGetImage(dpy, window, 0, 0, at.width, at.height, AllPlanes, ZPixmap);
    if (!image)
        return false;
    Picture p;
    p.width = at.width;
    p.height = at.height;
    for (int y = 0; y < at.height; y++)
        for (int x = 0; x < at.width; x++) {
            unsigned long v = XGetPixel(image, x, y);
            p.kind.push_back(kindOf((v & image->red_mask) * 255 / image->red_mask,
                                    (v & image->green_mask) * 255 / image->green_mask,
                                    (v & image->blue_mask) * 255 / image->blue_mask));
        }
    XDestroyImage(image);
    return count(p, greenPixel) > strandPixels && count(p, redPixel) > strandPixels;
}

// The first top-level window with this title to be mapped, or 0 when none comes before the deadline.
static Window mapped(Display* dpy, const char* title, Clock::time_point deadline)
{
    pollfd connection{ConnectionNumber(dpy), POLLIN, 0};
    while (Clock::now() < deadline) {
        if (!XPending(dpy)) {
            poll(&connection, 1, 100);
            continue;
        }
        XEvent e;
        XNextEvent(dpy, &e);
        char* name = nullptr;
        if (e.type != MapNotify || !XFetchName(dpy, e.xmap.window, &name) || !name)
            continue;
        bool match = std::strcmp(name, title) == 0;
        XFree(name);
        if (match)
            return e.xmap.window;
    }
    return 0;
}

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: firstpicture TITLE COMMAND [ARGS...]\n");
        return 2;
    }
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "firstpicture: cannot open the display\n");
        return 1;
    }
    XSelectInput(dpy, DefaultRootWindow(dpy), SubstructureNotifyMask);
    XSync(dpy, False);

    Clock::time_point start = Clock::now(), deadline = start + std::chrono::seconds(20);
    pid_t pid;
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&quiet, 1, 2);
    if (posix_spawnp(&pid, argv[2], &quiet, nullptr, argv + 2, environ) != 0) {
        std::fprintf(stderr, "firstpicture: cannot run %s\n", argv[2]);
        return 1;
    }
    Window window = mapped(dpy, argv[1], deadline);
    bool shown = false;
    while (window && !shown && Clock::now() < deadline)
        shown = complete(dpy, window);
    Clock::time_point end = Clock::now();
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    XCloseDisplay(dpy);
    if (!shown) {
        std::fprintf(stderr, "firstpicture: no picture in a window titled \"%s\" within 20 s\n", argv[1]);
        return 1;
    }
    std::printf("%.1f\n", std::chrono::duration<double, std::milli>(end - start).count());
    return 0;
}
