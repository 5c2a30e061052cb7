// A test program that first brings the viewer up exactly as the real one starts, then runs its tests.
#include "gl_test.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include "app/app.h"

#include <GL/glx.h>
#include <dlfcn.h>
#include <link.h>

Matrix projection()
{
    GLfloat m[16];
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    Matrix out;
    for (int i = 0; i < 16; i++)
        out[i] = m[i];
    return out;
}

Matrix startUpBox()
{
    // GL keeps the matrix in single precision.
    const double s = 0.01f;
    return {s, 0, 0, 0, 0, s, 0, 0, 0, 0, -s, 0, 0, 0, 0, 1};
}

Matrix multiply(const Matrix& a, const Matrix& b)
{
    Matrix out{};
    for (int col = 0; col < 4; col++)
        for (int row = 0; row < 4; row++)
            for (int k = 0; k < 4; k++)
                out[col * 4 + row] += a[k * 4 + row] * b[col * 4 + k];
    return out;
}

Matrix rotation(double degrees, double x, double y, double z)
{
    double a = degrees * std::acos(-1.0) / 180.0, c = std::cos(a), s = std::sin(a), t = 1 - c;
    return {t * x * x + c,
            t * x * y + s * z,
            t * x * z - s * y,
            0, //
            t * x * y - s * z,
            t * y * y + c,
            t * y * z + s * x,
            0, //
            t * x * z + s * y,
            t * y * z - s * x,
            t * z * z + c,
            0, //
            0,
            0,
            0,
            1};
}

double distance(const Matrix& a, const Matrix& b)
{
    double worst = 0;
    for (int i = 0; i < 16; i++)
        worst = std::fmax(worst, std::fabs(a[i] - b[i]));
    return worst;
}

std::array<unsigned char, 3> pixel(int x, int y)
{
    std::array<unsigned char, 3> rgb{};
    glReadBuffer(GL_FRONT);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    return rgb;
}

Strands helix()
{
    glPushAttrib(GL_VIEWPORT_BIT);
    glViewport(0, 0, 500, 500);
    glDepthRange(0.0, 1.0);
    glPushMatrix();
    glLoadMatrixd(startUpBox().data());
    std::vector<GLfloat> buffer(20000);
    glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_3D_COLOR, buffer.data());
    glRenderMode(GL_FEEDBACK);
    RenderScene();
    GLint used = glRenderMode(GL_RENDER);
    glPopMatrix();
    glPopAttrib();

    // Each strip comes back as separate segments; join them into one polyline per colour, and
    // take window coordinates back to scene units through the box and the 500-pixel viewport.
    Strands strands;
    const int stride = 7; // x, y, z, r, g, b, a
    auto scene = [](const GLfloat* v) {
        return Vertex{v[0] / 2.5 - 100.0, v[1] / 2.5 - 100.0, -100.0 * (2.0 * v[2] - 1.0)};
    };
    for (GLint i = 0; i < used;) {
        GLint token = static_cast<GLint>(buffer[i++]);
        EXPECT_TRUE(token == GL_LINE_TOKEN || token == GL_LINE_RESET_TOKEN) << "token " << token;
        const GLfloat* start = &buffer[i];
        std::vector<Vertex>& strand = start[4] > 0.5f ? strands.green : strands.red;
        if (strand.empty())
            strand.push_back(scene(start));
        strand.push_back(scene(start + stride));
        i += 2 * stride;
    }
    return strands;
}

void paint(float r, float g, float b)
{
    glClearColor(r, g, b, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glFlush();
}

// freeglut destroys the window before its context, at exit or when its event loop returns, and Mesa
// would then flush what is left into a window that is gone (an X error). Flush it while the
// window is still there.
static void letGoOfContext()
{
    glXMakeCurrent(glXGetCurrentDisplay(), None, nullptr);
}

// Some platforms grant a depth buffer that the viewer does not ask for (Windows' drivers do). With
// HELIXVIEW_TEST_DEPTH set, the window is opened as there: the viewer's own request, plus depth.
void glutInitDisplayMode(unsigned int mode)
{
    using Real = void (*)(unsigned int);
    auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "glutInitDisplayMode"));
    real(std::getenv("HELIXVIEW_TEST_DEPTH") ? mode | GLUT_DEPTH : mode);
}

static int keepLoaded(dl_phdr_info* library, size_t, void*)
{
    if (library->dlpi_name[0] != '\0')
        dlopen(library->dlpi_name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
    return 0;
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "No DISPLAY: these tests need an X server (./scripts/test.sh starts one).\n");
        return 1;
    }
    startUp(&argc, argv);
    glutCloseFunc(letGoOfContext);
    GLint depthBits = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depthBits);
    if (std::getenv("HELIXVIEW_TEST_DEPTH") && depthBits == 0) {
        std::fprintf(stderr, "HELIXVIEW_TEST_DEPTH is set, but the window has no depth buffer.\n");
        return 1;
    }
    // Let the window map and draw its first frame before any test looks at it.
    for (int i = 0; i < 10; i++)
        glutMainLoopEvent();
    // Keep every library loaded to the end. LeakSanitizer looks for leaks at exit, and a leak of
    // the GL driver, unloaded by then, would carry no library name to tell it from ours.
    dl_iterate_phdr(keepLoaded, nullptr);
    return RUN_ALL_TESTS();
}
