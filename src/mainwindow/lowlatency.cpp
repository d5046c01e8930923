#include "lowlatency.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

namespace {

// Turns the flag on or off; true only if the driver took the change. Every
// other field goes back as the driver gave it.
bool setLowLatency(int fd, bool on)
{
    serial_struct serial {};
    if (fd < 0 || ::ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return false;
    if (((serial.flags & ASYNC_LOW_LATENCY) != 0) == on)
        return false;
    serial.flags = on ? serial.flags | ASYNC_LOW_LATENCY : serial.flags & ~ASYNC_LOW_LATENCY;
    return ::ioctl(fd, TIOCSSERIAL, &serial) == 0;
}

} // namespace

void LowLatencyRequest::request(int fd)
{
    // A flag found set was set by someone else and stays theirs.
    m_set = setLowLatency(fd, true);
}

void LowLatencyRequest::restore(int fd)
{
    if (m_set)
        setLowLatency(fd, false);
    m_set = false;
}
