// The helix as GL receives it, captured in feedback mode.
#include <cmath>

#include <gtest/gtest.h>

#include "gl_test.h"

namespace
{

void expectNear(const Vertex& v, double x, double y, double z, double tolerance = 1e-3)
{
    EXPECT_NEAR(v.x, x, tolerance);
    EXPECT_NEAR(v.y, y, tolerance);
    EXPECT_NEAR(v.z, z, tolerance);
}

} // namespace

TEST(Helix, TwoStrandsOf189VerticesFromTheBottomUp)
{
    Strands s = helix();
    ASSERT_EQ(s.green.size(), 189u);
    ASSERT_EQ(s.red.size(), 189u);

    expectNear(s.green.front(), 0.0, -80.0, 35.0);
    // The last angles are sums of 188 single-precision steps, a few 1e-5 radians off 18.8 and 21.9412.
    expectNear(s.green.back(), 35.0 * std::sin(18.8), 51.600018, 35.0 * std::cos(18.8), 3e-3);
    expectNear(s.red.front(), 0.01374, -80.0, -35.0);
    expectNear(s.red.back(), 35.0 * std::sin(21.9412), 51.600018, 35.0 * std::cos(21.9412), 3e-3);

    for (size_t k = 0; k < 189; k++) {
        EXPECT_NEAR(s.green[k].y, s.red[k].y, 1e-4) << "vertex " << k;
        for (const Vertex& v : {s.green[k], s.red[k]}) {
            EXPECT_NEAR(std::hypot(v.x, v.z), 35.0, 1e-3) << "vertex " << k;
            EXPECT_LE(std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z), 87.33) << "vertex " << k;
        }
    }

    // Nothing carries over between calls.
    Strands again = helix();
    for (size_t k = 0; k < 189; k++)
        EXPECT_EQ(again.red[k].x, s.red[k].x);

    GLfloat width = 0, colour[4];
    glGetFloatv(GL_LINE_WIDTH, &width);
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(width, 5.0f);
    EXPECT_EQ(colour[0], 1.0f);
    EXPECT_EQ(colour[1], 0.0f);
}
