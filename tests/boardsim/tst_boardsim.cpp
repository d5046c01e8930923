// The simulated AUX PCB: command line, replies, NVRAM file, log, timing and
// faults, all through its real pseudo-terminal.

#include "boardsimprocess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>
#include <unistd.h>

using ByteList = QList<QByteArray>;

class TestBoardSim : public QObject
{
    Q_OBJECT

private slots:
    void commandLine_data();
    void commandLine();
    void exchanges_data();
    void exchanges();
    void generatedPagesReadLikeABoard();
    void saveWritesNvrFile_data();
    void saveWritesNvrFile();
    void logRecordsFramesOnMonotonicClock();
    void pacing_data();
    void pacing();
    void noCpuWhileWaiting_data();
    void noCpuWhileWaiting();
    void portCanBeReopened();
    void signalEndsCleanly_data();
    void signalEndsCleanly();
    void hangupClosesLineAndExits();
    void faults_data();
    void faults();
};

// A board file with the awkward cases of the format: Latin-1 text, blanks
// at the edges, an empty field, compact separators, a CR LF line end.
static const QByteArray kBoardFile = "Page Number | Value | Description\n"
                                     "0000 | 3 | Last page\n"
                                     "0001 | 250 | Temp\xC3\xA9rature\n"
                                     "0002 |  spaced  | \n"
                                     "0003|x|y|extra\r\n";

static bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

static QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

static bool openPort(QSerialPort &port, const QString &name)
{
    port.setPortName(name);
    port.setBaudRate(QSerialPort::Baud57600);
    if (port.open(QIODevice::ReadWrite))
        return true;
    qWarning("%s: %s", qPrintable(name), qPrintable(port.errorString()));
    return false;
}

// Reads until size bytes have come or timeoutMs has passed.
static QByteArray readBytes(QSerialPort &port, qsizetype size, int timeoutMs = 3000)
{
    QByteArray received = port.readAll();
    QDeadlineTimer deadline(timeoutMs);
    while (received.size() < size && port.waitForReadyRead(int(deadline.remainingTime())))
        received += port.readAll();
    return received;
}

// Everything that arrives until the line has been quiet for quietMs.
static QByteArray readUntilQuiet(QSerialPort &port, int quietMs = 150)
{
    QByteArray received = port.readAll();
    while (port.waitForReadyRead(quietMs))
        received += port.readAll();
    return received;
}

// Reads up to and including a '#'.
static QByteArray readReply(QSerialPort &port, int timeoutMs = 3000)
{
    QByteArray received = port.readAll();
    QDeadlineTimer deadline(timeoutMs);
    while (!received.endsWith('#') && port.waitForReadyRead(int(deadline.remainingTime())))
        received += port.readAll();
    return received;
}

static QByteArray exchange(QSerialPort &port, const QByteArray &command, qsizetype replySize)
{
    port.write(command);
    port.waitForBytesWritten(1000);
    return readBytes(port, replySize);
}

// CPU time the process has used so far, from /proc/<pid>/stat.
static double cpuMsOf(qint64 pid)
{
    const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    // Fields after the command name, which is in parentheses: utime, stime
    // are the 12th and 13th of them.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const double ticks = fields.at(11).toDouble() + fields.at(12).toDouble();
    return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

void TestBoardSim::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("stdoutHas");
    QTest::addColumn<QString>("stderrHas");

    QTest::newRow("help") << QStringList{"--help"} << 0
                          << QStringList{"--pages", "--load", "--save", "--log", "--baud",
                                         "--turnaround", "--fault", "--help", "silent",
                                         "silent-after=N", "garbage", "no-terminator", "nul",
                                         "first-char-only", "hangup-after=N", "$T0"}
                          << QString();
    QTest::newRow("unknown option") << QStringList{"--speed", "3"} << 2 << QStringList()
                                    << "--speed";
    QTest::newRow("missing value") << QStringList{"--pages"} << 2 << QStringList() << "--pages";
    QTest::newRow("baud not a number") << QStringList{"--baud", "fast"} << 2 << QStringList()
                                       << "--baud";
    QTest::newRow("negative turnaround") << QStringList{"--turnaround=-5"} << 2 << QStringList()
                                         << "--turnaround";
    QTest::newRow("unknown fault") << QStringList{"--fault", "flaky"} << 2 << QStringList()
                                   << "--fault";
    QTest::newRow("fault count missing") << QStringList{"--fault", "silent-after="} << 2
                                         << QStringList() << "--fault";
    QTest::newRow("board file missing") << QStringList{"--load", "/nonexistent/board.nvr"} << 1
                                        << QStringList() << "/nonexistent/board.nvr";
}

