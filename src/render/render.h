// The model, the frame and the spin rates that drive it.
#ifndef HELIXVIEW_RENDER_H
#define HELIXVIEW_RENDER_H

#ifdef __APPLE__
#include <GLUT/glut.h>
#else
#include <GL/glut.h>
#endif

// Degrees per frame about the model's X, Y and Z axes: always 0.0 or 1.0.
extern GLfloat theta[3];

// Draw the green and the red strand of the double helix.
void RenderScene();

// One frame: clear, turn, draw, present, wait out the frame delay.
void display();

// Turn the scene one step by the spin rates, keeping the orientation a true rotation.
void turnScene();

#endif
