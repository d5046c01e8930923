// The simulated AUX PCB: command line, replies, NVRAM file, log, timing and
// faults, all through its real pseudo-terminal.

#include "boardsimprocess.h"

#include <QSerialPort>
#include <QtTest>

#include <unistd.h>

using ByteList = QList<QByteArray>;

// A Latin-1 description and a CR LF line end, as board files have them.
static const QByteArray kBoardFile = "Page Number | Value | Description\n"
                                     "0000 | 2 | Last page\n"
                                     "0001 | 250 | Temp\xC3\xA9rature\r\n";

static QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A board started with args and a port open on it.
static bool startWithPort(BoardSimProcess &board, QSerialPort &port, const QStringList &args)
{
    if (!board.start(args))
        return false;
    port.setPortName(board.portName());
    port.setBaudRate(QSerialPort::Baud57600);
    return port.open(QIODevice::ReadWrite);
}

// Sends command (if any) and reads replySize bytes, or with replySize < 0
// everything until the line has been quiet for 100 ms.
static QByteArray exchange(QSerialPort &port, const QByteArray &command, qsizetype replySize = -1)
{
    if (!command.isEmpty() && port.write(command) == command.size())
        port.waitForBytesWritten(1000);
    QByteArray received = port.readAll();
    QDeadlineTimer deadline(3000);
    while ((replySize < 0 || received.size() < replySize)
           && port.waitForReadyRead(replySize < 0 ? 100 : int(deadline.remainingTime())))
        received += port.readAll();
    return received;
}

class TestBoardSim : public QObject
{
    Q_OBJECT

private slots:
    void commandLine()
    {
        QProcess help;
        help.start(BoardSimProcess::programPath(), { "--help" });
        QVERIFY(help.waitForFinished(5000));
        QCOMPARE(help.exitCode(), 0);
        const QByteArray out = help.readAllStandardOutput();
        for (const char *option : { "--pages", "--load", "--save", "--log", "--baud",
                                    "--turnaround", "--fault", "--help" })
            QVERIFY2(out.contains(option), option);

        // A failure names its cause and prints no port, so nobody waits for one.
        QProcess wrong;
        wrong.start(BoardSimProcess::programPath(), { "--speed", "3" });
        QVERIFY(wrong.waitForFinished(5000));
        QCOMPARE(wrong.exitCode(), 2);
        QCOMPARE(wrong.readAllStandardOutput(), QByteArray());
        QVERIFY(wrong.readAllStandardError().contains("--speed"));
    }

    void exchanges_data()
    {
        QTest::addColumn<ByteList>("commands");
        QTest::addColumn<ByteList>("replies");
        QTest::addColumn<QByteArray>("saved"); // the --save file afterwards; empty: none

        QTest::newRow("hello, keep-alive")
                << ByteList { "$A9%", "$C0%" } << ByteList { "A9OK#", "C0OK#" } << QByteArray();
        QTest::newRow("value, Latin-1 description")
                << ByteList { "$A60000%", "$A70001%" }
                << ByteList { "A60000=2#", "A70001=Temp\xE9rature#" } << QByteArray();
        QTest::newRow("unknown page refused")
                << ByteList { "$A60002%", "$A70002%" } << ByteList { "A60002=#", "A70002=#" }
                << QByteArray();
        QTest::newRow("write, read back, save")
                << ByteList { "$A40001new value%", "$A50000caf\xE9 \xB0%", "$A60001%", "$A70000%",
                              "$A8%" }
                << ByteList { "A4OK#", "A5OK#", "A60001=new value#", "A70000=caf\xE9 \xB0#",
                              "A8OK#" }
                << QByteArray("Page Number | Value | Description\n0000 | 2 | caf\xC3\xA9 \xC2\xB0\n"
                              "0001 | new value | Temp\xC3\xA9rature\n");
        QTest::newRow("raw bytes, repeated")
                << ByteList { "$T00041FF00e9%", "$T041*200,23%" }
                << ByteList { QByteArray("\0A\xFF\0\xE9", 5), QByteArray(200, 'A') + '#' }
                << QByteArray();
        // The log keeps the cut frame, marked, with the newline and backslash in it.
        QTest::newRow("frame cut by new frame")
                << ByteList { "$A5000\\1a\nb\xE9$C0%" } << ByteList { "C0OK#" } << QByteArray();
    }

    void exchanges()
    {
        QFETCH(ByteList, commands);
        QFETCH(ByteList, replies);
        QFETCH(QByteArray, saved);

        QTemporaryDir dir;
        const QString saveFile = dir.filePath("saved.nvr");
        QFile boardFile(dir.filePath("board.nvr"));
        QVERIFY(boardFile.open(QIODevice::WriteOnly) && boardFile.write(kBoardFile) > 0);
        boardFile.close();
        BoardSimProcess board;
        QSerialPort port;
        QVERIFY(startWithPort(
                board, port,
                { "--baud", "0", "--load", boardFile.fileName(), "--save", saveFile }));
        const double start = BoardSimProcess::nowMs();
        for (qsizetype i = 0; i < commands.size(); ++i)
            QCOMPARE(exchange(port, commands.at(i), replies.at(i).size()), replies.at(i));
        QCOMPARE(exchange(port, QByteArray()), QByteArray());
        const double end = BoardSimProcess::nowMs();
        QCOMPARE(readFile(saveFile), saved); // written by the save command only

        // The log has every frame in order, a cut one marked, on the monotonic clock.
        QCOMPARE(board.frames().join(), commands.join());
        double last = start - 1;
        for (const BoardSimProcess::LogEntry &entry : board.log()) {
            QCOMPARE(entry.incomplete, !entry.frame.endsWith('%'));
            QVERIFY(entry.ms >= last && entry.ms <= end + 1);
            last = entry.ms;
        }
    }