void TestBoardSim::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QStringList, stdoutHas);
    QFETCH(QString, stderrHas);

    QProcess process;
    process.start(BoardSimProcess::programPath(), args);
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
    for (const QString &text : stdoutHas)
        QVERIFY2(out.contains(text), qPrintable(text));
    // A failure names its cause and prints no port, so nobody waits for one.
    const QString err = QString::fromLocal8Bit(process.readAllStandardError());
    QVERIFY2(err.contains(stderrHas), qPrintable(err));
    if (exitCode != 0)
        QVERIFY(out.isEmpty());
}

void TestBoardSim::exchanges_data()
{
    QTest::addColumn<ByteList>("commands");
    QTest::addColumn<ByteList>("replies");

    QTest::newRow("hello") << ByteList{"$A9%"} << ByteList{"A9OK#"};
    QTest::newRow("keep-alive") << ByteList{"$C0%"} << ByteList{"C0OK#"};
    QTest::newRow("page 0 value") << ByteList{"$A60000%"} << ByteList{"A60000=3#"};
    QTest::newRow("Latin-1 description") << ByteList{"$A70001%"}
                                         << ByteList{"A70001=Temp\xE9rature#"};
    QTest::newRow("value untrimmed") << ByteList{"$A60002%"} << ByteList{"A60002= spaced #"};
    QTest::newRow("empty description") << ByteList{"$A70002%"} << ByteList{"A70002=#"};
    QTest::newRow("compact separators") << ByteList{"$A60003%", "$A70003%"}
                                        << ByteList{"A60003=x#", "A70003=y#"};
    QTest::newRow("unknown page refused") << ByteList{"$A60004%", "$A70004%"}
                                          << ByteList{"A60004=#", "A70004=#"};
    QTest::newRow("five-digit page") << ByteList{"$A610000%"} << ByteList{"A610000#"};
    QTest::newRow("noise outside frames") << ByteList{"xx%$A9%yy"} << ByteList{"A9OK#"};
    QTest::newRow("frame cut by new frame") << ByteList{"$A60000$C0%"} << ByteList{"C0OK#"};
    QTest::newRow("write value") << ByteList{"$A40001new value%", "$A60001%", "$A70001%"}
                                 << ByteList{"A4OK#", "A60001=new value#",
                                             "A70001=Temp\xE9rature#"};
    QTest::newRow("write Latin-1 description")
            << ByteList{"$A50002caf\xE9%", "$A70002%", "$A60002%"}
            << ByteList{"A5OK#", "A70002=caf\xE9#", "A60002= spaced #"};
    QTest::newRow("write past the end")
            << ByteList{"$A40006six%", "$A60005%", "$A60006%", "$A70006%"}
            << ByteList{"A4OK#", "A60005=#", "A60006=six#", "A70006=#"};
    QTest::newRow("page number too short") << ByteList{"$A415%", "$A60001%"}
                                           << ByteList{"ERR#", "A60001=250#"};
    QTest::newRow("raw bytes") << ByteList{"$T00041FF00e9%"}
                               << ByteList{QByteArray("\0A\xFF\0\xE9", 5)};
    QTest::newRow("raw bytes repeated") << ByteList{"$T041*200,23%"}
                                        << ByteList{QByteArray(200, 'A') + '#'};
    QTest::newRow("raw bytes malformed") << ByteList{"$T04%"} << ByteList{"ERR#"};
    QTest::newRow("unknown command") << ByteList{"$B1%", "$A9x%"} << ByteList{"ERR#", "ERR#"};
}

void TestBoardSim::exchanges()
{
    QFETCH(ByteList, commands);
    QFETCH(ByteList, replies);

    QTemporaryDir dir;
    const QString boardFile = dir.filePath("board.nvr");
    QVERIFY(writeFile(boardFile, kBoardFile));
    BoardSimProcess board;
    QVERIFY(board.start({"--baud", "0", "--load", boardFile}));
    QSerialPort port;
    QVERIFY(openPort(port, board.portName()));

    for (qsizetype i = 0; i < commands.size(); ++i)
        QCOMPARE(exchange(port, commands.at(i), replies.at(i).size()), replies.at(i));
    QCOMPARE(readUntilQuiet(port, 50), QByteArray());
}

