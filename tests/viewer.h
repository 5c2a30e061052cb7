// The built viewer on a real X server, driven from outside like a user would: its window, its
// picture, mouse clicks through xdotool, and how its process ends.
#ifndef HELIXVIEW_VIEWER_H
#define HELIXVIEW_VIEWER_H

#include <chrono>
#include <string>
#include <vector>

// Before Xlib, whose macros (None, Bool) would break it.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <sys/types.h>

#include "picture.h"

class Viewer : public testing::Test
{
  protected:
    Display* dpy = nullptr;
    pid_t pid = 0;
    Window window = 0;
    std::string output = tempFile("output.txt");

    // A file of this test program's own in the temporary folder, apart from other test runs.
    static std::string tempFile(const std::string& name);

    void SetUp() override;
    void TearDown() override;

    // Start a command found on PATH with its stdout and stderr in one file; 0 if it cannot run.
    static pid_t launch(std::vector<std::string> command, const std::string& log);
    // Start the command under test, its output going to `output`.
    void spawn(std::vector<std::string> command);
    // End a command that launch started, and wait for it.
    static void end(pid_t child);
    // End the command under test and forget its window.
    void stop();
    // The command that starts the viewer: HELIXVIEW_COMMAND split on spaces (for instance
    // "wine build-windows/helixview/helixview.exe"), or else the executable built with the tests.
    static std::vector<std::string> viewerCommand();
    // Start the viewer with these arguments and wait for its window.
    void start(std::vector<std::string> args = {});
    void waitForWindow(std::chrono::seconds limit = std::chrono::seconds(10));
    Window find(Window under, const char* title);

    Picture grab();
    // The first picture that has both strands in it and stays put.
    Picture settled();
    // Whether the picture changes within a few frames, however slow they are.
    bool moving();
    // The helix drawn in the -100..100 box stretched over the whole picture.
    static void expectHelixFills(const Picture& p);

    // Click a button at the window's centre; HELIXVIEW_MOUSE_DISPLAY names the X display whose
    // pointer is the mouse (the one a nested compositor runs in).
    void click(int button);
    // Ask the window to close, as a window manager does for its close button, or run HELIXVIEW_CLOSE,
    // the command with which a compositor closes it.
    void requestClose();
    // The wait status once the process has ended, or -1 if it is still running after the limit.
    int ended(std::chrono::seconds limit);
    // 500 x 500 at 0,0, or as HELIXVIEW_FRAMED says: "title" below a window manager's title bar,
    // any other value (sway's floating window, "wine" for wine's own frame) anywhere.
    void expectPlacedAtTopLeft();
    static std::string framing();
    // WM_CLASS and _NET_WM_PID, by which desktops tie the window to its menu entry and process.
    void expectNamedForDesktops();
    std::string printed();
};

#endif
