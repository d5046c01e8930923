#ifndef SERIALTRANSPORT_H
#define SERIALTRANSPORT_H

#include <QString>

// State of the command/reply exchange, shared by every caller of
// MainWindow::sendCommand and MainWindow::readReply.
extern QString sLastCommand; // whole text of the last command sent
extern QString sReply;       // last reply, "#" included
extern bool bReadError;      // set at the first failed read, kept for the run

namespace SerialTransport {
constexpr int iWatchdogMs = 2000;     // wait for the first reply character
constexpr int iCharacterGapMs = 2000; // wait for each further character
constexpr int iMaxCommandBytes = 90;
constexpr int iMaxReplyChars = 201;
constexpr int iWriteTimeoutMs = 30000;
} // namespace SerialTransport

#endif // SERIALTRANSPORT_H