    void pacing_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("replySize"); // of a $T0 reply of repeated bytes
        QTest::addColumn<double>("minMs");  // command and reply on the line, plus turnaround
        QTest::addColumn<double>("maxMs");

        // 12 command bytes and 100 reply bytes at 57600 baud: 2.1 + 17.2 ms.
        QTest::newRow("57600 baud") << QStringList { "--baud", "57600" } << 100 << 19.0 << 300.0;
        // Ten times the bytes, which would take 174 ms at 57600 baud.
        QTest::newRow("instant") << QStringList { "--baud", "0" } << 1000 << 0.0 << 60.0;
        QTest::newRow("turnaround")
                << QStringList { "--baud", "0", "--turnaround", "150" } << 5 << 150.0 << 400.0;
    }

    void pacing()
    {
        QFETCH(QStringList, args);
        QFETCH(int, replySize);
        QFETCH(double, minMs);
        QFETCH(double, maxMs);

        BoardSimProcess board;
        QSerialPort port;
        QVERIFY(startWithPort(board, port, args));
        const QByteArray command = "$T041*" + QByteArray::number(replySize - 1) + ",23%";
        const double sent = BoardSimProcess::nowMs();
        QCOMPARE(exchange(port, command, replySize).size(), replySize);
        const double took = BoardSimProcess::nowMs() - sent;
        QVERIFY2(took >= minMs && took <= maxMs, qPrintable(QString::number(took)));
    }

    void noCpuWhileIdle()
    {
        BoardSimProcess board;
        QSerialPort port;
        QVERIFY(startWithPort(board, port, { "--baud", "9600" }));
        // Clock ticks of CPU time so far: utime and stime in /proc/<pid>/stat
        // are the 12th and 13th fields after the parenthesised command name.
        const auto cpuTicks = [&board] {
            const QByteArray stat =
                    readFile(QStringLiteral("/proc/%1/stat").arg(board.processId()));
            const ByteList fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
            return fields.value(11, "-1").toLong() + fields.value(12).toLong();
        };
        const long before = cpuTicks();
        QVERIFY(before >= 0);
        QTest::qWait(500); // the span over which CPU use is measured
        // A busy loop would use about 500 ms; sleeping uses next to nothing.
        const double usedMs = double(cpuTicks() - before) * 1000.0 / double(sysconf(_SC_CLK_TCK));
        QVERIFY2(usedMs <= 60, qPrintable(QString::number(usedMs)));
    }

    void faults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<ByteList>("commands");
        QTest::addColumn<QString>("replyPattern"); // over everything received, as Latin-1
        QTest::addColumn<bool>("hangsUp");

        QTest::newRow("silent") << "silent" << ByteList { "$A9%", "$A60000%" } << "^$" << false;
        QTest::newRow("silent after two") << "silent-after=2" << ByteList { "$A9%", "$C0%", "$A9%" }
                                          << "^A9OK#C0OK#$" << false;
        QTest::newRow("garbage") << "garbage" << ByteList { "$A9%" } << "^[^#\\x00]+A9OK#$"
                                 << false;
        QTest::newRow("no terminator")
                << "no-terminator" << ByteList { "$A60000%" } << "^A60000=15$" << false;
        QTest::newRow("nul") << "nul" << ByteList { "$A9%" }
                             << "^(?=.*\\x00)A\\x00*9\\x00*O\\x00*K\\x00*#$" << false;
        QTest::newRow("first char only")
                << "first-char-only" << ByteList { "$A60000%" } << "^A$" << false;
        // The last reply reaches the tool before the line goes down.
        QTest::newRow("hangup after two")
                << "hangup-after=2" << ByteList { "$A9%", "$C0%" } << "^A9OK#C0OK#$" << true;
    }

    void faults()
    {
        QFETCH(QString, fault);
        QFETCH(ByteList, commands);
        QFETCH(QString, replyPattern);
        QFETCH(bool, hangsUp);

        BoardSimProcess board;
        QSerialPort port;
        QVERIFY(startWithPort(board, port, { "--baud", "0", "--fault", fault }));
        QByteArray received;
        for (qsizetype i = 0; i < commands.size(); ++i) {
            if (i > 0) { // each command on a new opening: the board outlives a closed port
                port.close();
                QVERIFY(port.open(QIODevice::ReadWrite));
            }
            port.write(commands.at(i));
            // Every frame is logged, answered or not.
            QVERIFY(board.waitForFrames(int(i) + 1, 2000));
            received += exchange(port, QByteArray());
        }
        const QString text = QString::fromLatin1(received);
        QVERIFY2(QRegularExpression(replyPattern, QRegularExpression::DotMatchesEverythingOption)
                         .match(text)
                         .hasMatch(),
                 qPrintable(text.toLatin1().toHex(' ')));
        QCOMPARE(board.frames(), commands);
        QCOMPARE(board.waitForFinished(hangsUp ? 3000 : 0), hangsUp);
        if (hangsUp) {
            QVERIFY(board.exitStatus() == QProcess::NormalExit && board.exitCode() == 0);
            QTRY_VERIFY_WITH_TIMEOUT(port.error() != QSerialPort::NoError, 3000);
        }
    }
};

QTEST_GUILESS_MAIN(TestBoardSim)
#include "tst_boardsim.moc"