void TestBoardSim::generatedPagesReadLikeABoard()
{
    const int pages = 40;
    BoardSimProcess board;
    QVERIFY(board.start({"--baud", "0", "--pages", QString::number(pages)}));
    QSerialPort port;
    QVERIFY(openPort(port, board.portName()));

    QByteArray allText;
    for (int page = 0; page <= pages; ++page) {
        for (const char *code : {"A6", "A7"}) {
            const QByteArray pageText = QByteArray::number(page, 16).toUpper().rightJustified(4, '0');
            port.write(QByteArray("$") + code + pageText + "%");
            const QByteArray reply = readReply(port);
            QVERIFY2(reply.startsWith(code + pageText + "=") && reply.endsWith('#'), reply);
            const QByteArray text = reply.mid(7).chopped(1);
            if (page == pages) {
                QCOMPARE(text, QByteArray()); // one past the last: refused
                continue;
            }
            // The tool takes an 8-character reply for a refusal, and it
            // cannot carry these bytes through its file or its framing.
            QVERIFY2(!text.isEmpty(), reply);
            QVERIFY2(!text.contains('|') && !text.contains('#') && !text.contains('\0'), reply);
            if (page == 0 && QByteArray(code) == "A6")
                QCOMPARE(text, QByteArray::number(pages - 1));
            allText += text + '\n';
        }
    }
    QVERIFY(allText.contains('\xE9'));
    QVERIFY(allText.contains('\xB0') || allText.contains('\xFC'));
    QVERIFY(allText.contains("\n ") || allText.contains(" \n")); // blanks at an edge
}

void TestBoardSim::saveWritesNvrFile_data()
{
    QTest::addColumn<ByteList>("commands");
    QTest::addColumn<QByteArray>("saved"); // empty: no file

    const QByteArray header = "Page Number | Value | Description\n";
    const QByteArray pages = "0000 | 3 | Last page\n"
                             "0001 | 250 | Temp\xC3\xA9rature\n"
                             "0002 |  spaced  | \n"
                             "0003 | x | y\n";
    QTest::newRow("as loaded") << ByteList{"$A8%"} << header + pages;
    QTest::newRow("page changed")
            << ByteList{"$A400011000%", "$A50001Caf\xE9 \xB0%", "$A8%"}
            << header + QByteArray(pages).replace("250 | Temp\xC3\xA9rature", "1000 | Caf\xC3\xA9 \xC2\xB0");
    QTest::newRow("gap filled") << ByteList{"$A50005five%", "$A8%"}
                                << header + pages + "0004 |  | \n0005 |  | five\n";
    QTest::newRow("nothing before save command") << ByteList{"$A400019%"} << QByteArray();
}

void TestBoardSim::saveWritesNvrFile()
{
    QFETCH(ByteList, commands);
    QFETCH(QByteArray, saved);

    QTemporaryDir dir;
    const QString boardFile = dir.filePath("board.nvr");
    const QString saveFile = dir.filePath("saved.nvr");
    QVERIFY(writeFile(boardFile, kBoardFile));
    BoardSimProcess board;
    QVERIFY(board.start({"--baud", "0", "--load", boardFile, "--save", saveFile}));
    QSerialPort port;
    QVERIFY(openPort(port, board.portName()));

    for (const QByteArray &command : commands)
        QCOMPARE(exchange(port, command, 5), command.mid(1, 2) + "OK#");
    QCOMPARE(QFile::exists(saveFile), !saved.isEmpty());
    QCOMPARE(readFile(saveFile), saved);
}

