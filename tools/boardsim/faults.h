// Deliberate misbehaviour, so that the tool's error paths can be exercised.
#ifndef BOARDSIM_FAULTS_H
#define BOARDSIM_FAULTS_H

#include "options.h"

#include <string>

class FaultInjector
{
public:
    FaultInjector(FaultKind kind, long count, std::string stray = std::string());

    // True for a complete frame that is lost on the line: the board neither
    // carries it out nor answers it (drop-after=N, the frame after N replies).
    bool dropsFrame();

    // True for the frame that the board answers with its greeting's reply,
    // having restarted instead of carrying it out (restart-after=N and
    // restart-lose-after=N, the frame after N replies).
    bool restartsNow() const;

    // How long after the usual time the reply to a keep-alive goes out
    // (late-keepalive=N), and whether it goes out a second time 20 ms
    // later (double-keepalive). Called once for every keep-alive.
    long keepAliveDelayMs();
    bool keepAliveTwice() const;

    // True once a page read is to be answered about the next page
    // (wrong-page-after=N with N replies sent).
    bool wrongPageNow() const;

    // Decides the fate of one reply to a complete frame. Returns false when
    // nothing is to be sent; otherwise reply may have been altered.
    bool shape(std::string &reply);

    // True once the line is to be hung up (hangup-after=N with N replies
    // sent, checked after each reply and once at start-up).
    bool hangUpNow() const;

    // The part of the last shaped reply that is to follow after a pause
    // (stall-after=N); empty when the reply went out whole.
    std::string takeStalledTail();

    // True when the reply just shaped is to be followed by CR LF
    // (crlf-after=N, every reply after the first N).
    bool lineEndNow() const;

    // True once the board is to send without end (endless-after=N with N
    // replies sent).
    bool endlessNow() const;

private:
    FaultKind m_kind;
    long m_count;
    long m_answered = 0;
    long m_keepAlives = 0;
    std::string m_stray;
    std::string m_stalledTail;
};

#endif
