// Full read and write transfers through the window against a simulated board
// that misbehaves in each of its ways: every exchange ends within its bound,
// the CPU stays idle while waiting and the dump keeps every completed page.

#include "faultfixture.h"

using namespace Faults;

class TestFaultTransfers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readThroughFault_data();
    void readThroughFault();
    void writeThroughFault_data();
    void writeThroughFault();

private:
    Dumps m_dumps;
    QTemporaryDir m_scratch;
};

using Frames = QList<QByteArray>;
using Bounds = QList<int>;

static const QByteArray sHeader("Page Number | Value | Description\n");

void TestFaultTransfers::initTestCase()
{
    DumpFiles::requireDirectory();
    if (QTest::currentTestFailed())
        return;
    QVERIFY(m_scratch.isValid());
    QVERIFY(writeAll(m_scratch.filePath(QStringLiteral("board.nvr")),
                     sHeader + "0000 | 2 | zero\n0001 | 11 | one\n0002 | 22 | two\n"));
}

// Checks what every faulty transfer shares: bounded exchanges, no spin.
static void checkRun(const TransferRun &run, const Frames &frames, const Bounds &bounds,
                     const QString &warningStart)
{
    QCOMPARE(run.frameTexts(), frames);
    QString why;
    QVERIFY2(segmentsAsPredicted(run, bounds, why), qPrintable(why));
    int boundsWaited = 0;
    for (int b : bounds)
        boundsWaited += b;
    const double predictedMs = boundsWaited * iBoundMs;
    QVERIFY2(run.wallMs() >= predictedMs - 50
                     && run.wallMs() <= predictedMs + iBoundLateMs + frames.size() * 100,
             qPrintable(QStringLiteral("transfer took %1 ms, predicted %2 ms")
                                .arg(run.wallMs(), 0, 'f', 0)
                                .arg(predictedMs)));
    // Waiting for a silent line must sleep, not poll the port in a tight loop.
    QVERIFY2(run.cpuSeconds <= 0.1 * run.wallMs() / 1000 + 0.25,
             qPrintable(QStringLiteral("%1 s CPU in %2 ms").arg(run.cpuSeconds).arg(run.wallMs())));
    if (warningStart.isEmpty()) {
        QVERIFY2(run.messages.isEmpty(), qPrintable(run.messages.join(QLatin1Char('\n'))));
    } else {
        QCOMPARE(run.messages.size(), 1);
        QVERIFY2(run.messages.first().startsWith("VYK NVRAM|" + warningStart),
                 qPrintable(run.messages.first()));
    }
}

void TestFaultTransfers::readThroughFault_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<Frames>("frames");
    QTest::addColumn<Bounds>("bounds");   // 2-s waits from each frame to the next
    QTest::addColumn<QByteArray>("dump"); // the .nvr when complete, else the .part
    QTest::addColumn<QString>("warning");

    const Frames page0 { "$A60000%", "$A70000%" };
    const Frames allPages {
        "$A60000%", "$A70000%", "$A60001%", "$A70001%", "$A60002%", "$A70002%"
    };
    const QByteArray allLines("0000 | 2 | zero\n0001 | 11 | one\n0002 | 22 | two\n");

    // Both exchanges wait out the watchdog; empty replies end the transfer.
    const QString stopped("Error: The NVRAM read stopped at page ");
    QTest::newRow("silent") << "silent" << page0 << Bounds { 1, 1 } << QByteArray()
                            << stopped + "0000: the board did not answer.";
    // Page 0 and the value of page 1 answered, its description never.
    QTest::newRow("silent-after=3")
            << "silent-after=3" << Frames { "$A60000%", "$A70000%", "$A60001%", "$A70001%" }
            << Bounds { 0, 0, 0, 1 } << sHeader + "0000 | 2 | zero\n"
            << stopped + "0001: the board did not answer. 1 of 3 pages";
    // Three stray bytes shift the seven dropped characters: page 0's value
    // is no number any more, so page 0 is the last page.
    QTest::newRow("garbage") << "garbage" << page0 << Bounds { 0, 0 }
                             << sHeader + "0000 | 00=2 | 00=zero\n"
                             << QString();
    // Without '#' a reply ends after the character gap; the value reply is
    // then as long as its command and not accepted.
    QTest::newRow("no-terminator") << "no-terminator" << page0 << Bounds { 1, 1 } << QByteArray()
                                   << stopped + "0000: the board refused the page.";
    QTest::newRow("nul") << "nul" << allPages << Bounds { 0, 0, 0, 0, 0, 0 } << sHeader + allLines
                         << QString();
    QTest::newRow("first-char-only")
            << "first-char-only" << page0 << Bounds { 1, 1 } << QByteArray()
            << stopped + "0000: the board refused the page.";
}

