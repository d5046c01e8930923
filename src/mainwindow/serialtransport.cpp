#include "mainwindow.h"
#include "serialtransport.h"
#include "styles.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

using namespace SerialTransport;

QString sLastCommand;
QString sReply;
bool bReadError = false;
bool bExchangeRunning = false;
bool bLineSettledAtSend = true;
bool bReplyHadNul = false;
bool bReplyHadFlowControl = false;
QString sGreetingAnswer;
QString sKeepAliveAnswer;
bool bPassKeepAliveAnswers = false;

namespace {
// The last reply did not end with "#", so more of it may still arrive.
bool bLineUnsettled = false;
// That reply had begun, so its "#" is still to come.
bool bTailPending = false;
// Since the current exchange began, before any wait for an earlier tail.
QElapsedTimer exchangeClock;

// A line end before a reply's first character closes the board's previous
// reply, arriving after the send had cleared the port.
bool isLineEnd(int byte)
{
    return byte == '\r' || byte == '\n';
}

// XON and XOFF belong to the line's flow control, never to a reply.
bool isFlowControl(char byte)
{
    return byte == 0x11 || byte == 0x13;
}
} // namespace

bool MainWindow::openSerialPort()
{
    if (!serialPort.open(QIODeviceBase::ReadWrite))
        return false;
    lowLatency.request(serialPort.handle());
    // A failed read and a reply left unfinished belong to the link they
    // happened on.
    bReadError = false;
    bLineUnsettled = false;
    bPortLost = false;
    // Another port may have another board behind it.
    sGreetingAnswer.clear();
    sKeepAliveAnswer.clear();
    return true;
}

void MainWindow::sendCommand(const QString &sCommand, int iLength)
{
    bExchangeRunning = true;
    exchangeClock.start();
    sLastCommand = sCommand;
    bLineSettledAtSend = !bLineUnsettled || drainLine(bTailPending);
    bLineUnsettled = false;

    // A port that failed a read is left alone until it is opened again:
    // output written to it would be retried on every pass of the event loop.
    // Bytes left over from an earlier exchange must never pass for this reply.
    const bool bWritable = serialPort.isOpen() && !bReadError;
    if (bWritable)
        serialPort.clear(QSerialPort::AllDirections);

    const QByteArray command = sCommand.toLatin1();
    const qsizetype n =
            qBound(qsizetype(0), qsizetype(qMin(iLength, iMaxCommandBytes)), command.size());
    if (bWritable) {
        serialPort.write(command.constData(), n);
        serialPort.waitForBytesWritten(iWriteTimeoutMs);
    }

    serialWatchdogTimer->start(iWatchdogMs);
}

void MainWindow::settleAfterSilence()
{
    if (!bLineUnsettled || bTailPending)
        return;
    drainLine(true);
    bLineUnsettled = false;
}

// A hung-up tty reads 0 for ever and stays readable, so the port's read
// notification would run on every pass of the event loop, also between
// exchanges and inside the warning's loop. Closing the port is the one sure
// way to silence it; the next read then fails and warns, and the window
// keeps its connected look until COMMS is clicked.
void MainWindow::closeLostPort()
{
    if (serialPort.isOpen()) {
        serialPort.close();
        bPortLost = true;
    }
}

// A port whose device went away (adapter pulled, pty hung up) reports an
// error while read() keeps returning 0; that counts as a failed read.
bool MainWindow::serialPortFailed() const
{
    const QSerialPort::SerialPortError error = serialPort.error();
    return error == QSerialPort::ReadError || error == QSerialPort::ResourceError;
}

// Waits up to msecs for data. A closed or failed port returns from
// waitForReadyRead at once; the rest of the interval is slept so that the
// reply loop never spins the CPU.
// A latched port is never read, so waiting on it would return at once
// whenever the board sends.
void MainWindow::waitForSerialData(int msecs)
{
    const bool bReadable = !bReadError && serialPort.isOpen() && !serialPortFailed();
    if (bReadable && serialPort.bytesAvailable() > 0)
        return;
    QElapsedTimer clock;
    clock.start();
    if (bReadable && serialPort.waitForReadyRead(msecs))
        return;
    const qint64 iLeftMs = msecs - clock.elapsed();
    if (iLeftMs > 0)
        QThread::msleep(static_cast<unsigned long>(iLeftMs));
}

