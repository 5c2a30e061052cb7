// helixview: a green and a red double helix on black. The left, middle and right mouse
// buttons switch a spin about the model's X, Y and Z axes on and off; spins combine.
#include "app/app.h"
#include "render/render.h"

#if defined(FREEGLUT) && !defined(_WIN32)
#include <GL/freeglut.h>
#include <GL/glx.h>
#include <unistd.h>

// The window is being closed. freeglut on X would now make the context current again and destroy
// it after its window, and Mesa then flushes it into freed memory as the display closes (an X
// error, or a crash). Let go of the context while the window is still there and end here: the
// X server frees the window and the context with the connection.
static void closed()
{
    glXMakeCurrent(glXGetCurrentDisplay(), None, NULL);
    _exit(0);
}
#endif

int main(int argc, char** argv)
{
    startUp(&argc, argv);
#if defined(FREEGLUT) && !defined(_WIN32)
    glutCloseFunc(closed);
#endif
    glutMainLoop();
    return 0;
}
