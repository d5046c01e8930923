// Reading the board's NVRAM into a dump file, driven through the window.

#include "modalanswerer.h"
#include "styles.h"
#include "transferfixture.h"

#include <QLineEdit>
#include <QTimer>

using namespace WindowDriver;

class TestReadNvram : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readsPagesUpToPageZeroValue();
    void lastPageFromPageZero_data();
    void lastPageFromPageZero();
    void refusedValueGivesHeaderOnly();
    void boardFallingSilentEndsTransfer();
    void existingFileReplaced();
    void missingDirectorySendsNothing();
    void fullDiskStopsAndWarns();

private:
    // Clicks "Enter", types the name into the dialog and clicks "OK"; the
    // read runs inside that click.
    static void readInto(MainWindow &window, const QString &name);
    QString boardFile(const QStringList &lines);

    DumpFiles m_dumps;
    QTemporaryDir m_scratch;
    int m_boardFiles = 0;
};

static const QByteArray sHeader("Page Number | Value | Description\n");

void TestReadNvram::initTestCase()
{
    if (!m_dumps.ready())
        QSKIP("The NVRAM directory cannot be created here");
    QVERIFY(m_scratch.isValid());
}

void TestReadNvram::readInto(MainWindow &window, const QString &name)
{
    click(window, "btnFromAuxPCB");
    auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
    QVERIFY(dialog);
    QCOMPARE(dialog->objectName(), QStringLiteral("dlgUploadNVRAM"));
    dialog->findChild<QLineEdit *>(QStringLiteral("lineEditFileName"))->setText(name);
    QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("btnOK")), Qt::LeftButton);
}

// Writes a board memory file for the simulator and returns its path.
QString TestReadNvram::boardFile(const QStringList &lines)
{
    const QString path = m_scratch.filePath(QStringLiteral("board%1.nvr").arg(++m_boardFiles));
    writeAll(path,
             (QStringList { "Page Number | Value | Description" } + lines).join('\n').toUtf8()
                     + '\n');
    return path;
}

void TestReadNvram::readsPagesUpToPageZeroValue()
{
    BoardLink link;
    QVERIFY(link.start({ "--baud", "0", "--load",
                         boardFile({ "0000 | 2 | text", QString::fromUtf8("0001 | 17 | caf\u00e9"),
                                     "0002 | x y | d", "0003 | 9 | never read" }) }));
    QVERIFY(link.connectAndGreet());

    const QString name = m_dumps.newName();
    readInto(*link.window, name);

    QCOMPARE(transferFrames(link.sim),
             (QList<QByteArray> { "$A60000%", "$A70000%", "$A60001%", "$A70001%", "$A60002%",
                                  "$A70002%" }));
    QCOMPARE(readAll(DumpFiles::pathOf(name)),
             sHeader + "0000 | 2 | text\n0001 | 17 | caf\xC3\xA9\n0002 | x y | d\n");
    QLineEdit *field = edit(*link.window, "editFromAuxPCB");
    QCOMPARE(field->text(), name);
    QCOMPARE(field->styleSheet(), sYellowEditStyle);
    QVERIFY(pollingTimerRunning(*link.window));
}

void TestReadNvram::lastPageFromPageZero_data()
{
    QTest::addColumn<QString>("pageZeroValue");
    QTest::addColumn<int>("pagesRead");
    QTest::newRow("0") << "0" << 1;
    QTest::newRow("negative") << "-5" << 1;
    QTest::newRow("not a number") << "abc" << 1;
    QTest::newRow("too large for int") << "99999999999" << 1;
    QTest::newRow("base 10 with zeros") << "0010" << 11;
}

void TestReadNvram::lastPageFromPageZero()
{
    QFETCH(QString, pageZeroValue);
    QFETCH(int, pagesRead);

    QStringList lines { "0000 | " + pageZeroValue + " | zero" };
    for (int page = 1; page < 14; ++page)
        lines << QStringLiteral("%1 | v%2 | d%2").arg(page, 4, 16, QLatin1Char('0')).arg(page);
    BoardLink link;
    QVERIFY(link.start({ "--baud", "0", "--load", boardFile(lines) }));
    QVERIFY(link.connectAndGreet());

    const QString name = m_dumps.newName();
    readInto(*link.window, name);

    const QList<QByteArray> frames = transferFrames(link.sim);
    QCOMPARE(frames.size(), 2 * pagesRead);
    QCOMPARE(frames.last(),
             QStringLiteral("$A7%1%")
                     .arg(pagesRead - 1, 4, 16, QLatin1Char('0'))
                     .toUpper()
                     .toLatin1());
    const QList<QByteArray> dumpLines = readAll(DumpFiles::pathOf(name)).split('\n');
    QCOMPARE(dumpLines.size(),
             pagesRead + 2); // header, pages, and the empty rest after the last LF
    QCOMPARE(dumpLines.at(1), ("0000 | " + pageZeroValue + " | zero").toUtf8());
}