// Discards what still arrives until the line has been quiet for
// iQuietLineMs; while a broken-off reply's "#" is awaited, for a whole
// character gap. Never longer than iDrainLimitMs. Returns whether the line
// settled: quiet, with no awaited "#" still to come.
bool MainWindow::drainLine(bool bAwaitHash)
{
    if (bReadError || !serialPort.isOpen())
        return true;
    QElapsedTimer sinceStart;
    QElapsedTimer sinceLastByte;
    sinceStart.start();
    sinceLastByte.start();
    for (;;) {
        const qint64 iQuietLeftMs =
                (bAwaitHash ? iCharacterGapMs : iQuietLineMs) - sinceLastByte.elapsed();
        const qint64 iLimitLeftMs = iDrainLimitMs - sinceStart.elapsed();
        if (iQuietLeftMs <= 0)
            return !bAwaitHash;
        if (iLimitLeftMs <= 0)
            return false;
        waitForSerialData(int(qMin(iQuietLeftMs, iLimitLeftMs)));
        const QByteArray bytes = serialPort.readAll();
        if (!bytes.isEmpty()) {
            sinceLastByte.restart();
            bAwaitHash = bAwaitHash && !bytes.contains('#');
        }
    }
}

int MainWindow::readSerialByte()
{
    if (bReadError)
        return 0;

    char byte = 0;
    const qint64 iRead = serialPort.read(&byte, 1);
    if (iRead < 0 || (iRead == 0 && serialPortFailed())) {
        bReadError = true;
        closeLostPort();
        // The link is gone: a chosen file is chosen again after reconnecting.
        hideSendButton();
        QMessageBox::warning(this, sMessageTitle,
                             QStringLiteral("Error: Read timeout on command ") + sLastCommand,
                             QMessageBox::Ok, QMessageBox::NoButton);
        return -1;
    }
    if (iRead == 0)
        return 0;
    if (byte == 0)
        bReplyHadNul = true;
    if (isFlowControl(byte)) {
        bReplyHadFlowControl = true;
        return 0;
    }
    return static_cast<signed char>(byte);
}

int MainWindow::readReply()
{
    collectReply();
    // A line that echoes the command puts it before the answer, which
    // follows whole: the echo is dropped.
    if (!sLastCommand.isEmpty() && sReply.startsWith(sLastCommand)
        && sReply.length() > sLastCommand.length())
        sReply.remove(0, sLastCommand.length());
    // A late or repeated keep-alive answer is no answer to this command;
    // the right one may still come within the watchdog's wait.
    while (bPassKeepAliveAnswers && !sKeepAliveAnswer.isEmpty() && sReply == sKeepAliveAnswer
           && sLastCommand != sKeepAliveCommand && !exchangeClock.hasExpired(iWatchdogMs)) {
        serialWatchdogTimer->start(int(iWatchdogMs - exchangeClock.elapsed()));
        collectReply();
    }
    const int count = int(sReply.length());
    if (sReply.endsWith(QLatin1Char('#')) && sLastCommand == sGreetingCommand)
        sGreetingAnswer = sReply;
    if (sReply.endsWith(QLatin1Char('#')) && sLastCommand == sKeepAliveCommand)
        sKeepAliveAnswer = sReply;
    bLineUnsettled = !sReply.endsWith(QLatin1Char('#'));
    bTailPending = bLineUnsettled && !sReply.isEmpty();
    bExchangeRunning = false;
    return count;
}

int MainWindow::collectReply()
{
    sReply.clear();
    bReplyHadNul = false;
    bReplyHadFlowControl = false;
    int count = 0;
    QElapsedTimer sinceLastCharacter;

    waitForSerialData(100);
    int byte = readSerialByte();
    for (;;) {
        while (byte == 0 || (count == 0 && isLineEnd(byte))) {
            // The watchdog's timeout is never delivered while this loop blocks
            // the event loop, so its expiry is looked up here.
            if (!bWatchdogExpired && serialWatchdogTimer->isActive()
                && serialWatchdogTimer->remainingTime() == 0)
                serialWatchdogTimerElapsed();
            if (bWatchdogExpired || (count == 0 && !serialWatchdogTimer->isActive())) {
                bWatchdogExpired = false;
                serialWatchdogTimer->stop();
                return count;
            }
            // After the first character the watchdog is off; a reply that
            // stalls mid-way ends after the same interval without a byte.
            if (count > 0 && sinceLastCharacter.hasExpired(iCharacterGapMs))
                return count;
            // Nor may one that trickles in hold the window for long.
            if (count > 0 && exchangeClock.hasExpired(iWatchdogMs + iReplyLimitMs))
                return count;
            // The line failed inside this reply: nothing more will come.
            if (count > 0 && bReadError)
                return count;
            waitForSerialData(10);
            byte = readSerialByte();
        }

        const QChar character(static_cast<uchar>(byte & 0xFF));
        // What was dropped before the first character framed the line.
        if (count == 0)
            bReplyHadNul = bReplyHadFlowControl = false;
        sReply.append(character);
        ++count;
        serialWatchdogTimer->stop();
        sinceLastCharacter.start();

        if (count == iMaxReplyChars)
            return count;
        if (character == QLatin1Char('#'))
            return count;
        byte = readSerialByte();
    }
}

void MainWindow::serialWatchdogTimerElapsed()
{
    bWatchdogExpired = true;
    serialWatchdogTimer->stop();
}
