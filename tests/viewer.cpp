#include "viewer.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

// The same number on every architecture; glibc before 2.31's headers may not name it.
#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif

extern char** environ;

using namespace std::chrono_literals;

std::string Viewer::tempFile(const std::string& name)
{
    return testing::TempDir() + "helixview-" + std::to_string(getpid()) + "-" + name;
}

namespace
{

// An X error does not end the test program: a read of a window that a window manager is
// reparenting is refused (BadMatch) and means "not yet", and a window that a find looked at may be
// gone (BadWindow) before the next request reaches it. The call that failed says so itself.
int keepError(Display*, XErrorEvent*)
{
    return 0;
}

} // namespace

void Viewer::SetUp()
{
    dpy = XOpenDisplay(nullptr);
    ASSERT_NE(dpy, nullptr) << "cannot open DISPLAY";
    XSetErrorHandler(keepError);
    int damageError = 0;
    ASSERT_TRUE(XDamageQueryExtension(dpy, &damageEvent, &damageError))
        << "the X server has no DAMAGE extension";
    // Before anything starts, so that no window's creation, map or the window manager's arrival
    // is missed.
    XSelectInput(dpy, DefaultRootWindow(dpy), SubstructureNotifyMask | PropertyChangeMask);
    XSync(dpy, False);
}

void Viewer::TearDown()
{
    stop();
    if (dpy)
        XCloseDisplay(dpy);
}

int Viewer::slowness()
{
    const char* factor = std::getenv("HELIXVIEW_SLOWNESS");
    return factor && std::atoi(factor) > 0 ? std::atoi(factor) : 1;
}

std::chrono::milliseconds Viewer::limit(std::chrono::milliseconds plain)
{
    return plain * slowness();
}

void Viewer::pump(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || XPending(dpy))
        return;
    pollfd fds[2] = {{ConnectionNumber(dpy), POLLIN, 0}, {pidfd, POLLIN, 0}};
    poll(fds, pidfd >= 0 ? 2 : 1, static_cast<int>(std::min<long long>(left, 60000)));
    gone = gone || (fds[1].revents & POLLIN);
}

void Viewer::handle(XEvent& e)
{
    if (window && e.type == damageEvent + XDamageNotify &&
        reinterpret_cast<XDamageNotifyEvent&>(e).damage == damage) {
        // Emptied, so that the next drawing reports again.
        XDamageSubtract(dpy, damage, 0, 0);
        frames++;
        lastFrame = Clock::now();
    } else if (window && e.type == ConfigureNotify && e.xconfigure.window == window &&
               (e.xconfigure.width != width || e.xconfigure.height != height)) {
        width = e.xconfigure.width;
        height = e.xconfigure.height;
        resizedAt = frames;
    } else if (window && e.type == DestroyNotify && e.xdestroywindow.window == window) {
        destroyed = true;
    }
}

bool Viewer::until(const std::function<bool()>& done, Clock::time_point deadline)
{
    // Whatever the requests made so far caused is in before the first look.
    XSync(dpy, False);
    for (;;) {
        while (XPending(dpy)) {
            XEvent e;
            XNextEvent(dpy, &e);
            handle(e);
        }
        if (done())
            return true;
        // The deadline holds however fast events come; a viewer that has ended draws nothing
        // more.
        if (Clock::now() >= deadline || gone)
            return false;
        pump(deadline);
    }
}

bool Viewer::await(const std::string& what, const std::function<bool()>& done,
                   std::chrono::milliseconds plain)
{
    if (until(done, Clock::now() + limit(plain)))
        return true;
    ADD_FAILURE() << waited(what, plain);
    return false;
}

std::string Viewer::waited(const std::string& what, std::chrono::milliseconds plain)
{
    std::ostringstream message;
    message << "waited " << limit(plain).count() / 1000.0 << " s for " << what << "; " << arrived();
    return message.str();
}

