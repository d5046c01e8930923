#include "line.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// An FTDI chip sends the host 64-byte packets, two of them status bytes.
const std::size_t kAdapterPacketBytes = 62;

void sleepUntil(std::int64_t ns)
{
    timespec when;
    when.tv_sec = static_cast<time_t>(ns / 1000000000);
    when.tv_nsec = static_cast<long>(ns % 1000000000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) == EINTR) {
    }
}

} // namespace

std::int64_t monotonicNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

PtyLine::PtyLine(long baud, long turnaroundMs, long latencyTimerMs)
    : m_baud(baud), m_turnaroundMs(turnaroundMs), m_latencyTimerMs(latencyTimerMs)
{
}

PtyLine::~PtyLine()
{
    hangUp();
    if (m_slave >= 0)
        ::close(m_slave);
}

bool PtyLine::open(std::string &error)
{
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        error = std::string("openpty: ") + std::strerror(errno);
        return false;
    }
    // The slave fd stays open for good: without it, every time the tool
    // closes its port the master would read EIO until the port is reopened.
    termios raw;
    tcgetattr(m_slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(m_slave, TCSANOW, &raw);
    // A real UART does not wait for a reader; bytes nobody takes are lost.
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_slavePath = name;
    return true;
}

void PtyLine::sendReply(const std::string &reply, std::int64_t frameStartNs,
                        std::size_t frameLength)
{
    const std::int64_t charNs = m_baud > 0 ? 10 * std::int64_t(1000000000) / m_baud : 0;
    const std::int64_t t0 = frameStartNs + static_cast<std::int64_t>(frameLength) * charNs
            + static_cast<std::int64_t>(m_turnaroundMs) * 1000000;
    const std::int64_t holdNs = static_cast<std::int64_t>(m_latencyTimerMs) * 1000000;
    // Byte i is on the line at t0 + i * charNs, and reaches the tool then
    // unless an adapter holds it: until its timer, started by the first byte
    // held, runs out, or until a packet's worth is held.
    std::size_t first = 0;
    while (first < reply.size()) {
        std::size_t end = first + 1;
        std::int64_t releaseNs = t0 + static_cast<std::int64_t>(first) * charNs;
        if (holdNs > 0) {
            releaseNs += holdNs;
            while (end < reply.size() && end - first < kAdapterPacketBytes
                   && t0 + static_cast<std::int64_t>(end) * charNs <= releaseNs)
                ++end;
            if (end - first == kAdapterPacketBytes)
                releaseNs = t0 + static_cast<std::int64_t>(end - 1) * charNs;
        } else if (charNs == 0) {
            end = reply.size();
        }
        sleepUntil(releaseNs);
        writeAll(reply.substr(first, end - first));
        first = end;
    }
}

void PtyLine::writeAll(const std::string &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            // The slave's buffer is full: give a reader a moment, then drop.
            pollfd p { m_master, POLLOUT, 0 };
            if (::poll(&p, 1, 100) > 0)
                continue;
        }
        return;
    }
}

void PtyLine::waitUntilRead(long timeoutMs)
{
    const std::int64_t stepNs = 2000000;
    const std::int64_t deadline = monotonicNs() + static_cast<std::int64_t>(timeoutMs) * 1000000;
    // Written bytes reach the slave's queue a moment later, so look only
    // after a first step.
    int pending = 0;
    do {
        sleepUntil(monotonicNs() + stepNs);
    } while (ioctl(m_slave, FIONREAD, &pending) == 0 && pending > 0 && monotonicNs() < deadline);
}

void PtyLine::sendNoise()
{
    const std::string noise(4096, 'z');
    const ssize_t written = ::write(m_master, noise.data(), noise.size());
    static_cast<void>(written); // a full line takes nothing; the next poll says when it can
}

void PtyLine::hangUp()
{
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}
