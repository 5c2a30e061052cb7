// The built viewer on a real X server, driven from outside like a user would: its window, its
// picture, mouse clicks through xdotool, and how its process ends. Every wait is for what the X
// server or the kernel reports (the window's creation, map and place, each frame's damage, the
// process's end); a limit in time only fails, and says what it awaited and what came.
#ifndef HELIXVIEW_VIEWER_H
#define HELIXVIEW_VIEWER_H

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// Before Xlib, whose macros (None, Bool) would break it.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <sys/types.h>

#include "picture.h"

class Viewer : public testing::Test
{
  protected:
    using Clock = std::chrono::steady_clock;

    Display* dpy = nullptr;
    pid_t pid = 0;
    int pidfd = -1;    // readable once the process has ended
    bool gone = false; // and so it was
    Window window = 0;
    bool destroyed = false;
    std::string output = tempFile("output.txt");

    // What the server has said of the window: each DamageNotify is a frame that landed.
    Damage damage = 0;
    int damageEvent = 0;
    long frames = 0;
    Clock::time_point lastFrame;
    int width = 0, height = 0;
    // The frame count when the window last changed size; -1 while it has the size it was shown at.
    long resizedAt = -1;
    // The frame count when the last click had been taken by the server.
    long clickedAt = 0;

    // A file of this test program's own in the temporary folder, apart from other test runs.
    static std::string tempFile(const std::string& name);

    void SetUp() override;
    void TearDown() override;

    // How many times slower than a plain build on a quiet machine this run may be:
    // HELIXVIEW_SLOWNESS, which valgrind's, the sanitizers' and qemu's runs set. Every limit is
    // its plain figure times this.
    static int slowness();
    static std::chrono::milliseconds limit(std::chrono::milliseconds plain);

    // Wait for the next X event or the process's end, at most until the deadline.
    void pump(Clock::time_point deadline);
    void handle(XEvent& e);
    // Wait until done() is true, checked after each event; false at the deadline.
    bool until(const std::function<bool()>& done, Clock::time_point deadline);
    // The same within limit(plain), a failure of the test if it never comes.
    bool await(const std::string& what, const std::function<bool()>& done, std::chrono::milliseconds plain);
    // What has arrived so far, for a failure's message.
    std::string arrived();
    // A failed wait's message: what it awaited for limit(plain), and what arrived.
    std::string waited(const std::string& what, std::chrono::milliseconds plain);

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
    void waitForWindow();
    Window find(Window under, const char* title);

    // The window's pixels now; no pixels while the window cannot be read (a window manager
    // reparenting it).
    Picture grab();
    // The picture of the first frame drawn at the window's present size with both strands in it.
    // A still viewer draws that same picture until something changes.
    Picture settled();
    // Frames keep landing and each of three pictures differs from the one before.
    bool spinning();
    // The last click has been answered with a frame and no frame has come since for a stated
    // time, in which a spin would have drawn several.
    bool still();
    // The helix drawn in the -100..100 box stretched over the whole picture.
    static void expectHelixFills(const Picture& p);

    // Click a button at the window's centre; HELIXVIEW_MOUSE_DISPLAY names the X display whose
    // pointer is the mouse (the one a nested compositor runs in).
    void click(int button);
    // Ask the window to close, as a window manager does for its close button, or run HELIXVIEW_CLOSE,
    // the command with which a compositor closes it.
    void requestClose();
    // The wait status once the process has ended, or -1 if it is still running after the limit.
    int ended(std::chrono::milliseconds within);
    // 500 x 500 at 0,0, or as HELIXVIEW_FRAMED says: "title" below a window manager's title bar,
    // any other value (sway's floating window, "wine" for wine's own frame) anywhere.
    void expectPlacedAtTopLeft();
    static std::string framing();
    // WM_CLASS and _NET_WM_PID, by which desktops tie the window to its menu entry and process.
    void expectNamedForDesktops();
    std::string printed();
};

#endif