void TestBoardSim::logRecordsFramesOnMonotonicClock()
{
    // The log shares its clock with QElapsedTimer, which tests time with.
    QElapsedTimer timer;
    timer.start();
    QVERIFY(qAbs(BoardSimProcess::nowMs() - double(timer.msecsSinceReference())) < 50);

    BoardSimProcess board;
    QVERIFY(board.start({"--baud", "0"}));
    QSerialPort port;
    QVERIFY(openPort(port, board.portName()));

    const double before = BoardSimProcess::nowMs();
    QCOMPARE(exchange(port, "$A9%", 5), QByteArray("A9OK#"));
    const double between = BoardSimProcess::nowMs();
    QCOMPARE(exchange(port, "$A5000\\1a\nb\xE9$C0%", 5), QByteArray("C0OK#"));
    const double after = BoardSimProcess::nowMs();

    QVERIFY(board.waitForFrames(3, 2000));
    const QList<BoardSimProcess::LogEntry> log = board.log();
    QCOMPARE(log.size(), 3);
    QCOMPARE(log.at(0).frame, QByteArray("$A9%"));
    QCOMPARE(log.at(1).frame, QByteArray("$A5000\\1a\nb\xE9"));
    QCOMPARE(log.at(2).frame, QByteArray("$C0%"));
    QCOMPARE(log.at(0).incomplete, false);
    QCOMPARE(log.at(1).incomplete, true);
    QCOMPARE(log.at(2).incomplete, false);
    QVERIFY2(log.at(0).ms >= before - 1 && log.at(0).ms <= between + 1,
             qPrintable(QStringLiteral("%1 %2 %3").arg(before).arg(log.at(0).ms).arg(between)));
    QVERIFY(log.at(1).ms >= between - 1 && log.at(1).ms <= log.at(2).ms);
    QVERIFY(log.at(2).ms <= after + 1);
    QCOMPARE(board.frames(), (ByteList{"$A9%", "$A5000\\1a\nb\xE9", "$C0%"}));
}

void TestBoardSim::pacing_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<int>("replySize");
    QTest::addColumn<double>("minMs");    // command and reply on the line, plus turnaround
    QTest::addColumn<double>("maxMs");
    QTest::addColumn<double>("minSpreadMs"); // first to last reply byte

    // 12 command bytes and 100 reply bytes, of which the last starts 99
    // character times after the first: at 57600 baud 2.1 + 17.2 ms.
    QTest::newRow("57600 baud") << QStringList{"--baud", "57600"} << QByteArray("$T041*99,23%")
                                << 100 << 19.0 << 300.0 << 0.0;
    QTest::newRow("9600 baud") << QStringList{"--baud", "9600"} << QByteArray("$T041*99,23%")
                               << 100 << 115.0 << 400.0 << 60.0;
    QTest::newRow("instant") << QStringList{"--baud", "0"} << QByteArray("$T041*999,23%")
                             << 1000 << 0.0 << 60.0 << 0.0;
    QTest::newRow("turnaround") << QStringList{"--baud", "0", "--turnaround", "150"}
                                << QByteArray("$A9%") << 5 << 150.0 << 400.0 << 0.0;
}

void TestBoardSim::pacing()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, command);
    QFETCH(int, replySize);
    QFETCH(double, minMs);
    QFETCH(double, maxMs);
    QFETCH(double, minSpreadMs);

    BoardSimProcess board;
    QVERIFY(board.start(args));
    QSerialPort port;
    QVERIFY(openPort(port, board.portName()));

    const double sent = BoardSimProcess::nowMs();
    port.write(command);
    port.waitForBytesWritten(1000);
    QVERIFY(port.waitForReadyRead(2000));
    const double first = BoardSimProcess::nowMs();
    const QByteArray reply = readBytes(port, replySize);
    const double last = BoardSimProcess::nowMs();

    QCOMPARE(reply.size(), replySize);
    const QString times = QStringLiteral("total %1 ms, spread %2 ms").arg(last - sent).arg(last - first);
    QVERIFY2(last - sent >= minMs && last - sent <= maxMs, qPrintable(times));
    QVERIFY2(last - first >= minSpreadMs, qPrintable(times));
}

void TestBoardSim::noCpuWhileWaiting_data()
{
    QTest::addColumn<QByteArray>("command"); // empty: stay idle
    QTest::addColumn<int>("replySize");

    QTest::newRow("idle") << QByteArray() << 0;
    // 500 bytes at 9600 baud take about 0.5 s to send.
    QTest::newRow("pacing a long reply") << QByteArray("$T041*499,23%") << 500;
}

void TestBoardSim::noCpuWhileWaiting()
{
    QFETCH(QByteArray, command);
    QFETCH(int, replySize);

    BoardSimProcess board;
    QVERIFY(board.start({"--baud", "9600"}));
    QSerialPort port;
    QVERIFY(openPort(port, board.portName()));
    const double cpuBefore = cpuMsOf(board.processId());
    QVERIFY(cpuBefore >= 0);

    const double start = BoardSimProcess::nowMs();
    if (command.isEmpty())
        QTest::qWait(500); // the span over which CPU use is measured
    else
        QCOMPARE(exchange(port, command, replySize).size(), replySize);
    const double wallMs = BoardSimProcess::nowMs() - start;

    const double cpuMs = cpuMsOf(board.processId()) - cpuBefore;
    QVERIFY(wallMs >= 450);
    // A busy loop would use about wallMs; sleeping uses next to nothing.
    QVERIFY2(cpuMs <= 60, qPrintable(QStringLiteral("%1 ms CPU in %2 ms").arg(cpuMs).arg(wallMs)));
}