std::string Viewer::arrived()
{
    std::ostringstream said;
    if (!window) {
        said << "no window titled \"simple\"";
    } else {
        XWindowAttributes at{};
        XGetWindowAttributes(dpy, window, &at);
        said << "window " << window << " " << at.width << " x " << at.height
             << (at.map_state == IsViewable ? ", shown" : ", not shown") << ", " << frames << " frames";
        if (frames > 0)
            said << ", the last "
                 << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastFrame).count()
                 << " ms ago";
    }
    // Left for ended() to collect.
    siginfo_t info{};
    if (pid > 0 && waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid)
        said << "; the viewer ended " << (info.si_code == CLD_EXITED ? "with status " : "by signal ")
             << info.si_status;
    std::string text = printed();
    if (!text.empty())
        said << "; it printed: " << text;
    return said.str();
}

pid_t Viewer::launch(std::vector<std::string> command, const std::string& log)
{
    std::vector<char*> argv;
    for (std::string& a : command)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&files, 1, 2);
    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], &files, nullptr, argv.data(), environ) != 0)
        child = 0;
    posix_spawn_file_actions_destroy(&files);
    return child;
}

void Viewer::spawn(std::vector<std::string> command)
{
    pid = launch(command, output);
    ASSERT_NE(pid, 0) << "cannot run " << command[0];
    pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    ASSERT_GE(pidfd, 0) << "pidfd_open: " << std::strerror(errno) << " (Linux 5.3 or later is needed)";
}

void Viewer::end(pid_t child)
{
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
}

void Viewer::stop()
{
    if (pid > 0)
        end(pid);
    if (pidfd >= 0)
        close(pidfd);
    pid = 0;
    pidfd = -1;
    gone = false;
    // The server destroys the window once it has seen the viewer's connection close, which can
    // be after the process's end: a next viewer's window is not to be taken for this one.
    if (window)
        until([&] { return destroyed; }, Clock::now() + limit(30s));
    // The server frees the window's damage with the window.
    window = 0;
    destroyed = false;
    damage = 0;
    frames = 0;
    resizedAt = -1;
    clickedAt = 0;
}

