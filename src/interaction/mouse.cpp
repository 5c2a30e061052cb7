// Buttons only record what is asked for; the frame does the turning.
#include "interaction/interaction.h"

#include "render/render.h"

void upsetTheta(int a)
{
    if (theta[a] != 0.0f)
        theta[a] = 0.0f;
    else
        theta[a] = 1.0f;
}

void mouse(int btn, int state, int a, int b)
{
    (void)a; // the pointer's position does not matter
    (void)b;
    if (btn == GLUT_LEFT_BUTTON && state == GLUT_DOWN)
        upsetTheta(0);
    if (btn == GLUT_MIDDLE_BUTTON && state == GLUT_DOWN)
        upsetTheta(1);
    if (btn == GLUT_RIGHT_BUTTON && state == GLUT_DOWN)
        upsetTheta(2);

    // Animate only while something spins, so a still viewer sleeps in the event loop.
    if (theta[0] != 0.0f || theta[1] != 0.0f || theta[2] != 0.0f)
        glutIdleFunc(display);
    else
        glutIdleFunc(NULL);
    glutPostRedisplay();
}
