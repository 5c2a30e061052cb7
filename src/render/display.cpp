// The frame: the orientation accumulates in the projection matrix, one step per frame.
#include <cmath>

#include "render/render.h"
#include "render/sleep.h"

GLfloat theta[3] = {0.0f, 0.0f, 0.0f};

// Scales of the -100..100 viewing box along each row of the projection (z is flipped).
static const double boxScale[3] = {1.0 / 100.0, 1.0 / 100.0, -1.0 / 100.0};

static double dot(const double a[3], const double b[3])
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

static void normalise(double v[3])
{
    double length = std::sqrt(dot(v, v));
    for (int i = 0; i < 3; i++)
        v[i] /= length;
}

// Single-precision products drift: over days of spinning the model would grow and shear.
// Factor the box out of the matrix, make its rotation orthonormal again and put the box back.
static void restoreRotation()
{
    GLfloat m[16];
    double r[3][3];
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    for (int row = 0; row < 3; row++)
        for (int col = 0; col < 3; col++)
            r[row][col] = m[col * 4 + row] / boxScale[row];

    // Share the error between the first two rows, so neither axis is favoured, and rebuild the third.
    double error = dot(r[0], r[1]);
    double first[3], second[3];
    for (int i = 0; i < 3; i++) {
        first[i] = r[0][i] - 0.5 * error * r[1][i];
        second[i] = r[1][i] - 0.5 * error * r[0][i];
    }
    normalise(first);
    normalise(second);
    for (int i = 0; i < 3; i++) {
        r[0][i] = first[i];
        r[1][i] = second[i];
    }
    r[2][0] = first[1] * second[2] - first[2] * second[1];
    r[2][1] = first[2] * second[0] - first[0] * second[2];
    r[2][2] = first[0] * second[1] - first[1] * second[0];
    normalise(r[2]);

    for (int row = 0; row < 3; row++)
        for (int col = 0; col < 3; col++)
            m[col * 4 + row] = static_cast<GLfloat>(r[row][col] * boxScale[row]);
    glLoadMatrixf(m);
}

void turnScene()
{
    // On the right of all that came before: each turn is about the model's own, already turned axes.
    glRotatef(theta[0], 1.0f, 0.0f, 0.0f);
    glRotatef(theta[1], 0.0f, 1.0f, 0.0f);
    glRotatef(theta[2], 0.0f, 0.0f, 1.0f);
    // Still: leave the matrix exactly as it was.
    if (theta[0] != 0.0f || theta[1] != 0.0f || theta[2] != 0.0f)
        restoreRotation();
}

void display()
{
    static int x = 70; // frame delay, milliseconds

    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    turnScene();
    RenderScene();
    glutSwapBuffers();
    // The window is single-buffered: the picture is already on screen, so the pause comes
    // before the flush and paces the animation at about 14 frames a second.
    Sleep(x);
    glFlush();
}
