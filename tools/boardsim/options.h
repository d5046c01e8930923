// Command-line options of the simulated board.
#ifndef BOARDSIM_OPTIONS_H
#define BOARDSIM_OPTIONS_H

#include <string>

enum class FaultKind {
    None,
    Silent,           // logs every frame, never answers
    SilentAfter,      // answers the first n frames, then stays silent
    Garbage,          // a few stray bytes before every reply
    NoTerminator,     // replies lose their final '#'
    Nul,              // NUL bytes inside every reply
    FirstCharOnly,    // only the first byte of every reply
    HangupAfter,      // answers n frames, then closes the line and exits
    StallAfter,       // answers n frames, then pauses in the middle of the next reply
    EndlessAfter,     // answers n frames, then sends without end and answers no more
    DropAfter,        // answers n frames, then neither carries out nor answers the next one
    CrLfAfter,        // answers n frames, then a line end after every reply's '#', a moment later
    Dribble,          // every reply byte n ms after the one before
    StrayBefore,      // the stray bytes before every n-th reply
    StrayInside,      // the stray bytes before the last byte of every n-th reply
    Echo,             // every frame sent back before its reply
    RestartAfter,     // answers n frames, then the next with the greeting's reply, not carried out
    RestartLoseAfter, // the same, and what was not saved is lost
    LateKeepAlive,    // answers n keep-alives, then each later one 2200 ms late
    DoubleKeepAlive,  // every keep-alive answered twice, the second 20 ms later
    WrongPageAfter    // answers n frames, then every page read about the next page
};

struct Options
{
    bool help = false;
    int pages = 16; // generated pages, unless loadPath is set
    std::string loadPath;
    std::string savePath;
    std::string logPath;
    long baud = 57600; // 0: no pacing at all
    long turnaroundMs = 0;
    long stallMs = 3000;     // pause of stall-after=N
    long latencyTimerMs = 0; // 0: replies are not held
    std::string stray = " "; // bytes of stray-before=N and stray-inside=N
    FaultKind fault = FaultKind::None;
    long faultCount = 0; // n of the modes that end in "-after", ms of dribble=N
};

// Parses argv into options. On a bad command line returns false and sets
// error to a one-line message.
bool parseOptions(int argc, char **argv, Options &options, std::string &error);

// The --help text.
std::string usageText(const char *program);

#endif
