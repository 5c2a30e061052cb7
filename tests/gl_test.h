// Shared by the tests that run inside a real window: the start-up matrix and read-backs.
#ifndef HELIXVIEW_GL_TEST_H
#define HELIXVIEW_GL_TEST_H

#include <array>
#include <vector>

#include "render/render.h"

using Matrix = std::array<double, 16>; // column-major, as GL keeps it

// The projection matrix as GL holds it now.
Matrix projection();

// The -100..100 orthographic box that start-up leaves in the projection matrix.
Matrix startUpBox();

// a · b, both column-major.
Matrix multiply(const Matrix& a, const Matrix& b);

// Rotation by degrees about a unit axis, as glRotate defines it.
Matrix rotation(double degrees, double x, double y, double z);

// Largest absolute difference between two matrices.
double distance(const Matrix& a, const Matrix& b);

// RGB of one pixel of the window, counted from the bottom left.
std::array<unsigned char, 3> pixel(int x, int y);

// A vertex of the helix: in scene units, or on screen in pixels from the bottom left with its depth.
struct Vertex {
    double x, y, z;
};

struct Strands {
    std::vector<Vertex> green, red;
};

// The helix in the model's own scene units, as GL receives it from RenderScene, captured in
// feedback mode through the start-up box and the default viewport and depth range whatever the
// current state; the current matrix is left as it was.
Strands helix();

// Paint the whole window one colour, so a later frame shows by changing it.
void paint(float r, float g, float b);

#endif
