// helixview: a green and a red double helix on black. The left, middle and right mouse
// buttons switch a spin about the model's X, Y and Z axes on and off; spins combine.
#include "app/app.h"
#include "render/render.h"

int main(int argc, char** argv)
{
    startUp(&argc, argv);
    glutMainLoop();
    return 0;
}
