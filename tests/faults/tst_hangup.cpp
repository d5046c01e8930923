// A board that hangs up in the middle of a transfer. The read-error latch
// lives for the whole process, so each transfer runs in its own executable
// (HANGUP_WRITE selects the write).

#include "faultfixture.h"

using namespace Faults;

class TestHangup : public QObject
{
    Q_OBJECT

private slots:
    void transferThroughHangup();
};

static const QByteArray sHeader("Page Number | Value | Description\n");

void TestHangup::transferThroughHangup()
{
    Dumps dumps;
    QTemporaryDir scratch;
    DumpFiles::requireDirectory();
    if (QTest::currentTestFailed())
        return;
    const QString boardFile = scratch.filePath(QStringLiteral("board.nvr"));
    QVERIFY(writeAll(boardFile, sHeader + "0000 | 2 | zero\n0001 | 11 | one\n0002 | 22 | two\n"));

    FaultyBoard board;
#ifndef HANGUP_WRITE
    // Page 0 and page 1's value answered; then the line goes. The failed read
    // stores one character and the character gap ends that reply.
    QVERIFY(board.start({ "--baud", "0", "--load", boardFile, "--fault", "hangup-after=3" }));
    const QString name = dumps.newName();
    const TransferRun run = board.read(name);
    const QList<QByteArray> frames { "$A60000%", "$A70000%", "$A60001%" };
    const QList<int> bounds { 0, 0, 1 };
    const QString failedCommand = QStringLiteral("$A70001%");
    const QString transferWarning =
            QStringLiteral("Error: The NVRAM read stopped at page 0001: the port could not be "
                           "read. 1 of 3 pages "
                           "were read; they are kept in %1, which is not offered for writing back. "
                           "No %2 was "
                           "written.")
                    .arg(Dumps::pathOf(name) + sPartExt, Dumps::pathOf(name));
#else
    // "$A4" answered; "$A5" meets the hung-up line (the character gap after
    // the failed read) and "$A8%" the latch (the watchdog).
    const QString upload = scratch.filePath(QStringLiteral("upload.nvr"));
    QVERIFY(writeAll(upload, sHeader + "0000 | 5 | a\n"));
    QVERIFY(board.start({ "--baud", "0", "--fault", "hangup-after=1" }));
    const TransferRun run = board.write(upload);
    const QList<QByteArray> frames { "$A400005%" };
    const QList<int> bounds { 2 };
    const QString failedCommand = QStringLiteral("$A50000a%");
    const QString transferWarning = QStringLiteral(
            "Error: 0 lines were not sent and 2 commands got no reply, so the board may not hold "
            "the file's values: line 2: no reply to \"$A5\"; the closing save: no reply to "
            "\"$A8\".");
#endif

    QVERIFY(board.link.sim.waitForFinished(5000));
    QCOMPARE(board.link.sim.exitCode(), 0);
    QCOMPARE(run.frameTexts(), frames);
    QString why;
    QVERIFY2(segmentsAsPredicted(run, bounds, why), qPrintable(why));
    QVERIFY2(run.cpuSeconds <= 0.1 * run.wallMs() / 1000 + 0.25,
             qPrintable(QStringLiteral("%1 s CPU in %2 ms").arg(run.cpuSeconds).arg(run.wallMs())));
    QCOMPARE(run.messages,
             (QStringList { QStringLiteral("VYK NVRAM|Error: Read timeout on command ")
                                    + failedCommand,
                            "VYK NVRAM|" + transferWarning }));
#ifndef HANGUP_WRITE
    QCOMPARE(readAll(Dumps::pathOf(name) + sPartExt), sHeader + "0000 | 2 | zero\n");
    QVERIFY(!QFile::exists(Dumps::pathOf(name)));
#else
    QVERIFY(!WindowDriver::button(*board.link.window, "btnSendParams")->isVisible());
#endif
}

QTEST_MAIN(TestHangup)
#include "tst_hangup.moc"
