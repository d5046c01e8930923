// The board's end of the serial line: a pseudo-terminal whose slave the
// tool opens as its port, and the timing of an 8N1 line at a given baud.
#ifndef BOARDSIM_LINE_H
#define BOARDSIM_LINE_H

#include <cstdint>
#include <string>

std::int64_t monotonicNs();

class PtyLine
{
public:
    PtyLine(long baud, long turnaroundMs, long latencyTimerMs);
    ~PtyLine();
    PtyLine(const PtyLine &) = delete;
    PtyLine &operator=(const PtyLine &) = delete;

    bool open(std::string &error);
    const std::string &slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }

    // Sends a reply to a frame of frameLength bytes whose first byte was read
    // at frameStartNs: not before the frame itself would have crossed the
    // line, plus the turnaround, and then one byte per character time. With
    // a latency timer, bytes are held as a USB serial adapter holds them.
    void sendReply(const std::string &reply, std::int64_t frameStartNs, std::size_t frameLength);

    // Waits, at most timeoutMs, until the tool has taken every byte sent:
    // a hang-up throws away what is still queued for it.
    void waitUntilRead(long timeoutMs);

    // Writes as many 'z' as the line takes at once, without waiting.
    void sendNoise();

    // Closes the master; the tool's port then sees a hang-up.
    void hangUp();

private:
    void writeAll(const std::string &bytes);

    long m_baud;
    long m_turnaroundMs;
    long m_latencyTimerMs;
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
};

#endif
