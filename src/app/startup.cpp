#include "app/app.h"

#include "interaction/interaction.h"
#include "render/render.h"
#include "render/sleep.h"

#if defined(FREEGLUT) && !defined(_WIN32)
#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <unistd.h>

// freeglut names the window's title only. Desktops tie a window to its menu entry and icon by its
// class (the entry's name, org.helixview.viewer), and window rules name it by its instance. freeglut
// maps the window and waits for it to be shown inside glutCreateWindow, so these come right after
// the window manager took the window: each one reads them again when they change.
static void nameForDesktops()
{
    Display* dpy = glXGetCurrentDisplay();
    Window window = glXGetCurrentDrawable();
    char instance[] = "helixview", windowClass[] = "org.helixview.viewer";
    XClassHint hint = {instance, windowClass};
    XSetClassHint(dpy, window, &hint);
    long pid = getpid();
    XChangeProperty(dpy, window, XInternAtom(dpy, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&pid), 1);
    XFlush(dpy);
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
#if defined(FREEGLUT) && !defined(_WIN32)
    nameForDesktops();
#endif
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
