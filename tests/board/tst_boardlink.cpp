// The main window before any board is connected, and the board link against
// the simulated board on a pty: single exchanges, a connection's life timed
// on the board's own clock, and a line that fails.

#include "boardlink.h"
#include "connection.h"
#include "serialtransport.h"

#include <QLabel>
#include <QThread>

#include <fcntl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

using namespace WindowDriver;
using Frames = QList<QByteArray>;
using Exchanges = QList<QPair<QString, QString>>;

static QString hexCommand(const QByteArray &replyBytes)
{
    return "$T0" + QString::fromLatin1(replyBytes.toHex()) + '%';
}

static int exchange(MainWindow &window, const QString &command)
{
    window.sendCommand(command, command.length());
    return window.readReply();
}

// Each frame of the log at its time after the click: never early, but up to
// 250 ms late, as a tick waits for a core on a loaded machine. Still well
// inside the 750 ms a wrong tick count or interval would move a frame.
static void verifyTimes(const QList<BoardSimProcess::LogEntry> &log, double clickedAt,
                        const QList<QPair<QByteArray, double>> &expected)
{
    QCOMPARE(log.size(), expected.size());
    for (int i = 0; i < log.size(); ++i) {
        const double at = log[i].first - clickedAt;
        QCOMPARE(log[i].second, expected[i].first);
        QVERIFY2(at > expected[i].second - 60 && at < expected[i].second + 250,
                 qPrintable(QStringLiteral("%1 at %2 ms").arg(log[i].second).arg(at)));
    }
}

class TestBoardLink : public QObject
{
    Q_OBJECT

private slots:
    void imageAndPorts()
    {
        qputenv("AUX_NVRAM_EXTRA_PORTS", "/dev/pts/98::/dev/no-such-port");
        MainWindow window;
        qunsetenv("AUX_NVRAM_EXTRA_PORTS");
        const QImage image = QPixmap(":/VYK NVRAM icon image.png").toImage();
        QVERIFY(!image.isNull());
        QCOMPARE(window.findChild<QLabel *>("label")->pixmap().toImage(), image);

        // A blank entry, the system's ports by name, then the extra paths.
        auto *ports = window.findChild<QComboBox *>("comboBoxSerialPorts");
        QStringList items;
        for (int i = 0; i < ports->count(); ++i)
            items << ports->itemText(i);
        QCOMPARE(items.first(), QString());
        QCOMPARE(items.mid(items.size() - 2), (QStringList { "/dev/pts/98", "/dev/no-such-port" }));
        for (const QString &name : items.mid(1, items.size() - 3))
            QVERIFY2(!name.contains('/') && QFileInfo::exists("/dev/" + name), qPrintable(name));

        // Neither COMMS nor SEND shows before a port is chosen; the blank entry is none.
        window.show();
        emit ports->textActivated(QString());
        QVERIFY(!button(window, "btnConnectPort")->isVisible());
        QVERIFY(!button(window, "btnSendParams")->isVisible());

        // A port that cannot be opened is named in a warning, by its name
        // under /dev as the port list shows it; nothing connects.
        ModalAnswerer answerer;
        choosePort(window, "/dev/no-such-port");
        click(window, "btnConnectPort");
        QCOMPARE(answerer.messages(),
                 QStringList { "VYK NVRAM|Can't open no-such-port, error code 1 No such file "
                               "or directory" });
        verifyDisconnectedLook(window);
    }

