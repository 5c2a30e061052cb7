#include "viewer.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace std::chrono_literals;

std::string Viewer::tempFile(const std::string& name)
{
    return testing::TempDir() + "helixview-" + std::to_string(getpid()) + "-" + name;
}

void Viewer::SetUp()
{
    dpy = XOpenDisplay(nullptr);
    ASSERT_NE(dpy, nullptr) << "cannot open DISPLAY";
}

void Viewer::TearDown()
{
    stop();
    if (dpy)
        XCloseDisplay(dpy);
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
    pid = 0;
    window = 0;
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

void Viewer::waitForWindow(std::chrono::seconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!window && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
        window = find(DefaultRootWindow(dpy), "simple");
    }
    ASSERT_NE(window, 0u) << "no window titled \"simple\" appeared";
    // The title comes with the window before it is mapped; reading the pixels of an unmapped
    // window is an X error that ends the test program.
    XWindowAttributes at{};
    while (XGetWindowAttributes(dpy, window, &at) && at.map_state != IsViewable &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    ASSERT_EQ(at.map_state, IsViewable) << "the window titled \"simple\" was never shown";
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
    XWindowAttributes at;
    XGetWindowAttributes(dpy, window, &at);
    Picture p;
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
    // Up to 20 s: under qemu on a busy machine, Mesa's first frame alone can take more than 5 s.
    Picture last;
    for (int tries = 0; tries < 200; tries++) {
        std::this_thread::sleep_for(100ms);
        Picture now = grab();
        if (count(now, greenPixel) > 0 && count(now, redPixel) > 0 && now == last)
            return now;
        last = now;
    }
    return last;
}

bool Viewer::moving()
{
    // A spin shows within a frame, 70 ms; under memcheck, ASan or qemu on a busy machine one frame
    // can take longer than that many times over. Up to 3 s, which a still viewer waits out.
    Picture before = grab();
    for (int tries = 0; tries < 30; tries++) {
        std::this_thread::sleep_for(100ms);
        if (!(grab() == before))
            return true;
    }
    return false;
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
    std::string command = "xdotool mousemove " + std::to_string(x) + " " + std::to_string(y - 1) +
                          " mousemove " + std::to_string(x) + " " + std::to_string(y) + " click " +
                          std::to_string(button);
    // The mouse of a nested compositor is the pointer of the X display it runs in.
    if (const char* mouse = std::getenv("HELIXVIEW_MOUSE_DISPLAY"))
        command = "DISPLAY=" + std::string(mouse) + " " + command;
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

int Viewer::ended(std::chrono::seconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    pid_t done;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0) {
        if (std::chrono::steady_clock::now() > deadline)
            return -1;
        std::this_thread::sleep_for(20ms);
    }
    if (done != pid)
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
        // or under load): the place is waited for, up to 10 s.
        auto below = [&] { return x >= 0 && x <= 2 && y >= 16 && y <= 48; };
        for (auto deadline = std::chrono::steady_clock::now() + 10s;
             !below() && std::chrono::steady_clock::now() < deadline;) {
            std::this_thread::sleep_for(50ms);
            XTranslateCoordinates(dpy, window, DefaultRootWindow(dpy), 0, 0, &x, &y, &child);
        }
        EXPECT_TRUE(below()) << "the window is at " << x << "," << y;
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