void TestReadNvram::refusedValueGivesHeaderOnly()
{
    // An empty value makes an eight-character reply, which is no longer than
    // its command and so not accepted; the description is still asked for.
    BoardLink link;
    QVERIFY(link.start(
            { "--baud", "0", "--load", boardFile({ "0000 |  | zero", "0001 | 1 | one" }) }));
    QVERIFY(link.connectAndGreet());
    const QString name = m_dumps.newName();
    readInto(*link.window, name);
    QCOMPARE(transferFrames(link.sim), (QList<QByteArray> { "$A60000%", "$A70000%" }));
    QCOMPARE(readAll(DumpFiles::pathOf(name)), sHeader);
}

void TestReadNvram::boardFallingSilentEndsTransfer()
{
    // Greeting plus two pages answered, then silence: the third page's two
    // commands each wait out the watchdog and the transfer ends.
    BoardLink link;
    QVERIFY(link.start({ "--baud", "0", "--pages", "50", "--fault", "silent-after=5" }));
    QVERIFY(link.connectAndGreet());
    const QString name = m_dumps.newName();
    readInto(*link.window, name);

    QCOMPARE(transferFrames(link.sim),
             (QList<QByteArray> { "$A60000%", "$A70000%", "$A60001%", "$A70001%", "$A60002%",
                                  "$A70002%" }));
    const QList<QByteArray> dumpLines = readAll(DumpFiles::pathOf(name)).split('\n');
    QCOMPARE(dumpLines.size(), 4);
    QVERIFY(dumpLines.at(1).startsWith("0000 | 49 | "));
    QVERIFY(dumpLines.at(2).startsWith("0001 | "));
}

void TestReadNvram::existingFileReplaced()
{
    BoardLink link;
    QVERIFY(link.start({ "--baud", "0", "--load", boardFile({ "0000 | 0 | only" }) }));
    QVERIFY(link.connectAndGreet());
    const QString name = m_dumps.newName();
    QVERIFY(writeAll(DumpFiles::pathOf(name), QByteArray(4096, 'o')));
    readInto(*link.window, name);
    QCOMPARE(readAll(DumpFiles::pathOf(name)), sHeader + "0000 | 0 | only\n");
}

void TestReadNvram::missingDirectorySendsNothing()
{
    BoardLink link;
    QVERIFY(link.start({ "--baud", "0", "--pages", "3" }));
    QVERIFY(link.connectAndGreet());
    ModalAnswerer answerer([](QDialog *) {});
    const QString name =
            QStringLiteral("no-such-directory-%1/dump").arg(QCoreApplication::applicationPid());
    readInto(*link.window, name);
    QVERIFY(transferFrames(link.sim).isEmpty());
    QVERIFY(!QFile::exists(DumpFiles::pathOf(name)));
    QVERIFY(answerer.messages().isEmpty());
    QCOMPARE(edit(*link.window, "editFromAuxPCB")->styleSheet(), sYellowEditStyle);
    QCOMPARE(edit(*link.window, "editFromAuxPCB")->text(), name);
    QVERIFY(pollingTimerRunning(*link.window));
}

void TestReadNvram::fullDiskStopsAndWarns()
{
    BoardLink link;
    QVERIFY(link.start({ "--baud", "0", "--pages", "20" }));
    QVERIFY(link.connectAndGreet());
    const QString name = m_dumps.newName();
    QVERIFY(QFile::link(QStringLiteral("/dev/full"), DumpFiles::pathOf(name)));

    ModalAnswerer answerer([](QDialog *) {});
    readInto(*link.window, name);

    QCOMPARE(answerer.messages().size(), 1);
    QVERIFY(answerer.messages().first().startsWith(QStringLiteral("VYK NVRAM|")));
    QVERIFY(answerer.messages().first().contains(DumpFiles::pathOf(name)));
    QVERIFY(answerer.messages().first().contains(QStringLiteral("incomplete")));
    QVERIFY(transferFrames(link.sim).size() <= 2);
    QCOMPARE(edit(*link.window, "editFromAuxPCB")->styleSheet(), sYellowEditStyle);
    QVERIFY(pollingTimerRunning(*link.window));
}

QTEST_MAIN(TestReadNvram)
#include "tst_readnvram.moc"
