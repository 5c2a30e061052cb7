// The double helix: two strands of 189 vertices each, regenerated every frame.
#include <cmath>

#include "render/render.h"

// Draw one strand as a line strip from the bottom (y = -80) up, one vertex per 0.1 radian.
static void strand(GLfloat angle, GLfloat lastAngle)
{
    GLfloat x, y, z;

    glBegin(GL_LINE_STRIP);
    y = -80.0f;
    // Single-precision sums on purpose: the strand's extent depends on them.
    while (angle <= lastAngle) {
        x = static_cast<GLfloat>(35.0 * std::sin(static_cast<double>(angle)));
        z = static_cast<GLfloat>(35.0 * std::cos(static_cast<double>(angle)));
        glVertex3f(x, y, z);
        y = y + 0.7f;
        angle = angle + 0.1f;
    }
    glEnd();
}

void RenderScene()
{
    glColor3f(0.0f, 1.0f, 0.0f);
    glLineWidth(5.0f);
    strand(0.0f, 18.8472f);

    // Almost half a turn further round, so the red strand faces the green one.
    glColor3f(1.0f, 0.0f, 0.0f);
    strand(3.1412f, 21.9884f);
}