std::vector<std::string> Viewer::viewerCommand()
{
    const char* command = std::getenv("HELIXVIEW_COMMAND");
    if (!command || !*command)
        return {HELIXVIEW_EXE};
    std::vector<std::string> words;
    std::istringstream in(command);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

void Viewer::start(std::vector<std::string> args)
{
    std::vector<std::string> command = viewerCommand();
    command.insert(command.end(), args.begin(), args.end());
    spawn(command);
    waitForWindow();
}

void Viewer::waitForWindow()
{
    // Each window's creation, map and reparenting under the root is an event here; the title
    // comes with the window before it is mapped. Reading the pixels of an unmapped window is an
    // X error.
    XWindowAttributes at{};
    await(
        "a window titled \"simple\" to be shown",
        [&] {
            if (!window && (window = find(DefaultRootWindow(dpy), "simple"))) {
                // Its frames, and its own map and size, from now on; a frame drawn before is on
                // screen already, and a look at the window finds it.
                XSelectInput(dpy, window, StructureNotifyMask | PropertyChangeMask);
                damage = XDamageCreate(dpy, window, XDamageReportNonEmpty);
            }
            if (!window || !XGetWindowAttributes(dpy, window, &at))
                return false;
            width = at.width;
            height = at.height;
            return at.map_state == IsViewable;
        },
        30s);
}

Window Viewer::find(Window under, const char* title)
{
    Window root, parent, *children = nullptr, found = 0;
    unsigned count = 0;
    // The deepest window of that name: a compositor's frame around the viewer's window may carry
    // the name too (mutter 48's).
    if (XQueryTree(dpy, under, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && !found; i++)
            found = find(children[i], title);
        if (children)
            XFree(children);
    }
    char* name = nullptr;
    if (!found && XFetchName(dpy, under, &name) && name) {
        if (std::string(name) == title)
            found = under;
        XFree(name);
    }
    return found;
}

Picture Viewer::grab()
{
    XWindowAttributes at{};
    Picture p;
    if (!XGetWindowAttributes(dpy, window, &at))
        return p;
    // Refused (BadMatch, in the error handler) while the window is not viewable.
    XImage* image = XGetImage(dpy, window, 0, 0, at.width, at.height, AllPlanes, ZPixmap);
    if (!image)
        return p;
    p.width = at.width;
    p.height = at.height;
    for (int y = 0; y < at.height; y++)
        for (int x = 0; x < at.width; x++) {
            unsigned long v = XGetPixel(image, x, y);
            int r = (v & image->red_mask) * 255 / image->red_mask;
            int g = (v & image->green_mask) * 255 / image->green_mask;
            int b = (v & image->blue_mask) * 255 / image->blue_mask;
            p.kind.push_back(kindOf(r, g, b));
        }
    XDestroyImage(image);
    return p;
}

Picture Viewer::settled()
{
    // The window as it stands first, as its frame may have landed before its damage was asked
    // for; after a change of size, only a frame that came later. Start-up's first picture is all
    // black, and Mesa's first frame under qemu on a busy machine can take many seconds.
    Picture p;
    long looked = -2;
    await(
        "a frame at the window's size with both strands in it",
        [&] {
            if (frames == looked || frames <= resizedAt)
                return false;
            p = grab();
            // Unreadable, while a window manager reparents it: again at its next event.
            if (p.width == 0)
                return false;
            looked = frames;
            return p.width == width && p.height == height && count(p, greenPixel) > 0 &&
                   count(p, redPixel) > 0;
        },
        30s);
    return p;
}

bool Viewer::spinning()
{
    Picture last = grab();
    long looked = frames;
    int changes = 0;
    return await(
        "three frames, each with a new picture",
        [&] {
            if (frames == looked)
                return false;
            looked = frames;
            Picture now = grab();
            if (now.width == 0)
                return false;
            changes += !(now == last);
            last = now;
            return changes >= 3;
        },
        30s);
}

bool Viewer::still()
{
    // The click's answer is a frame: its release redraws. A spin lands a frame every 70 ms or so,
    // and a slow platform's every few hundred: half a second without one, scaled for them, is
    // still. Frames that keep coming for the whole limit are a spin.
    auto quiet = limit(500ms);
    if (!await(
            "the frame that answers the click", [&] { return frames > clickedAt; }, 30s))
        return false;
    auto deadline = Clock::now() + limit(30s);
    while (Clock::now() - lastFrame < quiet) {
        if (Clock::now() >= deadline || gone) {
            ADD_FAILURE() << waited(
                std::to_string(quiet.count()) + " ms without a frame after the click's answer", 30s);
            return false;
        }
        until([] { return false; }, std::min(lastFrame + quiet, deadline));
    }
    return true;
}

void Viewer::expectHelixFills(const Picture& p)
{
    Extent e = extent(p);
    EXPECT_NEAR(e.left, helixLeft * p.width, helixTolerance);
    EXPECT_NEAR(e.right, helixRight * p.width, helixTolerance);
    EXPECT_NEAR(e.bottom, helixBottom * p.height, helixTolerance);
    EXPECT_NEAR(e.top, helixTop * p.height, helixTolerance);
}

void Viewer::click(int button)
{
    // The window's centre on the root, wherever a window manager or compositor put the window.
    XWindowAttributes at{};
    XGetWindowAttributes(dpy, window, &at);
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(dpy, window, DefaultRootWindow(dpy), at.width / 2, at.height / 2, &x, &y, &child);
    // No --sync: xdotool then waits for a move that never comes when the pointer is there already.
    // The server takes the moves and the click in order anyway. Two moves, so that the pointer
    // really moves onto the window as a hand's would: a compositor may leave a pointer that stood
    // still while the window appeared under it without a window to send the click to.
    std::string xdotool = "xdotool", move = " mousemove " + std::to_string(x) + " " + std::to_string(y - 1) +
                                            " mousemove " + std::to_string(x) + " " + std::to_string(y);
    // The mouse of a nested compositor is the pointer of the X display it runs in.
    const char* mouse = std::getenv("HELIXVIEW_MOUSE_DISPLAY");
    if (mouse) {
        xdotool = "DISPLAY=" + std::string(mouse) + " xdotool";
        // A compositor sends the pointer to a window only once it has taken the window's surface
        // (its first frame, some time after the map), and a click before that goes nowhere; no
        // event says when (Xwayland's crossing and motion events did not come under mutter).
        // Xwayland's pointer does: once it stands where it was moved to, the compositor sends the
        // pointer to the window. The spot is one where it does not stand already, and the move is
        // repeated, which does no harm, until it is there.
        auto pointer = [&] {
            Window root, under;
            int rootX, rootY, at_x = -1, at_y = -1;
            unsigned buttons;
            XQueryPointer(dpy, window, &root, &under, &rootX, &rootY, &at_x, &at_y, &buttons);
            return std::make_pair(at_x, at_y);
        };
        auto spot = std::make_pair(at.width / 2, at.height / 2 - 1);
        int shift = pointer() == spot ? 2 : 1;
        spot.second = at.height / 2 - shift;
        std::string toSpot = " mousemove " + std::to_string(x) + " " + std::to_string(y - shift);
        for (auto deadline = Clock::now() + limit(30s); pointer() != spot;) {
            ASSERT_LT(Clock::now(), deadline) << waited("the pointer to reach the window", 30s);
            ASSERT_EQ(std::system((xdotool + toSpot).c_str()), 0) << xdotool << toSpot;
            until([&] { return pointer() == spot; }, std::min(Clock::now() + 100ms, deadline));
        }
        move = " mousemove " + std::to_string(x) + " " + std::to_string(y);
    }
    // The frames that landed before the click are counted before it. xdotool's end is the
    // server's taking of the click: it waits for the server's answer to all it sent.
    until([] { return true; }, Clock::now());
    clickedAt = frames;
    std::string command = xdotool + move + " click " + std::to_string(button);
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

void Viewer::requestClose()
{
    // A compositor closes the window its own way, through the command given here.
    if (const char* close = std::getenv("HELIXVIEW_CLOSE")) {
        ASSERT_EQ(std::system(close), 0) << close;
        return;
    }
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy, window, False, NoEventMask, &e);
    XFlush(dpy);
}

int Viewer::ended(std::chrono::milliseconds within)
{
    // The process's pidfd wakes the wait when it ends.
    int status = 0;
    bool done =
        until([&] { return pid > 0 && waitpid(pid, &status, WNOHANG) == pid; }, Clock::now() + within);
    if (!done)
        return -1;
    pid = 0;
    return status;
}

void Viewer::expectPlacedAtTopLeft()
{
    XWindowAttributes at;
    XGetWindowAttributes(dpy, window, &at);
    int x = -1, y = -1;
    Window child;
    XTranslateCoordinates(dpy, window, DefaultRootWindow(dpy), 0, 0, &x, &y, &child);
    EXPECT_EQ(at.width, 500);
    EXPECT_EQ(at.height, 500);
    const std::string framed = framing();
    if (framed == "title") {
        // A window manager's frame at the top left: a border of at most 2 pixels, a title bar above.
        // kwin may show the window before it places it (at 0,0 first, when slow at its first start
        // or under load): the place is waited for.
        // Its frame's moves on the root, and the window's reparenting, are the events.
        auto below = [&] {
            XTranslateCoordinates(dpy, window, DefaultRootWindow(dpy), 0, 0, &x, &y, &child);
            return x >= 0 && x <= 2 && y >= 16 && y <= 48;
        };
        EXPECT_TRUE(await("the window below a title bar at the top left", below, 30s))
            << "the window is at " << x << "," << y;
        return;
    }
    // Where the program draws a frame of its own around the window (Windows' under wine), the
    // frame is what sits at the top left; sway places floating windows where it likes.
    if (!framed.empty())
        return;
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
}

std::string Viewer::framing()
{
    const char* framed = std::getenv("HELIXVIEW_FRAMED");
    return framed ? framed : "";
}

void Viewer::expectNamedForDesktops()
{
    // wine names the Windows program's window after the .exe.
    if (framing() == "wine")
        return;
    XClassHint hint{};
    ASSERT_TRUE(XGetClassHint(dpy, window, &hint)) << "the window has no WM_CLASS";
    EXPECT_STREQ(hint.res_name, "helixview");
    EXPECT_STREQ(hint.res_class, "org.helixview.viewer");
    XFree(hint.res_name);
    XFree(hint.res_class);
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, left = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(dpy, window, XInternAtom(dpy, "_NET_WM_PID", False), 0, 1, False, XA_CARDINAL, &type,
                       &format, &items, &left, &data);
    ASSERT_EQ(items, 1u) << "the window has no _NET_WM_PID";
    // qemu-user runs the program in the very process that was started.
    EXPECT_EQ(*reinterpret_cast<long*>(data), pid);
    XFree(data);
}

std::string Viewer::printed()
{
    std::ifstream in(output);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}
