// Built everywhere but Windows, whose kernel provides Sleep.
#include "render/sleep.h"

#include <chrono>
#include <thread>

void Sleep(unsigned long milliseconds)
{
    // sleep_for carries on with the time left after a signal, so every frame keeps its pace.
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
