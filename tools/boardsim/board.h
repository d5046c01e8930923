// What the board answers to each command frame.
#ifndef BOARDSIM_BOARD_H
#define BOARDSIM_BOARD_H

#include "nvram.h"

#include <string>

class Board
{
public:
    Board(Nvram &nvram, std::string savePath);

    // body: the frame without its '$' and '%'. Returns the reply bytes;
    // empty only for a "$T0%" that asks for nothing.
    std::string answer(const std::string &body);

    // The board starts anew: it answers with its greeting's reply, and
    // with loseUnsaved forgets every value written since the last save.
    std::string restart(bool loseUnsaved);

private:
    std::string readPage(const std::string &code, const std::string &page, bool description) const;
    std::string writePage(const std::string &code, const std::string &argument, bool description);
    std::string save();

    Nvram &m_nvram;
    Nvram m_saved; // as at start-up or the last save
    std::string m_savePath;
};

// Bytes of a "$T0" argument: comma-separated groups of hex pairs, each
// optionally followed by "*N" (decimal repeat count). False when malformed.
bool decodeRawBytes(const std::string &argument, std::string &bytes);

#endif
