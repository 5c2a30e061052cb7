// The mouse as the event loop sees it: buttons toggle axes, and frames run only while something spins.
#include <cmath>

#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include "app/app.h"
#include "gl_test.h"
#include "interaction/interaction.h"

namespace
{

// Degrees the start-up box has turned about Y.
double turnedAboutY()
{
    Matrix m = projection();
    return std::atan2(m[8], m[0]) * 180.0 / std::acos(-1.0);
}

bool isBlack(const std::array<unsigned char, 3>& rgb)
{
    return rgb[0] == 0 && rgb[1] == 0 && rgb[2] == 0;
}

// Filled in by timers while the real event loop runs.
double spunAfterPress, spunAfterRelease, stoppedAt, stillAt;
bool paintedBlueStaysBlue;

void nothing(int) {}

void step(int stage)
{
    switch (stage) {
    case 0:
        mouse(GLUT_MIDDLE_BUTTON, GLUT_DOWN, 10, 10);
        glutTimerFunc(1000, step, 1);
        break;
    case 1:
        spunAfterPress = turnedAboutY();
        mouse(GLUT_MIDDLE_BUTTON, GLUT_UP, 10, 10);
        glutTimerFunc(700, step, 2);
        break;
    case 2:
        spunAfterRelease = turnedAboutY();
        mouse(GLUT_MIDDLE_BUTTON, GLUT_DOWN, 10, 10);
        glutTimerFunc(500, step, 3);
        break;
    case 3:
        stoppedAt = turnedAboutY();
        paint(0, 0, 1);
        glutTimerFunc(1000, step, 4);
        break;
    default:
        stillAt = turnedAboutY();
        paintedBlueStaysBlue = pixel(5, 5)[2] == 255;
        glutLeaveMainLoop();
        // freeglut 2.8 (Debian 11, Ubuntu 22.04) waits once more for an event or a timer before
        // it sees that its loop is to end: a timer wakes it. Not one due at once, which the timer
        // pass that runs this one may also run, leaving none to wake the wait (one hang in ~10).
        glutTimerFunc(1, nothing, 0);
    }
}

} // namespace

TEST(Mouse, EachButtonTogglesItsOwnAxisAndNothingElse)
{
    for (int button = 0; button < 3; button++) {
        mouse(button, GLUT_DOWN, 0, 0);
        for (int axis = 0; axis < 3; axis++)
            EXPECT_EQ(theta[axis], axis == button ? 1.0f : 0.0f) << "button " << button;
        mouse(button, GLUT_UP, 0, 0);
        EXPECT_EQ(theta[button], 1.0f) << "a release toggles nothing";
        mouse(button, GLUT_DOWN, 499, 499);
        EXPECT_EQ(theta[button], 0.0f) << "button " << button;
    }
    mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 0, 0);
    mouse(GLUT_RIGHT_BUTTON, GLUT_DOWN, 0, 0);
    EXPECT_EQ(theta[0] + theta[1] + theta[2], 2.0f) << "spins combine";
    mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 0, 0);
    mouse(GLUT_RIGHT_BUTTON, GLUT_DOWN, 0, 0);
    glutMainLoopEvent();
}

TEST(Mouse, ReleasesAndOtherButtonsStillRedraw)
{
    init();
    paint(0, 0, 1);
    glutMainLoopEvent();
    ASSERT_EQ(pixel(5, 5)[2], 255) << "nothing was posted, so nothing may redraw";
    // Wheel steps arrive as buttons 3 and 4; buttons beyond those too.
    for (int button : {3, 4, 7, GLUT_LEFT_BUTTON}) {
        paint(0, 0, 1);
        mouse(button, GLUT_UP, 250, 250);
        if (button != GLUT_LEFT_BUTTON)
            mouse(button, GLUT_DOWN, 250, 250);
        glutMainLoopEvent();
        EXPECT_TRUE(isBlack(pixel(5, 5))) << "button " << button << " posted no redisplay";
        EXPECT_EQ(theta[0] + theta[1] + theta[2], 0.0f);
    }
    EXPECT_EQ(distance(projection(), startUpBox()), 0.0);
}

// Runs the real event loop, after which this process has no window: keep it last.
TEST(Mouse, EventLoopAnimatesOnlyWhileSomethingSpins)
{
    init();
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_GLUTMAINLOOP_RETURNS);
    glutTimerFunc(0, step, 0);
    glutMainLoop();

    // About 14 frames a second, each a degree about Y.
    EXPECT_GE(spunAfterPress, 8.0);
    EXPECT_GE(spunAfterRelease - spunAfterPress, 5.0) << "spinning needs no further events";
    EXPECT_EQ(stillAt, stoppedAt);
    EXPECT_TRUE(paintedBlueStaysBlue) << "a frame ran after the last spin was switched off";
}
