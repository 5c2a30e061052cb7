// The frame delay: the kernel's Sleep on Windows, our own stand-in elsewhere.
#ifndef HELIXVIEW_SLEEP_H
#define HELIXVIEW_SLEEP_H

#ifdef _WIN32
#include <windows.h>
#else
// Block the calling thread for at least the given number of milliseconds.
void Sleep(unsigned long milliseconds);
#endif

#endif
