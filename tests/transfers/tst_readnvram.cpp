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
    void readOutcome_data();
    void readOutcome();

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
    DumpFiles::requireDirectory();
    if (QTest::currentTestFailed())
        return;
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

// The value and description commands of pages 0 to count - 1.
static QList<QByteArray> pageFrames(int count)
{
    QList<QByteArray> frames;
    for (int page = 0; page < count; ++page) {
        const QByteArray text = QByteArray::number(page, 16).toUpper().rightJustified(4, '0');
        frames << "$A6" + text + "%"
               << "$A7" + text + "%";
    }
    return frames;
}

void TestReadNvram::readOutcome_data()
{
    QTest::addColumn<QStringList>("board");    // simulator options
    QTest::addColumn<QStringList>("seed");     // commands sent to the board first
    QTest::addColumn<QString>("name");         // typed name; "<new>" for a fresh one
    QTest::addColumn<QByteArray>("before");    // the dump already there, if not null
    QTest::addColumn<QString>("partObstacle"); // "directory" or a symlink target
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<QByteArray>("dump"); // null: no dump afterwards
    QTest::addColumn<QByteArray>("part"); // null: no .part afterwards
    QTest::addColumn<QString>("warning"); // %1 dump path, %2 .part path

    const QStringList instant { "--baud", "0" };
    const QString fourPages = boardFile(
            { "0000 | 3 | zero", "0001 | 11 | one", "0002 | 22 | two", "0003 | 33 | three" });
    const QByteArray old("old backup\n");
    const QString stopped = QStringLiteral("Error: The NVRAM read stopped at page ");
    const QString nothingKept = QStringLiteral("No page was read, so nothing was kept. ");
    const QString oldKept = QStringLiteral("The existing %1 was not changed.");

    QTest::newRow("silent board keeps the old dump")
            << instant + QStringList { "--fault", "silent" } << QStringList() << "<new>" << old
            << QString() << pageFrames(1) << old << QByteArray()
            << stopped + "0000: the board did not answer. " + nothingKept + oldKept;
    // An empty value makes an eight-character reply: no longer than its command.
    QTest::newRow("page 0 refused")
            << instant + QStringList { "--load", boardFile({ "0000 |  | zero", "0001 | 1 | one" }) }
            << QStringList() << "<new>" << QByteArray() << QString() << pageFrames(1)
            << QByteArray() << QByteArray()
            << stopped + "0000: the board refused the page. " + nothingKept + "No %1 was written.";
    // The greeting and four replies, then silence.
    QTest::newRow("board falls silent at page 2")
            << instant + QStringList { "--load", fourPages, "--fault", "silent-after=5" }
            << QStringList() << "<new>" << old << QString() << pageFrames(3) << old
            << sHeader + "0000 | 3 | zero\n0001 | 11 | one\n"
            << stopped
                    + "0002: the board did not answer. 2 of 4 pages were read; they are kept "
                      "in %2, which is not offered for writing back. "
                    + oldKept;
    QTest::newRow("complete dump replaces the old one")
            << instant + QStringList { "--load", boardFile({ "0000 | 0 | only" }) } << QStringList()
            << "<new>" << QByteArray(4096, 'o') << QString() << pageFrames(1)
            << sHeader + "0000 | 0 | only\n"
            << QByteArray() << QString();

    // Paced like the real line: the cut reply's tail is still arriving when
    // the next command is due, and must not pass for its reply.
    QByteArray long253;
    for (int i = 0; i < 253; ++i)
        long253 += char('a' + i % 26);
    QStringList sixPages { "0000 | 5 | zero", "0001 | 11 | " + QString::fromLatin1(long253) };
    QByteArray sixLines = "0000 | 5 | zero\n0001 | 11 | " + long253.left(194) + "\n";
    for (int page = 2; page < 6; ++page) {
        sixPages << QStringLiteral("000%1 | %1 | p%1").arg(page);
        sixLines += QStringLiteral("000%1 | %1 | p%1\n").arg(page).toLatin1();
    }
    QTest::newRow("253-character page at 57600 baud")
            << QStringList { "--load", boardFile(sixPages) } << QStringList() << "<new>"
            << QByteArray() << QString() << pageFrames(6) << sHeader + sixLines << QByteArray()
            << "Warning: The NVRAM dump %1 is complete, but 1 page will not write back "
               "unchanged: page 0001: reply cut at 201 characters, too long to write back.";
    QTest::newRow("bar and line break flagged")
            << instant + QStringList { "--load", fourPages }
            << QStringList { "$A50002x|y%", "$A40003a\nb%" } << "<new>" << QByteArray() << QString()
            << pageFrames(4)
            << sHeader + "0000 | 3 | zero\n0001 | 11 | one\n0002 | 22 | x|y\n0003 | a b | three\n"
            << QByteArray()
            << "Warning: The NVRAM dump %1 is complete, but 2 pages will not write back "
               "unchanged: page 0002: holds \"|\"; page 0003: line break written as a space.";

    QTest::newRow("target cannot be created")
            << instant << QStringList() << "<new>" << QByteArray() << "directory"
            << QList<QByteArray>() << QByteArray() << QByteArray()
            << "Error: Could not create %2: Is a directory. Nothing was read.";
    QTest::newRow("full disk") << instant << QStringList() << "<new>" << old << "/dev/full"
                               << QList<QByteArray>() << old << QByteArray()
                               << stopped + "0000: could not write %2: No space left on device. "
                    + nothingKept + oldKept;
    for (const char *bad : { "", ".", "..", "../escape" }) {
        QTest::newRow(qPrintable(QStringLiteral("name \"%1\"").arg(bad)))
                << instant << QStringList() << bad << QByteArray() << QString()
                << QList<QByteArray>() << QByteArray() << QByteArray()
                << QStringLiteral("Error: \"%1\" cannot be used as a dump name. Type a name that "
                                  "is not empty, \".\" or \"..\" and holds no \"/\". Nothing was "
                                  "read.")
                           .arg(bad);
    }
}

