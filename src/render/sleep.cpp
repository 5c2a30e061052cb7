// Built everywhere but Windows, whose kernel provides Sleep.
#include "render/sleep.h"

#include <cerrno>
#include <ctime>

void Sleep(unsigned long milliseconds)
{
    timespec left{};
    left.tv_sec = static_cast<time_t>(milliseconds / 1000);
    left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    // A signal cuts nanosleep short; carry on with what is left so the frame keeps its pace.
    while (nanosleep(&left, &left) == -1 && errno == EINTR) {
    }
}
