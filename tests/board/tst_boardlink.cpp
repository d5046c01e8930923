// The board link against the simulated board on a pty, through the main
// window: single exchanges, a connection's life from the port list on, timed
// on the board's own clock, and a line that fails.

#include "boardlink.h"
#include "connection.h"
#include "serialtransport.h"

#include <QThread>

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
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
    void exchanges_data()
    {
        QTest::addColumn<QStringList>("board");
        QTest::addColumn<Exchanges>("exchanges"); // command, reply
        QTest::addColumn<double>("minMs");        // all exchanges together
        QTest::addColumn<double>("maxMs");

        const QStringList instant { "--baud", "0" };
        QTest::newRow("reply ends at '#' or 201 characters")
                << instant
                << Exchanges { { hexCommand("ab#cd#"), "ab#" },
                               { hexCommand(QByteArray("a\0b\0\0#", 6)), "ab#" },
                               { hexCommand("\xE9\xFF\x80#"),
                                 QString::fromLatin1("\xE9\xFF\x80#") },
                               { "$T078*230,23%", QString(201, 'x') },
                               { "$T079*200,23%", QString(200, 'y') + '#' },
                               { "$T07A*260,23%", QString(201, 'z') },
                               { hexCommand("ok#"), "ok#" } }
                // Two cut replies, two 50 ms drains; one after every reply would make seven.
                << 100.0 << 300.0;
        // The board gets no "%", so it answers nothing: the watchdog, twice.
        const QString command95 = "$A5" + QString(91, 'd') + '%';
        QTest::newRow("command cut at 90 bytes")
                << instant
                << Exchanges { { command95, "" }, { command95, "" }, { "$A9%", "A9OK#" } } << 3950.0
                << 4600.0;
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
        // Every byte 1.4 s after the one before, each inside the gap: the
        // reply is cut 6 s after the command, before its fifth byte.
        QTest::newRow("reply that trickles in: cut after the watchdog and 4 s")
                << instant + QStringList { "--fault", "dribble=1400" }
                << Exchanges { { "$C0%", "C0OK" } } << 5950.0 << 6400.0;
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
        ModalAnswerer answerer; // a read-error warning must not block: the replies show it
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
    }

    // From the port list to the disconnect: the ports before
    // any board is connected, a port that cannot be opened, then a
    // connection's life timed on the board's own clock.
    void connectionLife()
    {
        iKeepAliveCountdown = 1;
        qputenv("AUX_NVRAM_EXTRA_PORTS", ":/dev/no-such-port"); // after the board's port
        BoardLink link;
        QVERIFY(link.start({ "--baud", "0" }));

        // A blank entry, the system's ports by name, then the extra paths.
        auto *ports = link.window->findChild<QComboBox *>("comboBoxSerialPorts");
        const int count = ports->count();
        QCOMPARE(ports->itemText(0), QString());
        QCOMPARE(ports->itemText(count - 2), link.sim.portName());
        QCOMPARE(ports->itemText(count - 1), "/dev/no-such-port");

        // COMMS does not show before a port is chosen; the blank entry is none.
        emit ports->textActivated(QString());
        QVERIFY(!button(*link.window, "btnConnectPort")->isVisible());

        // A port that cannot be opened is named in a warning, by its name
        // under /dev as the port list shows it; nothing connects.
        ModalAnswerer answerer(QCoreApplication::applicationFilePath()); // any file offers SEND
        choosePort(*link.window, "/dev/no-such-port");
        click(*link.window, "btnConnectPort");
        QCOMPARE(answerer.messages(),
                 QStringList { "VYK NVRAM|Can't open no-such-port, error code 1 No such file "
                               "or directory" });
        verifyDisconnectedLook(*link.window);
        // The board's port locked by another user's program that no longer
        // runs: this user cannot remove the lock, and is told who can.
        const QString pts = link.sim.portName().mid(5),
                      stale = "/run/lock/LCK.." + QString(pts).replace('/', '_');
        if (::geteuid() == 0) {
            // No process has the number pid_max.
            writeAll(stale, readAll("/proc/sys/kernel/pid_max"));
            QVERIFY(::chown(QFile::encodeName(stale), 1, 1) == 0 && ::seteuid(1000) == 0);
            choosePort(*link.window, link.sim.portName());
            click(*link.window, "btnConnectPort");
            QVERIFY(::seteuid(0) == 0 && QFile::remove(stale));
            const QString text("VYK NVRAM|Can't open %1, error code 2 Permission error while "
                               "locking the device. Its lock file %2 was left by daemon, whose "
                               "program no longer runs: ask an administrator to remove %2.");
            QCOMPARE(answerer.messages().value(1), text.arg(pts, stale));
        }

        double clickedAt = link.connect(); // its green button is checked with the hang-ups

        // The port as the board's side of the pty sees it: 57600 baud, one
        // stop bit. Linux keeps a pty at 8 bits without parity whatever the
        // tool asks for, so those two show only on a real line. Its driver,
        // the preloaded stand-in for a USB serial one, keeps what the tool
        // asked of it: low latency while connected, and no longer after.
        // An open port is exclusive to the tool but for root, so it is
        // looked at through the tool's own descriptor.
        termios line {};
        const auto lowLatency = [&] {
            int fd = -1;
            for (const QFileInfo &open : QDir("/proc/self/fd").entryInfoList(QDir::System))
                if (open.symLinkTarget() == link.sim.portName())
                    fd = ::dup(open.fileName().toInt());
            if (fd < 0)
                fd = ::open(QFile::encodeName(link.sim.portName()),
                            O_RDONLY | O_NOCTTY | O_NONBLOCK);
            serial_struct serial {};
            const bool asked = ::ioctl(fd, TIOCGSERIAL, &serial) == 0;
            tcgetattr(fd, &line);
            ::close(fd);
            return asked ? QString::number(serial.flags & ASYNC_LOW_LATENCY) : "not preloaded";
        };
        QCOMPARE(lowLatency(), QString::number(ASYNC_LOW_LATENCY));
        QCOMPARE(cfgetispeed(&line), speed_t(B57600));
        QCOMPARE(int(line.c_cflag & (CSIZE | PARENB | CSTOPB)), int(CS8));

        // Greeting on the first tick, then a keep-alive on every second tick.
        QTRY_VERIFY_WITH_TIMEOUT(link.sim.log().size() >= 3, 5000);
        verifyTimes(link.sim.log(), clickedAt,
                    { { "$A9%", 750 }, { "$C0%", 2250 }, { "$C0%", 3750 } });
        QCOMPARE(edit(*link.window, "editFromAuxPCB")->text(), QStringLiteral("AuxParams"));
        QCOMPARE(edit(*link.window, "editToAuxPCB")->text(), QString());
        click(*link.window, "btnToAuxPCB");
        QVERIFY(button(*link.window, "btnSendParams")->isVisible());
        // Escape leaves the name dialog without a read: no frame until the farewell.
        click(*link.window, "btnFromAuxPCB");
        QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape);
        QVERIFY(!QApplication::activeModalWidget());

        // Disconnected after a counting tick, so the next connection's first
        // tick after its greeting sends the keep-alive. Between the two, two
        // clicks inside one interval: that tick only says goodbye.
        QTRY_COMPARE_WITH_TIMEOUT(iKeepAliveCountdown, 0, 1500);
        click(*link.window, "btnConnectPort");
        QTRY_COMPARE_WITH_TIMEOUT(iConnectionState, 0, 2000);
        link.connect();
        click(*link.window, "btnConnectPort");
        QTRY_COMPARE_WITH_TIMEOUT(iConnectionState, 0, 2000);
        QCOMPARE(link.sim.frames().mid(3), (Frames { "$A9%", "$A9%" }));
        verifyDisconnectedLook(*link.window);
        QCOMPARE(lowLatency(), "0");

        const qsizetype before = link.sim.log().size();
        clickedAt = link.connect();
        QTRY_VERIFY_WITH_TIMEOUT(link.sim.log().size() >= before + 2, 3000);
        verifyTimes(link.sim.log().mid(before), clickedAt, { { "$A9%", 750 }, { "$C0%", 1500 } });
    }

    // A board that hangs up, like a pulled USB adapter: the port reads 0
    // for ever. Neither the read-error warning nor the idle window may spin
    // on it: from the file's choice to 3 s after the warning, 4 s and more,
    // a spin of a tenth of a core would take over 0.4 s.
    void hungUpLine_data()
    {
        QTest::addColumn<QStringList>("board");
        QTest::addColumn<QByteArray>("file"); // sent with SEND; empty: the window idles
        QTest::addColumn<QStringList>("warnings");
        const QByteArray file =
                "Page Number | Value | Description\n" + QByteArray("0000 | v | d\n").repeated(20);
        QTest::newRow("while the window idles")
                << QStringList { "--baud", "0", "--fault", "hangup-after=1" } << QByteArray()
                << QStringList { "VYK NVRAM|Error: Read timeout on command $C0%" };
        // The greeting and five replies; line 4's description gets none.
        QTest::newRow("inside a write")
                << QStringList { "--baud", "0", "--fault", "hangup-after=6" } << file
                << QStringList {
                       "VYK NVRAM|Error: Read timeout on command $A50000d%",
                       "VYK NVRAM|Error: The link to the board failed at line 4, which "
                       "may have reached the board in part; 17 lines after it were not "
                       "sent, and the board was not told to save (\"$A8%\"). Reconnect, then "
                       "send the file again."
                   };
    }

    void hungUpLine()
    {
        QFETCH(QStringList, board);
        QFETCH(QByteArray, file);
        QFETCH(QStringList, warnings);

        QTemporaryDir dir;
        writeAll(dir.filePath("upload.nvr"), file);
        ModalAnswerer answerer(dir.filePath("upload.nvr"));
        answerer.holdFirstBox(1200); // closed before the watchdog runs out
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
        QTRY_VERIFY_WITH_TIMEOUT(answerer.heldMs >= 0, 6000);
        // A write stops at the dead line, and the reply that found it dead
        // returns at once: not 2 s later for every command left, nor after
        // the 2 s a stalled reply waits for its next character.
        if (!file.isEmpty())
            QCOMPARE_LT(sending.elapsed(), answerer.heldMs + 1000);
        // No spin up to the warning (the next exchange notices the hang-up),
        // while it is open, nor after it. Ticks due while it is open start no
        // exchange: one would keep its loop busy for the 2 s watchdog.
        QTest::qWait(3000);
        QCOMPARE_LE(cpuSeconds() - cpuAtChoice, 0.3);
        QCOMPARE_LT(answerer.heldMs, 1600);
        // The failed link hid SEND but still looks connected.
        QVERIFY(!button(*link->window, "btnSendParams")->isVisible());
        QVERIFY(button(*link->window, "btnConnectPort")->styleSheet().contains("green"));

        // COMMS disconnects without opening it again: its lock is gone, and
        // no new warning. The tick that carries the click out lets the window
        // go at once: no farewell waits out the watchdog on a lost port.
        click(*link->window, "btnConnectPort");
        const double disconnecting = BoardSimProcess::nowMs();
        QMetaObject::invokeMethod(link->window.get(), "MainPollingTimerElapsed");
        QCOMPARE_LT(BoardSimProcess::nowMs() - disconnecting, 200);
        verifyDisconnectedLook(*link->window);
        QVERIFY(!locked());
        QCOMPARE(answerer.messages(), warnings);
        if (!file.isEmpty())
            return;

        // The next connection reads again. Latched, an exchange sends nothing
        // and waits out the watchdog asleep even while its board keeps
        // sending: a spin over those 2 s would take half a core even on a
        // loaded machine.
        link = std::make_unique<BoardLink>();
        QVERIFY(link->start({ "--baud", "0", "--fault", "endless-after=1" }));
        link->connect();
        QCOMPARE(exchange(*link->window, "$A9%"), 5);
        bReadError = true;
        const double cpuBefore = cpuSeconds(), before = BoardSimProcess::nowMs();
        exchange(*link->window, "$C0%");
        QCOMPARE_LT(BoardSimProcess::nowMs() - before, 2600);
        QCOMPARE_LT(cpuSeconds() - cpuBefore, 0.4);
        QCOMPARE(link->sim.frames(), Frames { "$A9%" });
    }
};

QTEST_MAIN(TestBoardLink)
#include "tst_boardlink.moc"