void TestReadNvram::readOutcome()
{
    QFETCH(QStringList, board);
    QFETCH(QStringList, seed);
    QFETCH(QString, name);
    QFETCH(QByteArray, before);
    QFETCH(QString, partObstacle);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(QByteArray, dump);
    QFETCH(QByteArray, part);
    QFETCH(QString, warning);

    BoardLink link;
    QVERIFY(link.start(board));
    QVERIFY(link.connectAndGreet());
    for (const QString &command : seed) {
        link.window->sendCommand(command, command.length());
        QVERIFY(link.window->readReply() > 0);
    }
    if (name == QLatin1String("<new>"))
        name = m_dumps.newName();
    const QString dumpPath = DumpFiles::pathOf(name);
    const QString partPath = dumpPath + sPartExt;
    if (!before.isNull())
        QVERIFY(writeAll(dumpPath, before));
    if (partObstacle == QLatin1String("directory"))
        QVERIFY(QDir().mkdir(partPath));
    else if (!partObstacle.isEmpty())
        QVERIFY(QFile::link(partObstacle, partPath));

    ModalAnswerer answerer;
    const qsizetype framesBefore = link.sim.frames().size();
    readInto(*link.window, name);
    // The board logs each frame before it answers, so every exchange that
    // ended is in the log; keep-alives may follow once the read is over.
    QList<QByteArray> sent = link.sim.frames().mid(framesBefore);
    sent.removeAll("$C0%");
    const bool isDirectory = QFileInfo(partPath).isDir();
    QDir().rmdir(partPath);

    QCOMPARE(sent, frames);
    QCOMPARE(readAll(dumpPath), dump);
    QCOMPARE(QFile::exists(dumpPath), !dump.isNull());
    if (!isDirectory) {
        QCOMPARE(readAll(partPath), part);
        QCOMPARE(QFileInfo::exists(partPath), !part.isNull());
    }
    QCOMPARE(answerer.messages(),
             warning.isEmpty()
                     ? QStringList()
                     : QStringList { "VYK NVRAM|"
                                     + warning.replace("%1", dumpPath).replace("%2", partPath) });
    QLineEdit *field = edit(*link.window, "editFromAuxPCB");
    QCOMPARE(field->text(), name);
    QCOMPARE(field->styleSheet(), sYellowEditStyle);
    QVERIFY(pollingTimerRunning(*link.window));
}

QTEST_MAIN(TestReadNvram)
#include "tst_readnvram.moc"
