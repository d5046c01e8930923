// Cutting the received byte stream into "$...%" command frames.
#ifndef BOARDSIM_FRAMES_H
#define BOARDSIM_FRAMES_H

#include <cstdint>
#include <string>
#include <vector>

struct Frame
{
    std::string text;     // as received, '$' and (when complete) '%' included
    std::int64_t startNs; // CLOCK_MONOTONIC time at which the '$' was read
    bool complete;        // false: cut short by a new '$' or by the size cap

    std::string body() const { return text.substr(1, text.size() - 2); }
};

class FrameAssembler
{
public:
    // No real command comes near this; a runaway frame is dropped.
    static constexpr std::size_t kMaxFrame = 4096;

    // Feeds bytes read at time nowNs; returns the frames they finished.
    std::vector<Frame> feed(const char *data, std::size_t size, std::int64_t nowNs);

private:
    bool m_open = false;
    Frame m_current { std::string(), 0, false };
};

#endif
