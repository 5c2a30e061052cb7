// The mouse: each button switches the spin about one axis on or off.
#ifndef HELIXVIEW_INTERACTION_H
#define HELIXVIEW_INTERACTION_H

// Flip the spin rate of axis a (0 X, 1 Y, 2 Z) between 0.0 and 1.0.
void upsetTheta(int a);

// The window's mouse callback: left, middle and right toggle X, Y and Z.
void mouse(int btn, int state, int a, int b);

#endif