    void exchanges_data()
    {
        QTest::addColumn<QStringList>("board");
        QTest::addColumn<Exchanges>("exchanges"); // command, reply
        QTest::addColumn<double>("minMs");        // all exchanges together
        QTest::addColumn<double>("maxMs");

        // Descriptions 1 to 4 make replies of 201, 201 and 200 characters and one cut at 201.
        static QTemporaryDir dir;
        const QString longTexts = dir.filePath("long.nvr");
        writeAll(longTexts,
                 "Page Number | Value | Description\n0000 | 4 | zero\n0001 | 1 | "
                         + QByteArray(230, 'x') + "\n0002 | 2 | " + QByteArray(193, 'y')
                         + "\n0003 | 3 | " + QByteArray(192, 'y') + "\n0004 | 4 | "
                         + QByteArray(260, 'z') + "\n");
        const QStringList instant { "--baud", "0" };
        QTest::newRow("reply ends at '#' or 201 characters")
                << instant + QStringList { "--load", longTexts }
                << Exchanges { { hexCommand("ab#cd#"), "ab#" },
                               { hexCommand(QByteArray("a\0b\0\0#", 6)), "ab#" },
                               { hexCommand("\xE9\xFF\x80#"),
                                 QString::fromLatin1("\xE9\xFF\x80#") },
                               { "$A70001%", "A70001=" + QString(194, 'x') },
                               { "$A70002%", "A70002=" + QString(193, 'y') + '#' },
                               { "$A70003%", "A70003=" + QString(192, 'y') + '#' },
                               { "$A70004%", "A70004=" + QString(194, 'z') },
                               { hexCommand("ok#"), "ok#" } }
                // Two cut replies, two 50 ms drains; one after every reply would make seven.
                << 100.0 << 300.0;
        // 62 bytes fill an adapter's packet and pass at once; a shorter reply waits.
        QTest::newRow("latency timer holds short replies")
                << instant + QStringList { "--latency-timer", "400" }
                << Exchanges { { "$T061*61,23%", QString(61, 'a') + '#' }, { "$A9%", "A9OK#" } }
                << 400.0 << 790.0;
        QTest::newRow("silent board: the watchdog, twice")
                << instant + QStringList { "--fault", "silent" }
                << Exchanges { { "$C0%", "" }, { "$A9%", "" } } << 3950.0 << 4600.0;
        const QString command95 = "$A5" + QString(91, 'd') + '%';
        QTest::newRow("command cut at 90 bytes")
                << instant << Exchanges { { command95, "" }, { "$A9%", "A9OK#" } } << 1950.0
                << 2400.0;
        // "C0" comes, then 3 s later "OK#": the reply ends after a whole
        // character gap, and the tail that comes a second later is dropped.
        QTest::newRow("stalled reply's tail is not the next reply")
                << instant + QStringList { "--fault", "stall-after=1" }
                << Exchanges { { "$A9%", "A9OK#" }, { "$C0%", "C0" }, { "$A9%", "A9OK#" } }
                << 2950.0 << 3700.0;
        QTest::newRow("board that never stops sending: the drain gives up")
                << instant + QStringList { "--fault", "endless-after=1" }
                << Exchanges { { "$A9%", "A9OK#" },
                               { "$C0%", QString(201, 'z') },
                               { "$C0%", QString(201, 'z') } }
                << 3950.0 << 4600.0;
    }

    void exchanges()
    {
        QFETCH(QStringList, board);
        QFETCH(Exchanges, exchanges);
        QFETCH(double, minMs);
        QFETCH(double, maxMs);

        BoardLink link;
        QVERIFY(link.start(board));
        link.connect();
        ModalAnswerer answerer;
        const double before = BoardSimProcess::nowMs();
        Frames frames;
        for (const auto &[command, reply] : exchanges) {
            QCOMPARE(exchange(*link.window, command), reply.length());
            QCOMPARE(sReply, reply);
            frames << command.left(90).toLatin1(); // the board logs what it got
        }
        const double ms = BoardSimProcess::nowMs() - before;
        QVERIFY2(ms >= minMs && ms <= maxMs, qPrintable(QString::number(ms)));
        // An endless board's stream answers no command, so it may log the last
        // one late. Looked for without the event loop: its ticks would send
        // keep-alives.
        const QDeadlineTimer deadline(5000);
        while (link.sim.frames().size() < frames.size() && !deadline.hasExpired())
            QThread::msleep(10);
        QCOMPARE(link.sim.frames(), frames);
        QVERIFY(answerer.messages().isEmpty());
    }

