// Start-up: the window, the callbacks and the GL state that holds for the whole run.
#ifndef HELIXVIEW_APP_H
#define HELIXVIEW_APP_H

// Set the clear colour and the -100..100 orthographic box, leaving the projection matrix current.
void init();

// Hand the command line to GLUT, open the "simple" window and set everything up, short of the event loop.
void startUp(int* argc, char** argv);

#endif
