// Command/reply exchanges against the simulated board on a real pty.

#include "boardlinkfixture.h"
#include "modalanswerer.h"
#include "serialtransport.h"

#include <QElapsedTimer>

class TestTransport : public QObject
{
    Q_OBJECT

private slots:
    void replies_data();
    void replies();
    void silentBoard();
    void halfReplyEndsAfterBound();
    void commandCappedAt90Bytes();
    void staleBytesNeverReachNextReply();
};

static QString hexCommand(const QByteArray &replyBytes)
{
    return QStringLiteral("$T0") + QString::fromLatin1(replyBytes.toHex()) + QLatin1Char('%');
}

static int exchange(MainWindow &window, const QString &command)
{
    window.sendCommand(command, command.length());
    return window.readReply();
}

// Long replies come from descriptions of a loaded board memory: the board
// frames them as seven characters, the text and "#".
static QString boardWithLongDescriptions(const QTemporaryDir &dir)
{
    const QString path = dir.filePath(QStringLiteral("board.nvr"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write("Page Number | Value | Description\n0000 | 4 | zero\n");
    file.write("0001 | 1 | " + QByteArray(230, 'x') + "\n");
    file.write("0002 | 2 | " + QByteArray(193, 'y') + "\n");
    file.write("0003 | 3 | " + QByteArray(192, 'y') + "\n");
    file.write("0004 | 4 | " + QByteArray(260, 'z') + "\n");
    return path;
}

void TestTransport::replies_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("reply");

    QTest::newRow("three and terminator") << hexCommand("abc#") << 4 << "abc#";
    QTest::newRow("terminator alone") << hexCommand("#") << 1 << "#";
    QTest::newRow("rest after terminator unread") << hexCommand("ab#cd#") << 3 << "ab#";
    QTest::newRow("NUL dropped") << hexCommand(QByteArray("a\0b\0\0#", 6)) << 3 << "ab#";
    QTest::newRow("Latin-1 bytes") << hexCommand("\xE9\xFF\x80#") << 4
                                   << QString(QChar(0xE9)) + QChar(0xFF) + QChar(0x80) + '#';
    QTest::newRow("201 without terminator") << "$A70001%" << 201 << "A70001=" + QString(194, 'x');
    QTest::newRow("terminator as 201st")
            << "$A70002%" << 201 << "A70002=" + QString(193, 'y') + '#';
    QTest::newRow("terminator as 200th")
            << "$A70003%" << 200 << "A70003=" + QString(192, 'y') + '#';
}

void TestTransport::replies()
{
    QFETCH(QString, command);
    QFETCH(int, count);
    QFETCH(QString, reply);

    QTemporaryDir dir;
    BoardLink link;
    QVERIFY(link.start({ "--baud", "0", "--load", boardWithLongDescriptions(dir) }));
    link.connect();
    ModalAnswerer answerer;

    QCOMPARE(exchange(*link.window, command), count);
    QCOMPARE(sReply, reply);
    QCOMPARE(sLastCommand, command);
    QVERIFY(answerer.messages().isEmpty());
}

void TestTransport::silentBoard()
{
    BoardLink link;
    QVERIFY(link.start({ QStringLiteral("--fault"), QStringLiteral("silent") }));
    link.connect();
    ModalAnswerer answerer;

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(exchange(*link.window, QStringLiteral("$C0%")), 0);
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 1950 && elapsed < 2300, qPrintable(QString::number(elapsed)));
    QVERIFY(sReply.isEmpty());
    QVERIFY(answerer.messages().isEmpty());

    // The watchdog is left stopped: the next exchange gets its own full wait.
    clock.restart();
    QCOMPARE(exchange(*link.window, QStringLiteral("$A9%")), 0);
    QVERIFY(clock.elapsed() >= 1950);
}

void TestTransport::halfReplyEndsAfterBound()
{
    BoardLink link;
    QVERIFY(link.start({ QStringLiteral("--fault"), QStringLiteral("first-char-only") }));
    link.connect();
    ModalAnswerer answerer;

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(exchange(*link.window, QStringLiteral("$A9%")), 1);
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 1950 && elapsed < 2400, qPrintable(QString::number(elapsed)));
    QCOMPARE(sReply.length(), 1);
    QVERIFY(answerer.messages().isEmpty());
}

void TestTransport::commandCappedAt90Bytes()
{
    BoardLink link;
    QVERIFY(link.start({ QStringLiteral("--baud"), QStringLiteral("0") }));
    link.connect();

    const QString longCommand = QStringLiteral("$A5") + QString(91, QLatin1Char('d')) + '%';
    QCOMPARE(longCommand.length(), 95);
    QCOMPARE(exchange(*link.window, longCommand), 0); // no "%" reached the board
    QCOMPARE(sLastCommand, longCommand);
    exchange(*link.window, QStringLiteral("$A9%"));

    QVERIFY(link.sim.waitForFrames(2, 2000));
    const QList<BoardSimProcess::LogEntry> log = link.sim.log();
    QCOMPARE(log.at(0).frame, longCommand.left(90).toLatin1());
    QVERIFY(log.at(0).incomplete);
    QCOMPARE(log.at(1).frame, QByteArray("$A9%"));
}

void TestTransport::staleBytesNeverReachNextReply()
{
    QTemporaryDir dir;
    BoardLink link;
    QVERIFY(link.start({ "--baud", "0", "--load", boardWithLongDescriptions(dir) }));
    link.connect();

    QCOMPARE(exchange(*link.window, QStringLiteral("$A70004%")), 201);
    QCOMPARE(exchange(*link.window, hexCommand("ok#")), 3);
    QCOMPARE(sReply, QStringLiteral("ok#"));
}

QTEST_MAIN(TestTransport)
#include "tst_transport.moc"