    void connectionLife()
    {
        iKeepAliveCountdown = 1;
        BoardLink link;
        QVERIFY(link.start({ "--baud", "0" }));
        QPushButton *connectButton = button(*link.window, "btnConnectPort");
        QVERIFY(!connectButton->isVisible());
        double clickedAt = link.connect();
        QVERIFY(connectButton->isVisible() && connectButton->styleSheet().contains("green"));

        // The port as the board's side of the pty sees it: 57600 baud, one
        // stop bit. Linux keeps a pty at 8 bits without parity whatever the
        // tool asks for, so those two show only on a real line.
        const int fd =
                ::open(QFile::encodeName(link.sim.portName()), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        termios line {};
        QVERIFY(fd >= 0 && tcgetattr(fd, &line) == 0);
        ::close(fd);
        QCOMPARE(cfgetispeed(&line), speed_t(B57600));
        QCOMPARE(int(line.c_cflag & (CSIZE | PARENB | CSTOPB)), int(CS8));

        // Greeting on the first tick, then a keep-alive on every second tick.
        QTRY_VERIFY_WITH_TIMEOUT(link.sim.log().size() >= 3, 5000);
        verifyTimes(link.sim.log(), clickedAt,
                    { { "$A9%", 750 }, { "$C0%", 2250 }, { "$C0%", 3750 } });
        QCOMPARE(edit(*link.window, "editFromAuxPCB")->text(), QStringLiteral("AuxParams"));
        QCOMPARE(edit(*link.window, "editToAuxPCB")->text(), QString());
        ModalAnswerer chooser(QCoreApplication::applicationFilePath()); // any file offers SEND
        click(*link.window, "btnToAuxPCB");
        QVERIFY(button(*link.window, "btnSendParams")->isVisible());
        // Escape leaves the name dialog without a read: no frame until the farewell.
        click(*link.window, "btnFromAuxPCB");
        QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape);
        QVERIFY(!QApplication::activeModalWidget());

        // Disconnected after a counting tick, so the next connection's first
        // tick after its greeting sends the keep-alive.
        QTRY_COMPARE_WITH_TIMEOUT(iKeepAliveCountdown, 0, 1500);
        click(*link.window, "btnConnectPort");
        QTRY_COMPARE_WITH_TIMEOUT(iConnectionState, 0, 2000);
        QCOMPARE(link.sim.frames().mid(3), Frames { "$A9%" });
        verifyDisconnectedLook(*link.window);

        const qsizetype before = link.sim.log().size();
        clickedAt = link.connect();
        QTRY_VERIFY_WITH_TIMEOUT(link.sim.log().size() >= before + 2, 3000);
        verifyTimes(link.sim.log().mid(before), clickedAt, { { "$A9%", 750 }, { "$C0%", 1500 } });

        // Two clicks inside one interval: the tick only says goodbye.
        click(*link.window, "btnConnectPort");
        QTRY_COMPARE_WITH_TIMEOUT(iConnectionState, 0, 2000);
        link.connect();
        click(*link.window, "btnConnectPort");
        QTRY_COMPARE_WITH_TIMEOUT(iConnectionState, 0, 2000);
        QCOMPARE(link.sim.frames().mid(before + 2), (Frames { "$A9%", "$A9%" }));
        verifyDisconnectedLook(*link.window);
    }

