// Preloaded (LD_PRELOAD) into a test, this makes every port of the process
// answer the serial-flag requests as one USB serial adapter's driver does:
// TIOCSSERIAL sets its flags, TIOCGSERIAL gives them to whoever asks next,
// also after the tool has closed the port. None is set at first. Every
// other request goes to the real ioctl.

#include <dlfcn.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cstdarg>

static int flags;

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list arguments;
    va_start(arguments, request);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    if (request == TIOCGSERIAL || request == TIOCSSERIAL) {
        auto *serial = static_cast<serial_struct *>(argument);
        if (request == TIOCSSERIAL)
            flags = serial->flags;
        else
            *serial = serial_struct {};
        serial->flags = flags;
        return 0;
    }
    static const auto real =
            reinterpret_cast<int (*)(int, unsigned long, ...)>(dlsym(RTLD_NEXT, "ioctl"));
    return real(fd, request, argument);
}