void TestFaultTransfers::readThroughFault()
{
    QFETCH(QString, fault);
    QFETCH(Frames, frames);
    QFETCH(Bounds, bounds);
    QFETCH(QByteArray, dump);
    QFETCH(QString, warning);

    FaultyBoard board;
    QVERIFY(board.start({ "--baud", "0", "--load", m_scratch.filePath(QStringLiteral("board.nvr")),
                          "--fault", fault }));
    const QString name = m_dumps.newName();
    const TransferRun run = board.read(name);
    checkRun(run, frames, bounds, warning);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(readAll(Dumps::pathOf(name) + (warning.isEmpty() ? QString() : sPartExt)), dump);
}

void TestFaultTransfers::writeThroughFault_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<Bounds>("bounds");
    QTest::addColumn<QString>("warning");

    // The board takes every command whatever it answers, so the frames are
    // the same for every fault; only the time spent on each differs.
    // A command with not a single byte back counts as unanswered.
    QTest::newRow("silent") << "silent" << Bounds { 1, 1, 1 }
                            << "Error: 0 lines were not sent and 3 commands got no reply, so the "
                               "board may not hold the file's values: line 2: no reply to "
                               "\"$A4\"; line 2: no reply to \"$A5\"; the closing save: no reply "
                               "to \"$A8\".";
    QTest::newRow("silent-after=1") << "silent-after=1" << Bounds { 0, 1, 1 }
                                    << "Error: 0 lines were not sent and 2 commands got no reply";
    QTest::newRow("garbage") << "garbage" << Bounds { 0, 0, 0 } << QString();
    QTest::newRow("no-terminator") << "no-terminator" << Bounds { 1, 1, 1 } << QString();
    QTest::newRow("nul") << "nul" << Bounds { 0, 0, 0 } << QString();
    QTest::newRow("first-char-only") << "first-char-only" << Bounds { 1, 1, 1 } << QString();
}

void TestFaultTransfers::writeThroughFault()
{
    QFETCH(QString, fault);
    QFETCH(Bounds, bounds);
    QFETCH(QString, warning);

    const QString upload = m_scratch.filePath(QStringLiteral("upload.nvr"));
    const QString saved =
            m_scratch.filePath(QStringLiteral("saved-%1.nvr").arg(QTest::currentDataTag()));
    QVERIFY(writeAll(upload, sHeader + "0000 | 5 | a\n"));

    FaultyBoard board;
    QVERIFY(board.start({ "--baud", "0", "--pages", "2", "--save", saved, "--fault", fault }));
    const TransferRun run = board.write(upload);
    checkRun(run, Frames { "$A400005%", "$A50000a%", "$A8%" }, bounds, warning);
    if (QTest::currentTestFailed())
        return;
    // The board stored the page and saved on "$A8%" whatever it answered.
    QVERIFY(readAll(saved).contains("\n0000 | 5 | a\n"));
}

QTEST_MAIN(TestFaultTransfers)
#include "tst_faulttransfers.moc"
