#ifndef SERIALTRANSPORT_H
#define SERIALTRANSPORT_H

#include <QString>

// State of the command/reply exchange, shared by every caller of
// MainWindow::sendCommand and MainWindow::readReply.
extern QString sLastCommand;  // whole text of the last command sent
extern QString sReply;        // last reply, "#" included
extern bool bReadError;       // set at the first failed read, kept until the port opens again
extern bool bExchangeRunning; // from a send until its reply has been read
// The last command went out on a settled line: no earlier reply's tail could
// still come and pass for its reply.
extern bool bLineSettledAtSend;
extern bool bReplyHadNul;         // the last reply lost NUL bytes
extern bool bReplyHadFlowControl; // the last reply lost XON or XOFF bytes
// What the board answered to the greeting and to the keep-alive on this
// link, "#" included; empty until it answered one whole.
extern QString sGreetingAnswer;
extern QString sKeepAliveAnswer;
// Set by a caller whose answers cannot be the keep-alive's: such an answer,
// late or repeated, is then passed over within the watchdog's wait.
extern bool bPassKeepAliveAnswers;

namespace SerialTransport {
const QString sGreetingCommand = QStringLiteral("$A9%");
const QString sKeepAliveCommand = QStringLiteral("$C0%");
constexpr int iWatchdogMs = 2000;     // wait for the first reply character
constexpr int iCharacterGapMs = 2000; // wait for each further character
constexpr int iMaxCommandBytes = 90;
constexpr int iMaxReplyChars = 201;
constexpr int iWriteTimeoutMs = 30000;
// After a reply without its "#", the rest of it may still be on the way; the
// line counts as settled once it has been quiet this long. A byte takes
// 0.17 ms at 57600 baud, but USB serial adapters hold received bytes for up
// to 16 ms before passing them on, so a shorter gap proves nothing.
constexpr int iQuietLineMs = 50;
// A reply that stalled may send its tail after the tool gave up on it, so the
// line only settles once that tail's "#" has come, or after a whole character
// gap without it. A board that never falls quiet is cut off after this long.
constexpr int iDrainLimitMs = iCharacterGapMs + iWatchdogMs;
// A board may keep each character just inside the gap. The whole exchange,
// from the command (and the wait for an earlier reply's tail) to the end of
// its reply, is bounded: a reply still coming after the watchdog's wait and
// this long is cut there, as a stalled reply is. 201 characters take 35 ms.
constexpr int iReplyLimitMs = 4000;
static_assert(iDrainLimitMs <= iReplyLimitMs, "a tail's wait leaves the watchdog its time");
} // namespace SerialTransport

#endif // SERIALTRANSPORT_H
