#include "frames.h"

std::vector<Frame> FrameAssembler::feed(const char *data, std::size_t size, std::int64_t nowNs)
{
    std::vector<Frame> done;
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '$') {
            if (m_open)
                done.push_back(m_current); // incomplete: a new frame starts
            m_current = Frame { std::string(1, c), nowNs, false };
            m_open = true;
            continue;
        }
        if (!m_open)
            continue; // noise between frames
        m_current.text += c;
        if (c == '%') {
            m_current.complete = true;
            done.push_back(m_current);
            m_open = false;
        } else if (m_current.text.size() >= kMaxFrame) {
            done.push_back(m_current);
            m_open = false;
        }
    }
    return done;
}
