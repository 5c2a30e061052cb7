#include "app/app.h"

#include "interaction/interaction.h"
#include "render/render.h"
#include "render/sleep.h"

#if defined(FREEGLUT) && !defined(_WIN32)
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <dlfcn.h>
#include <unistd.h>

// freeglut sets the window's title only. Desktops tie a window to its menu entry and icon by its
// class (the entry's name; kwin 6 by the instance, the entry's StartupWMClass) and process, window
// rules name it by its instance, and kwin 5 reads only its own property naming the entry. Window
// managers read these as they take the window, at its map.
static void nameForDesktops(Display* dpy, Window window)
{
    char instance[] = "helixview", entry[] = "org.helixview.viewer";
    XClassHint hint = {instance, entry};
    XSetClassHint(dpy, window, &hint);
    long pid = getpid();
    XChangeProperty(dpy, window, XInternAtom(dpy, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&pid), 1);
    XChangeProperty(dpy, window, XInternAtom(dpy, "_KDE_NET_WM_DESKTOP_FILE", False),
                    XInternAtom(dpy, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<unsigned char*>(entry), sizeof entry - 1);
}

// freeglut maps the window inside glutCreateWindow and waits there until it is shown, with no call
// of ours in between: named after that, the window would be taken nameless. Its call reaches this
// one first, which names the window in the same request stream just before the map request.
extern "C" int XMapWindow(Display* dpy, Window window)
{
    // Looked up on each call, which comes once: a static would bring in the C++ runtime for its guard.
    auto map = reinterpret_cast<int (*)(Display*, Window)>(dlsym(RTLD_NEXT, "XMapWindow"));
    nameForDesktops(dpy, window);
    return map(dpy, window);
}
#endif

void init()
{
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    // The projection stays current for good: each frame multiplies its turn into it,
    // so this matrix carries the scene's orientation for the whole run.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-100.0, 100.0, -100.0, 100.0, -100.0, 100.0);
}

void startUp(int* argc, char** argv)
{
#ifdef _WIN32
    keepPace();
#endif
    glutInit(argc, argv);
    glutInitDisplayMode(0); // RGBA, single buffer, no depth buffer
    // Set after glutInit, so a -geometry option cannot move or resize the window.
    glutInitWindowSize(500, 500);
    glutInitWindowPosition(0, 0);
    glutCreateWindow("simple");
    glutDisplayFunc(display);
    glutMouseFunc(mouse);
    glEnable(GL_DEPTH_TEST);
    glutIdleFunc(NULL); // still until a button starts a spin
    init();
    // Mesa sizes its buffer for the window when the context is made, and reads the window's size
    // again only after a picture has gone to the window. A tiling window manager resizes the
    // window as it maps it; without this black picture the first frame would be drawn at the old
    // size, and a still viewer draws no second one.
    glClear(GL_COLOR_BUFFER_BIT);
    glFlush();
}
