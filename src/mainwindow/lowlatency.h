#ifndef LOWLATENCY_H
#define LOWLATENCY_H

// USB serial adapters hold received bytes until a latency timer runs out
// (16 ms on FTDI chips) unless the port asks for low latency. Every reply
// from the board is short and every command waits for the one before, so
// without the request each exchange can pay that wait.
class LowLatencyRequest
{
public:
    // Sets the low-latency flag of the serial port open on fd. A port whose
    // driver has no such flag (a pty, a driver without the request) is left
    // as it is, silently.
    void request(int fd);
    // Clears the flag again if request() set it, so that other programs find
    // the driver's default. Call while fd is still open.
    void restore(int fd);

private:
    bool m_set = false; // request() turned the flag on
};

#endif // LOWLATENCY_H
