// The record of received frames that tests compare with their own clock.
#ifndef BOARDSIM_FRAMELOG_H
#define BOARDSIM_FRAMELOG_H

#include "frames.h"

#include <cstdio>
#include <string>

class FrameLog
{
public:
    FrameLog() = default;
    ~FrameLog();
    FrameLog(const FrameLog &) = delete;
    FrameLog &operator=(const FrameLog &) = delete;

    bool open(const std::string &path);

    // One line per frame, flushed at once: "<ms.mmm> <frame>[ INCOMPLETE]".
    // A line feed inside the frame is written as "\n", a backslash as "\\",
    // so that each frame stays on one line.
    void write(const Frame &frame);

private:
    std::FILE *m_file = nullptr;
};

#endif
