// What start-up leaves behind for the rest of the run.
#include <gtest/gtest.h>

#include "gl_test.h"

TEST(StartUp, LeavesTheProjectionBoxCurrentOnABlackSingleBufferedWindow)
{
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_PROJECTION);
    EXPECT_EQ(distance(projection(), startUpBox()), 0.0);

    GLfloat modelView[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelView);
    for (int i = 0; i < 16; i++)
        EXPECT_EQ(modelView[i], i % 5 == 0 ? 1.0f : 0.0f) << "model-view entry " << i;

    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    for (GLfloat c : clear)
        EXPECT_EQ(c, 0.0f);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));

    GLboolean doubleBuffered = GL_TRUE;
    glGetBooleanv(GL_DOUBLEBUFFER, &doubleBuffered);
    EXPECT_FALSE(doubleBuffered);
    EXPECT_EQ(glutGet(GLUT_WINDOW_WIDTH), 500);
    EXPECT_EQ(glutGet(GLUT_WINDOW_HEIGHT), 500);
    for (GLfloat rate : theta)
        EXPECT_EQ(rate, 0.0f);
}
