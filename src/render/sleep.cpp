// The frame delay's clock: our own Sleep where the system has none, and on Windows a finer timer tick.
#include "render/sleep.h"

#ifdef _WIN32
#include <cstdlib>

#include <timeapi.h>

static void restoreTimer()
{
    timeEndPeriod(1);
}

void keepPace()
{
    // On the default tick Sleep(70) lasts 78 ms, and the spin runs at 12.8 frames a second, not 14.
    // freeglut asks for the same tick for its own timers; the frame delay does not rest on that.
    timeBeginPeriod(1);
    std::atexit(restoreTimer);
}
#else
#include <chrono>
#include <thread>

void Sleep(unsigned long milliseconds)
{
    // sleep_for carries on with the time left after a signal, so every frame keeps its pace.
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
#endif