    // Opening the port asks its driver for low latency. A pty refuses that
    // request (its TIOCGSERIAL fails, so no TIOCSSERIAL and no restoring
    // follow), so what strace shows here is that the request is made: the
    // tool's own code reads the serial flags of the port's descriptor.
    // QSerialPort::open reads them too, to clear a custom baud rate, so a
    // call counts only with no Qt serial frame on its stack.
    void lowLatencyRequest()
    {
        BoardLink link;
        QVERIFY(link.start({ "--baud", "0" }));
        QTemporaryDir dir;
        QProcess strace;
        strace.setProcessChannelMode(QProcess::MergedChannels);
        prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY); // where Yama lets only a parent trace
        strace.start("strace",
                     { "-k", "-y", "-e", "trace=ioctl", "-o", dir.filePath("trace"), "-p",
                       QString::number(getpid()) });
        QByteArray said;
        while (!said.contains(" attached") && strace.waitForReadyRead())
            said += strace.readAll();
        link.connect();
        strace.terminate();
        QVERIFY(strace.waitForFinished());
        const QStringList calls =
                QString::fromLocal8Bit('\n' + readAll(dir.filePath("trace"))).split("\nioctl(");
        QVERIFY2(std::any_of(calls.begin(), calls.end(),
                             [&](const QString &call) {
                                 return call.contains('<' + link.sim.portName() + ">, TIOCGSERIAL")
                                         && call.contains(QCoreApplication::applicationFilePath())
                                         && !call.contains("libQt6SerialPort");
                             }),
                 said);
    }

    // A board that hangs up, like a pulled USB adapter: the port reads 0
    // for ever. Neither the read-error warning nor the idle window may spin
    // on it; a spin of a tenth of a core would take 0.3 s in each 3 s here.
    void hungUpLine_data()
    {
        QTest::addColumn<QStringList>("board");
        QTest::addColumn<QByteArray>("file"); // sent with SEND; empty: the window idles
        QTest::addColumn<QStringList>("warnings");
        QByteArray file = "Page Number | Value | Description\n";
        for (int page = 0; page < 20; ++page)
            file += QByteArray::number(page, 16).toUpper().rightJustified(4, '0') + " | v | d\n";
        QTest::newRow("while the window idles")
                << QStringList { "--baud", "0", "--fault", "hangup-after=1" } << QByteArray()
                << QStringList { "VYK NVRAM|Error: Read timeout on command $C0%" };
        // The greeting and five replies; page 2's description gets none.
        QTest::newRow("inside a write")
                << QStringList { "--baud", "0", "--fault", "hangup-after=6" } << file
                << QStringList { "VYK NVRAM|Error: Read timeout on command $A50002d%",
                                 "VYK NVRAM|Error: The link to the board failed at line 4, which "
                                 "may have reached the board in part; 17 lines after it were not "
                                 "sent, and the board was not told to save (\"$A8%\")." };
    }

    void hungUpLine()
    {
        QFETCH(QStringList, board);
        QFETCH(QByteArray, file);
        QFETCH(QStringList, warnings);

        QTemporaryDir dir;
        writeAll(dir.filePath("upload.nvr"), file);
        ModalAnswerer answerer(dir.filePath("upload.nvr"));
        answerer.holdFirstBox(3000);
        auto link = std::make_unique<BoardLink>();
        QVERIFY(link->start(board) && link->connectAndGreet());
        // The port's lock names its holder first; the pty's number may soon serve another test.
        const QString lockFile = "/var/lock/LCK.." + link->sim.portName().mid(5).replace('/', '_');
        const auto locked = [&] {
            return readAll(lockFile).startsWith(QByteArray::number(qApp->applicationPid()) + '\n');
        };
        QVERIFY(locked());
        click(*link->window, "btnToAuxPCB");
        const double cpuAtChoice = cpuSeconds();
        QElapsedTimer sending;
        sending.start();
        if (!file.isEmpty())
            click(*link->window, "btnSendParams");
        QTRY_VERIFY_WITH_TIMEOUT(answerer.held.ms >= 0, 6000);
        // A write stops at the dead line: back within one watchdog interval
        // of the warning, not 2 s later for every command left.
        if (!file.isEmpty())
            QCOMPARE_LT(sending.elapsed(), answerer.held.ms + 2500);
        // No spin up to the warning (the next exchange notices the hang-up),
        // while it is open, nor after it. Ticks due while it is open start no
        // exchange: one would keep its loop busy for the 2 s watchdog.
        const double cpuBefore = cpuSeconds();
        QTest::qWait(3000);
        QCOMPARE_LE(answerer.held.cpuAtOpen - cpuAtChoice, 0.1);
        QCOMPARE_LE(answerer.held.cpuAtClose - answerer.held.cpuAtOpen, 0.1);
        QCOMPARE_LT(answerer.held.ms, 3400);
        QCOMPARE_LE(cpuSeconds() - cpuBefore, 0.1);
        QCOMPARE(answerer.messages(), warnings);
        // The failed link hid SEND but still looks connected.
        QVERIFY(!button(*link->window, "btnSendParams")->isVisible());
        QVERIFY(button(*link->window, "btnConnectPort")->styleSheet().contains("green"));
        if (!file.isEmpty())
            return;

        // Its later exchanges wait out the watchdog asleep, and COMMS
        // disconnects, without opening it again: its lock is gone, and no
        // new warning.
        verifyAsleep(*link->window);
        click(*link->window, "btnConnectPort");
        QTRY_COMPARE_WITH_TIMEOUT(iConnectionState, 0, 5000);
        verifyDisconnectedLook(*link->window);
        QVERIFY(!locked());
        QCOMPARE(answerer.messages(), warnings);

        // The next connection reads again. Latched, it waits asleep even
        // while its board keeps sending.
        link.reset();
        link = std::make_unique<BoardLink>();
        QVERIFY(link->start({ "--baud", "0", "--fault", "endless-after=1" }));
        link->connect();
        QCOMPARE(exchange(*link->window, "$A9%"), 5);
        bReadError = true;
        verifyAsleep(*link->window);
    }

private:
    // An exchange that gets nothing: it ends with the watchdog, and a spin
    // over those 2 s would take at least half a core even on a loaded machine.
    static void verifyAsleep(MainWindow &window)
    {
        const double cpuBefore = cpuSeconds(), before = BoardSimProcess::nowMs();
        exchange(window, "$C0%");
        QCOMPARE_LT(BoardSimProcess::nowMs() - before, 2600);
        QCOMPARE_LT(cpuSeconds() - cpuBefore, 0.4);
    }
};

QTEST_MAIN(TestBoardLink)
#include "tst_boardlink.moc"
