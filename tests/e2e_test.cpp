// The built viewer on a real X server: its window, its picture, and mouse clicks through xdotool.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// Before Xlib, whose macros (None, Bool) would break it.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace
{

using namespace std::chrono_literals;

struct Picture {
    int width = 0, height = 0;
    std::vector<int> kind; // 0 black, 1 green, 2 red, 3 anything else; row 0 at the top
    bool operator==(const Picture& o) const
    {
        return kind == o.kind;
    }
};

class Viewer : public testing::Test
{
  protected:
    Display* dpy = nullptr;
    pid_t pid = 0;
    Window window = 0;
    std::string output = testing::TempDir() + "helixview-output.txt";

    void SetUp() override
    {
        dpy = XOpenDisplay(nullptr);
        ASSERT_NE(dpy, nullptr) << "cannot open DISPLAY";
    }

    void TearDown() override
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        if (dpy)
            XCloseDisplay(dpy);
    }

    // Start the viewer with its stdout and stderr in one file, and wait for its window.
    void start(std::vector<std::string> args = {})
    {
        args.insert(args.begin(), HELIXVIEW_EXE);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&files, 1, 2);
        ASSERT_EQ(posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&files);
        for (int tries = 0; tries < 100 && !window; tries++) {
            std::this_thread::sleep_for(100ms);
            window = find(DefaultRootWindow(dpy), "simple");
        }
        ASSERT_NE(window, 0u) << "no window titled \"simple\" appeared";
    }

    Window find(Window under, const char* title)
    {
        Window root, parent, *children = nullptr, found = 0;
        unsigned count = 0;
        char* name = nullptr;
        if (XFetchName(dpy, under, &name) && name) {
            bool match = std::string(name) == title;
            XFree(name);
            if (match)
                return under;
        }
        if (!XQueryTree(dpy, under, &root, &parent, &children, &count))
            return 0;
        for (unsigned i = 0; i < count && !found; i++)
            found = find(children[i], title);
        if (children)
            XFree(children);
        return found;
    }

    Picture grab()
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
                int kind = 3;
                if (r < 16 && g < 16 && b < 16)
                    kind = 0;
                else if (g > 128 && r < 64 && b < 64)
                    kind = 1;
                else if (r > 128 && g < 64 && b < 64)
                    kind = 2;
                p.kind.push_back(kind);
            }
        XDestroyImage(image);
        return p;
    }

    // The first picture that has both strands in it and stays put.
    Picture settled()
    {
        Picture last;
        for (int tries = 0; tries < 50; tries++) {
            std::this_thread::sleep_for(100ms);
            Picture now = grab();
            if (count(now, 1) > 0 && count(now, 2) > 0 && now == last)
                return now;
            last = now;
        }
        return last;
    }

    static long count(const Picture& p, int kind)
    {
        long n = 0;
        for (int k : p.kind)
            n += k == kind;
        return n;
    }

    void click(int button)
    {
        std::string command = "xdotool mousemove --sync 250 250 click " + std::to_string(button);
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    void expectPlacedAtTopLeft()
    {
        XWindowAttributes at;
        XGetWindowAttributes(dpy, window, &at);
        int x = -1, y = -1;
        Window child;
        XTranslateCoordinates(dpy, window, DefaultRootWindow(dpy), 0, 0, &x, &y, &child);
        EXPECT_EQ(at.width, 500);
        EXPECT_EQ(at.height, 500);
        EXPECT_EQ(x, 0);
        EXPECT_EQ(y, 0);
    }

    std::string printed()
    {
        std::ifstream in(output);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }
};

} // namespace

TEST_F(Viewer, OpensTheHelixUprightInA500SquareAtTheTopLeft)
{
    start();
    expectPlacedAtTopLeft();
    Picture p = settled();
    ASSERT_EQ(p.width, 500);
    EXPECT_GT(count(p, 1), 1000);
    EXPECT_GT(count(p, 2), 1000);
    EXPECT_EQ(count(p, 0) + count(p, 1) + count(p, 2) + count(p, 3), 500L * 500L);

    // The extent of everything not black, as fractions of the window measured from the bottom left.
    int left = 500, right = -1, bottom = 500, top = -1;
    for (int y = 0; y < 500; y++)
        for (int x = 0; x < 500; x++)
            if (p.kind[y * 500 + x] != 0) {
                left = std::min(left, x);
                right = std::max(right, x);
                bottom = std::min(bottom, 499 - y);
                top = std::max(top, 499 - y);
            }
    // Lines are 5 pixels wide, so the edges lie up to 3 pixels beyond the vertices.
    EXPECT_NEAR(left, 0.325 * 500, 4);
    EXPECT_NEAR(right, 0.675 * 500, 4);
    EXPECT_NEAR(bottom, 0.10 * 500, 4);
    EXPECT_NEAR(top, 0.758 * 500, 4);
    EXPECT_EQ(printed(), "");
}

TEST_F(Viewer, GeometryOptionDoesNotMoveOrResizeTheWindow)
{
    start({"-geometry", "300x200+40+60"});
    expectPlacedAtTopLeft();
}

TEST_F(Viewer, MiddleClickStartsAndStopsTheSpin)
{
    start();
    Picture still = settled();
    click(2);
    std::this_thread::sleep_for(300ms);
    Picture a = grab();
    std::this_thread::sleep_for(300ms);
    Picture b = grab();
    EXPECT_FALSE(a == b) << "the picture did not move after the first click";
    EXPECT_FALSE(a == still);

    click(2);
    Picture stopped = settled();
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(stopped == grab()) << "the picture still moves after the second click";
    EXPECT_FALSE(stopped == still);
    EXPECT_EQ(printed(), "");
}