void TestBoardSim::portCanBeReopened()
{
    BoardSimProcess board;
    QVERIFY(board.start({"--baud", "0"}));
    for (const QByteArray &command : {QByteArray("$A9%"), QByteArray("$C0%"), QByteArray("$A9%")}) {
        QSerialPort port;
        QVERIFY(openPort(port, board.portName()));
        QCOMPARE(exchange(port, command, 5), command.mid(1, 2) + "OK#");
        port.close();
        QVERIFY(board.isRunning());
    }
    QCOMPARE(board.frames(), (ByteList{"$A9%", "$C0%", "$A9%"}));
}

void TestBoardSim::signalEndsCleanly_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestBoardSim::signalEndsCleanly()
{
    QFETCH(int, signalNumber);

    BoardSimProcess board;
    QVERIFY(board.start({"--baud", "0"}));
    QSerialPort port;
    QVERIFY(openPort(port, board.portName())); // a tool holding the port does not keep it alive
    QCOMPARE(exchange(port, "$A9%", 5), QByteArray("A9OK#"));

    QCOMPARE(::kill(pid_t(board.processId()), signalNumber), 0);
    QVERIFY(board.waitForFinished(3000));
    QCOMPARE(board.exitStatus(), QProcess::NormalExit);
    QCOMPARE(board.exitCode(), 0);
}

void TestBoardSim::hangupClosesLineAndExits()
{
    BoardSimProcess board;
    QVERIFY(board.start({"--baud", "0", "--fault", "hangup-after=2"}));
    QSerialPort port;
    QVERIFY(openPort(port, board.portName()));
    QSignalSpy errors(&port, &QSerialPort::errorOccurred);

    QCOMPARE(exchange(port, "$A9%", 5), QByteArray("A9OK#"));
    QVERIFY(board.isRunning());
    // The last reply must reach the tool before the line goes down.
    QCOMPARE(exchange(port, "$C0%", 5), QByteArray("C0OK#"));

    QVERIFY(board.waitForFinished(3000));
    QCOMPARE(board.exitStatus(), QProcess::NormalExit);
    QCOMPARE(board.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!errors.isEmpty() && port.error() != QSerialPort::NoError, 3000);
}

void TestBoardSim::faults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<ByteList>("commands");
    QTest::addColumn<QString>("replyPattern"); // over everything received, as Latin-1

    QTest::newRow("silent") << "silent" << ByteList{"$A9%", "$A60000%"} << "^$";
    QTest::newRow("silent after two") << "silent-after=2" << ByteList{"$A9%", "$C0%", "$A9%", "$C0%"}
                                      << "^A9OK#C0OK#$";
    QTest::newRow("garbage") << "garbage" << ByteList{"$A9%"} << "^[^#\\x00]+A9OK#$";
    QTest::newRow("no terminator") << "no-terminator" << ByteList{"$A60000%"} << "^A60000=15$";
    QTest::newRow("nul") << "nul" << ByteList{"$A9%"}
                         << "^(?=.*\\x00)A\\x00*9\\x00*O\\x00*K\\x00*#$";
    QTest::newRow("first char only") << "first-char-only" << ByteList{"$A60000%"} << "^A$";
}

void TestBoardSim::faults()
{
    QFETCH(QString, fault);
    QFETCH(ByteList, commands);
    QFETCH(QString, replyPattern);

    BoardSimProcess board;
    QVERIFY(board.start({"--baud", "0", "--fault", fault}));
    QSerialPort port;
    QVERIFY(openPort(port, board.portName()));

    QByteArray received;
    for (qsizetype i = 0; i < commands.size(); ++i) {
        port.write(commands.at(i));
        QVERIFY(board.waitForFrames(int(i) + 1, 2000)); // every frame is logged, answered or not
        received += readUntilQuiet(port, 100);
    }
    const QString text = QString::fromLatin1(received);
    QVERIFY2(QRegularExpression(replyPattern, QRegularExpression::DotMatchesEverythingOption)
                     .match(text).hasMatch(),
             qPrintable(text.toLatin1().toHex(' ')));
    QCOMPARE(board.frames(), commands);
}

QTEST_GUILESS_MAIN(TestBoardSim)
#include "tst_boardsim.moc"
