#ifndef BOARDSIMPROCESS_H
#define BOARDSIMPROCESS_H

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Runs aux-board-sim, the simulated AUX PCB, for one test.
//
//   BoardSimProcess board;
//   QVERIFY(board.start({"--pages", "3"}));
//   port.setPortName(board.portName());
//   ... exchanges ...
//   QVERIFY(board.waitForFrames(2, 2000));
//   QCOMPARE(board.frames().at(0), QByteArray("$A9%"));
//
// The simulator logs every received frame into a file in a temporary
// directory owned by this object; log() re-reads it on each call. Time
// stamps are CLOCK_MONOTONIC milliseconds, the clock of nowMs() and of
// QElapsedTimer::msecsSinceReference(). The destructor stops the process.
class BoardSimProcess
{
public:
    struct LogEntry
    {
        double ms;        // when the frame's '$' was read
        QByteArray frame; // "$...%" as received, Latin-1 bytes unchanged
        bool incomplete;  // ended by a new '$' (or the size cap), not answered
    };

    BoardSimProcess();
    ~BoardSimProcess();
    BoardSimProcess(const BoardSimProcess &) = delete;
    BoardSimProcess &operator=(const BoardSimProcess &) = delete;

    // Starts the simulator with args (a --log option is added) and waits up
    // to timeoutMs for the pseudo-terminal's path. False if it did not come.
    bool start(const QStringList &args = {}, int timeoutMs = 5000);

    // Path of the pseudo-terminal slave: the port the tool opens.
    QString portName() const;

    QList<LogEntry> log() const;
    QList<QByteArray> frames() const;

    // Waits, processing events, until at least count frames are logged.
    bool waitForFrames(int count, int timeoutMs = 5000) const;

    // SIGTERM, then waits for the exit (SIGKILL after 5 s). Safe to repeat.
    void stop();

    // For faults that end the simulator on their own.
    bool waitForFinished(int timeoutMs = 5000);
    bool isRunning() const;
    int exitCode() const;
    QProcess::ExitStatus exitStatus() const;
    qint64 processId() const;

    // Path of the simulator binary, for tests that run it by themselves.
    static QString programPath();

    // Now on CLOCK_MONOTONIC, in milliseconds: comparable with log() stamps.
    static double nowMs();

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_portName;
};

#endif
