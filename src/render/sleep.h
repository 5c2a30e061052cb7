// The frame delay: the kernel's Sleep on Windows, our own stand-in elsewhere.
#ifndef HELIXVIEW_SLEEP_H
#define HELIXVIEW_SLEEP_H

#ifdef _WIN32
#include <windows.h>

// Make Sleep wake on a 1 ms timer tick until the program ends, instead of Windows' default 15.6 ms.
void keepPace();
#else
// Block the calling thread for at least the given number of milliseconds.
void Sleep(unsigned long milliseconds);
#endif

#endif
