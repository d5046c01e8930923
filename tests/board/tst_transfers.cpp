// Reading the board into a dump and writing a file into it, through the
// window against the simulated board. A row gives the board, what the user
// does, every frame the board logged after the greeting (keep-alives
// included), and the files and warnings that result.

#include "boardlink.h"

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using namespace WindowDriver;
using Frames = QList<QByteArray>;

// Where the tool keeps its dumps.
static const QString sDumpDir("/opt/VYK_PLUS/NVRAM/AUXPCB/");
static const QByteArray sHeader("Page Number | Value | Description\n");
static const QString sStopped("Error: The NVRAM read stopped at page ");
static const QString sKept(" pages were read; they are kept in %2, which is not offered for "
                           "writing back. ");
static const QString sOldKept("The existing %1 was not changed.");

static QByteArray pageText(int page)
{
    return QByteArray::number(page, 16).toUpper().rightJustified(4, '0');
}

// The value and description commands of pages 0 to count - 1.
static Frames pageFrames(int count)
{
    Frames frames;
    for (int page = 0; page < count; ++page)
        frames << "$A6" + pageText(page) + "%"
               << "$A7" + pageText(page) + "%";
    return frames;
}

static QStringList boardFile(const QByteArray &lines, const QStringList &more = { "--baud", "0" })
{
    static QTemporaryDir dir;
    static int count = 0;
    const QString path = dir.filePath(QString::number(++count));
    writeAll(path, sHeader + lines);
    return more + QStringList { "--load", path };
}

static void columns()
{
    QTest::addColumn<QStringList>("board");
    // "read", "cancel" (the name dialog's other button) or "write", then
    // "name=" the name typed, "seed=" a command sent first, "dir" for a
    // directory in the .part's place, "oldpart" for an earlier .part,
    // "fsize=" a file size limit, "immutable" an old dump that cannot be
    // renamed over, "delete" the chosen file before SEND
    QTest::addColumn<QString>("steps");
    // The old dump of a read, with an older backup beside it; the file
    // written, null: the chooser is cancelled.
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<Frames>("frames");
    QTest::addColumn<QByteArray>("dump"); // after a read; null: none
    QTest::addColumn<QByteArray>("part");
    // %1 the dump's path, %2 its .part's, %3 the written file's
    QTest::addColumn<QStringList>("warnings");
}

class TestTransfers : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase()
    {
        for (const QString &name : QDir(sDumpDir).entryList({ m_prefix + '*' }))
            QFile::remove(sDumpDir + name);
    }

    void readTransfer_data()
    {
        columns();
        const QStringList instant { "--baud", "0" };
        const QByteArray old("old backup\n"), none;
        // Page 3's description makes a 91-byte write-back command.
        const QByteArray four("0000 | 3 | zero\n0001 | 11 | one\n0002 | 22 | two\n0003 | 33 | "
                              + QByteArray(83, 'x') + "\n");
        const QString nothingKept(". No page was read, so nothing was kept. ");
        // Page 0's value is the last page: 10, not 0x10.
        const QByteArray pages = "0001 | 17 | caf\xC3\xA9\n0002 | x y | d\n";
        QByteArray more;
        for (int page = 3; page < 14; ++page)
            more += pageText(page) + " | v | d\n";
        QTest::newRow("read up to page 0's value, Cancel reading too")
                << boardFile("0000 | 0010 | z\n" + pages + more) << "cancel" << old
                << pageFrames(11) << sHeader + "0000 | 0010 | z\n" + pages + more.left(8 * 13)
                << none << QStringList();
        QTest::newRow("silent board keeps the old dump and .part")
                << instant + QStringList { "--fault", "silent" } << "read oldpart" << old
                << pageFrames(1) << old << QByteArray("kept part\n")
                << QStringList { sStopped
                                 + "0000: the board did not answer. No page was read; the "
                                   "existing %2 was not changed. "
                                 + sOldKept };
        // Line noise before every reply makes page 0's value "00=15".
        const QString noCount = sStopped
                + "0000: its value is not a page count. Page 0 is kept "
                  "in %2, which is not offered for writing back. ";
        QTest::newRow("page 0's value no page count")
                << boardFile("0000 | 15 | zero\n", instant + QStringList { "--fault", "garbage" })
                << "read oldpart" << old << pageFrames(1) << old
                << sHeader + "0000 | 00=15 | 00=zero\n"
                << QStringList { noCount + sOldKept };
        QTest::newRow("page 0's value past the page counter")
                << boardFile("0000 | 99999999999 | z\n") << "read" << none << pageFrames(1) << none
                << sHeader + "0000 | 99999999999 | z\n"
                << QStringList { noCount + "No %1 was written." };
        // An empty value makes an eight-character reply: no longer than its command.
        QTest::newRow("page 0 refused")
                << boardFile("0000 |  | zero\n") << "read" << none << pageFrames(1) << none << none
                << QStringList { sStopped + "0000: the board refused the page" + nothingKept
                                 + "No %1 was written." };
        // The greeting and four replies, then silence.
        QTest::newRow("board falls silent at page 2")
                << boardFile(four, instant + QStringList { "--fault", "silent-after=5" }) << "read"
                << old << pageFrames(3) << old << sHeader + four.left(32)
                << QStringList { sStopped + "0002: the board did not answer. 2 of 4" + sKept
                                 + sOldKept };
        // Page 2's value reply pauses after "A60002=1", longer than a reply may.
        QTest::newRow("reply stalls inside page 2's value")
                << boardFile(four.left(32) + "0002 | 12345678 | two\n",
                             instant + QStringList { "--fault", "stall-after=5" })
                << "read" << old << pageFrames(3).mid(0, 5) << old << sHeader + four.left(32)
                << QStringList { sStopped + "0002: the reply stopped before its \"#\". 2 of 4"
                                 + sKept + sOldKept };
        QTest::newRow("board hangs up at page 1")
                << boardFile(four, instant + QStringList { "--fault", "hangup-after=4" }) << "read"
                << none << pageFrames(2).mid(0, 3) << none << sHeader + four.left(16)
                << QStringList { "Error: Read timeout on command $A70001%",
                                 sStopped + "0001: the port could not be read. 1 of 4" + sKept
                                         + "No %1 was written." };
        // Paced like the real line: the cut reply's tail is still arriving
        // when the next command is due, and must not pass for its reply.
        QByteArray long253, rest;
        for (int i = 0; i < 253; ++i)
            long253 += char('a' + i % 26);
        for (int page = 2; page < 6; ++page)
            rest += pageText(page) + " | " + QByteArray::number(page) + " | p\n";
        QTest::newRow("253-character page at 57600 baud")
                << boardFile("0000 | 5 | zero\n0001 | " + long253 + " | " + long253 + "\n" + rest,
                             {})
                << "read" << none << pageFrames(6)
                << sHeader + "0000 | 5 | zero\n0001 | " + long253.left(194) + " | "
                        + long253.left(194) + "\n" + rest
                << none
                << QStringList {
                       "Warning: The NVRAM dump %1 is complete, but 1 page will not write "
                       "back unchanged: page 0001: reply cut at 201 characters, too long "
                       "to write back."
                   };
        const QByteArray marks = "0000 | 3 | zero\n0001 | 5% | a$b\n";
        QTest::newRow("bar, percent, dollar and line break flagged")
                << boardFile(marks + four.mid(32)) << "read seed=$A50002x|y% seed=$A40003a\nb%"
                << none << pageFrames(4)
                << sHeader + marks + "0002 | 22 | x|y\n0003 | a b | " + QByteArray(83, 'x') + "\n"
                << none
                << QStringList {
                       "Warning: The NVRAM dump %1 is complete, but 3 pages will not write "
                       "back unchanged: page 0001: holds \"%\", holds \"$\"; page 0002: holds "
                       "\"|\"; page 0003: line break written as a space, too long to write back."
                   };
        // Any member of the directory's group may plant these; the file
        // outside must stay as it is and nothing of it may be copied.
        QTest::newRow("part that is a directory")
                << instant << "read dir" << none << Frames() << none << none
                << QStringList { "Error: %2 is not a regular file. Nothing was read." };
        const QByteArray outside("outside\n");
        for (const QString &link : QStringList { "part:%2", "dump:%1", "backup:%1~" })
            QTest::newRow(qPrintable(link.section(':', 0, 0) + " that links outside"))
                    << instant << "read link=" + link.section(':', 0, 0) << none << Frames()
                    << (link.startsWith("dump") ? outside : none)
                    << (link.startsWith("part") ? outside : none)
                    << QStringList { "Error: " + link.section(':', 1) + " is a symbolic link. "
                                     "Nothing was read." };
        QTest::newRow("part of another user")
                << instant << "read oldpart foreign" << old << Frames() << old
                << QByteArray("kept part\n")
                << QStringList { "Error: %2 belongs to another user. Nothing was read." };
        // The header and page 0 fit in 60 bytes, page 1's line does not.
        QTest::newRow("disk fills at page 0")
                << boardFile(four) << "read oldpart fsize=40" << old << pageFrames(1) << old << none
                << QStringList { sStopped
                                 + "0000: could not write %2: File too large. Page 0 was read but "
                                   "could not be written, so nothing was kept. "
                                 + sOldKept };
        // The new dump fits, the copy of the old one to the backup does not.
        QTest::newRow("disk fills while the old dump is kept")
                << boardFile("0000 | 0 | z\n") << "read fsize=60" << QByteArray(100, 'o')
                << pageFrames(1) << QByteArray(100, 'o') << sHeader + "0000 | 0 | z\n"
                << QStringList { "Error: The NVRAM dump is complete, but %1 could not be replaced: "
                                 "could not keep it as %1~: File too large. The dump is kept in "
                                 "%2." };
        QTest::newRow("NUL bytes in the replies")
                << boardFile("0000 | 1 | z\n0001 | v | d\n", instant + QStringList { "--fault", "nul" })
                << "read" << none << pageFrames(2) << sHeader + "0000 | 1 | z\n0001 | v | d\n"
                << none
                << QStringList { "Warning: The NVRAM dump %1 is complete, but 2 pages will not "
                                 "write back unchanged: page 0000: NUL bytes dropped; page 0001: "
                                 "NUL bytes dropped." };
        QTest::newRow("disk fills at page 1")
                << boardFile(four) << "read fsize=60" << old << pageFrames(2) << old
                << sHeader + four.left(16)
                << QStringList { sStopped + "0001: could not write %2: File too large. 1 of 4"
                                 + sKept + sOldKept };
        for (const QString &name :
             { QString(), QString(".."), QString("../escape"), QString("a\tb"), QString(247, 'x') })
            QTest::newRow(qPrintable("unusable name " + name.left(9)))
                    << instant << "read name=" + name << none << Frames() << none << none
                    << QStringList {
                           "Error: \"" + name
                           + "\" cannot be used as a dump name. Type a "
                             "name that is not empty, \".\" or \"..\", holds no \"/\" and "
                             "no control character, and takes at most 246 bytes. Nothing "
                             "was read."
                       };

        QTest::newRow("complete dump that cannot replace the old one")
                << boardFile("0000 | 0 | z\n") << "read immutable" << old << pageFrames(1) << old
                << sHeader + "0000 | 0 | z\n"
                << QStringList { "Error: The NVRAM dump is complete, but %1 could not be replaced: "
                                 "Operation not permitted. The dump is kept in %2." };
        // Each reply's line end comes after the next command cleared the port.
        const QByteArray crlf = "0000 | 2 | zero\n0001 | 1001 | Desc 1\n0002 | 1002 | Desc 2\n";
        QTest::newRow("line ends after each reply")
                << boardFile(crlf, instant + QStringList { "--fault", "crlf-after=1" }) << "read"
                << none << pageFrames(3) << sHeader + crlf << none << QStringList();
    }
    void readTransfer() { transfer(); }

    void writeTransfer_data()
    {
        columns();
        const QStringList instant { "--baud", "0" };
        const QByteArray none;
        const QString noReply("Error: 0 lines were not sent and 2 commands got no complete reply, "
                              "so the board may not hold the file's values: line 2: no complete "
                              "reply to \"$A5\"; the closing save: no complete reply to \"$A8\".");
        // Fields after the third are ignored; two fields keep the board's
        // description, an empty middle one sends an empty value.
        QTest::newRow("write page lines, 90-byte command, Latin-1 as single bytes")
                << instant << "write"
                << sHeader + "0000 | 2 | t\n0001 | 5 | a | b\n0003 | 9\n0004 | 1 | "
                        + QByteArray(82, 'd') + "\n0002 | 7 | caf\xC3\xA9\n0005 |  | e\n"
                << Frames { "$A400002%",
                            "$A50000t%",
                            "$A400015%",
                            "$A50001a%",
                            "$A400039%",
                            "$A400041%",
                            "$A50004" + QByteArray(82, 'd') + "%",
                            "$A400027%",
                            "$A50002caf\xE9%",
                            "$A40005%",
                            "$A50005e%",
                            "$A8%" }
                << none << none
                << QStringList { "Error: 0 lines were not sent and 0 commands got no complete "
                                 "reply, so the board may not hold the file's values: line 3: "
                                 "more than three fields: the rest was not sent." };
        const QString notSent("Error: %1 not sent and 0 commands got no complete reply, so the "
                              "board may not hold the file's values: ");
        QTest::newRow("write skips blank and short lines, no header, CRLF, no LF at the end")
                << instant << "write"
                << QByteArray("0000 | 0 | h\r\n\r\n0000 | 1 | a\r\n   \n0003\n0001 | 2")
                << Frames { "$A400001%", "$A50000a%", "$A400012%", "$A8%" } << none << none
                << QStringList { notSent.arg("2 lines were")
                                 + "line 1: taken for the header; line 5: fewer than two fields." };
        QTest::newRow("write a file of only its header")
                << instant << "write" << sHeader << Frames { "$A8%" } << none << none
                << QStringList { "Error: %3 holds no page line, so only the closing save (\"$A8%\") "
                                 "was sent." };
        // A "#" in the board would end its replies early and shift every later read.
        QTest::newRow("write a file of no sendable line: semicolons, a '#', a blank page field")
                << instant << "write"
                << sHeader + "0000;2;t\n0001 | a#bcdefghijkl | desc one\n0004 |44| d4\n"
                << Frames { "$A8%" } << none << none
                << QStringList { notSent.arg("3 lines were")
                                 + "line 2: fewer than two fields; line 3: holds \"#\"; line 4: "
                                   "page field \"0004 \" is not 4 or 5 upper-case hex digits; the "
                                   "file: holds no page line to send." };
        QTest::newRow("write skips framing marks, CR, 0-led five digits, bad UTF-8")
                << instant << "write"
                << sHeader
                        + "0009 | 50% | Speed in % of max\n000A | 1$2 | dollar\n000B | 1 | "
                          "cr\r\r\n00011 | 1 | typo\n000C | caf\xE9 | x\n0005 | 5 | ok\n"
                << Frames { "$A400055%", "$A50005ok%", "$A8%" } << none << none
                << QStringList { notSent.arg("5 lines were")
                                 + "line 2: holds \"%\"; line 3: holds \"$\"; line 4: holds a "
                                   "carriage return; line 5: five-digit page field \"00011\" "
                                   "starts with \"0\"; line 6: not valid UTF-8." };
        QTest::newRow("SEND after a cancelled chooser")
                << instant << "write" << none << Frames() << none << none << QStringList();
        QTest::newRow("SEND of a deleted file")
                << instant << "write delete" << sHeader << Frames() << none << none
                << QStringList { "Error: Could not open %3: No such file or directory. Nothing "
                                 "was sent." };
        QTest::newRow("write skips unsendable lines whole")
                << instant << "write details"
                << sHeader
                        + "0004 | 5 | 10 \xE2\x82\xAC\n012 | x | y\n000a | 1 | z\n123456 | 1 | "
                          "z\n0000 | 1 | "
                        + QByteArray(87, 'd') + "\n0001 | " + QByteArray(83, 'v')
                        + "\n10000 | 1 | z\n"
                << Frames { "$A4100001%", "$A510000z%", "$A8%" } << none << none
                << QStringList { "Error: 6 lines were not sent and 0 commands got no complete reply, so the "
                                 "board may not hold the file's values: line 2: character with no "
                                 "Latin-1 byte; line 3: page field \"012\" is not 4 or 5 upper-case "
                                 "hex digits; line 4: page field \"000a\" is not 4 or 5 upper-case "
                                 "hex digits; line 5: page field \"123456\" is not 4 or 5 "
                                 "upper-case hex digits; line 6: command longer than 90 bytes; and "
                                 "1 more." };
        // The $A5 reply stops for 4.5 s: the tool gives up on it, then on
        // its tail, so whatever ends the next reply may be that tail.
        QTest::newRow("write to a board whose reply stalls")
                << instant + QStringList { "--fault", "stall-after=2", "--stall", "4500" } << "write"
                << sHeader + "0000 | 5 | a\n"
                << Frames { "$A400005%", "$A50000a%", "$A8%" } << none << none
                << QStringList { noReply };
    }
    void writeTransfer() { transfer(); }

    // A row of the table on its own, as the read goes through all 65537 pages.
    void readPastPageFFFF_data()
    {
        columns();
        // From page 0x10000 on the commands grow to nine characters, so a
        // one-character value no longer makes a reply longer than its command.
        QByteArray all = "0000 | 65536 | z\n";
        for (int page = 1; page < 0x10000; ++page)
            all += pageText(page) + " | v | d\n";
        QTest::newRow("five-digit page 10000")
                << boardFile(all + "10000 | v | d\n") << "read" << QByteArray()
                << pageFrames(0x10001) << QByteArray() << sHeader + all
                << QStringList { sStopped + "10000: the board refused the page. 65536 of 65537"
                                 + sKept + "No %1 was written." };
    }
    void readPastPageFFFF() { transfer(); }

private:
    void transfer()
    {
        QFETCH(QStringList, board);
        QFETCH(QString, steps);
        QFETCH(QByteArray, input);
        QFETCH(Frames, frames);
        QFETCH(QByteArray, dump);
        QFETCH(QByteArray, part);
        QFETCH(QStringList, warnings);

        BoardLink link;
        QVERIFY(link.start(board) && link.connectAndGreet());
        QString name = m_prefix + QString::number(++m_count);
        for (const QString &step : steps.split(' ')) {
            if (step.startsWith("name="))
                name = step.mid(5);
            if (step.startsWith("seed=")) {
                link.window->sendCommand(step.mid(5), step.length() - 5);
                link.window->readReply();
            }
        }
        const QString dumpPath = sDumpDir + name + ".nvr", partPath = dumpPath + ".part",
                      backupPath = dumpPath + "~", upload = m_scratch.filePath("upload.nvr");
        const bool write = steps.startsWith("write");
        QFile::remove(dumpPath); // a build that wrote a bad name may have left it
        if (steps.endsWith(" dir"))
            QDir().mkdir(partPath);
        if (steps.contains("oldpart"))
            writeAll(partPath, "kept part\n");
        // Another user's .part; as an ordinary account the test cannot make one.
        if (steps.contains("foreign") && ::chown(QFile::encodeName(partPath), 1000, 1000) != 0)
            QSKIP("This account may not give a file to another user.");
        if (!input.isNull())
            writeAll(write ? upload : dumpPath, input);
        if (!input.isNull() && !write)
            writeAll(backupPath, "older backup\n");
        // A file outside the dump directory, for a link to it planted there.
        const QString outside = m_scratch.filePath("outside");
        writeAll(outside, "outside\n");
        const QString linked = steps.section("link=", 1, 1).section(' ', 0, 0);
        if (!linked.isEmpty())
            QVERIFY(QFile::link(outside, linked == "part"   ? partPath
                                        : linked == "dump" ? dumpPath
                                                           : backupPath));
        // Not even root may rename over an immutable file.
        if (steps.contains("immutable") && QProcess::execute("chattr", { "+i", dumpPath }) != 0)
            QSKIP("This account may not make a file immutable.");
        const qsizetype sentBefore = link.sim.frames().size();
        ModalAnswerer answerer(input.isNull() ? QString() : upload);
        if (write) {
            click(*link.window, "btnToAuxPCB");
            QCOMPARE(answerer.chooser(),
                     QStringLiteral("/opt/VYK_PLUS/NVRAM/AUXPCB|NVRAM (*.nvr)"));
            QCOMPARE(edit(*link.window, "editToAuxPCB")->text(),
                     QLatin1String(input.isNull() ? "" : "upload"));
            QPushButton *send = button(*link.window, "btnSendParams");
            QCOMPARE(send->isVisible() && send->isEnabled(), !input.isNull());
            if (steps.endsWith("delete"))
                QFile::remove(upload);
            click(*link.window, "btnSendParams");
            QVERIFY(!send->isVisible() && !send->isEnabled());
        } else {
            // Writes past the limit fail with EFBIG instead of killing the test.
            rlimit original {};
            getrlimit(RLIMIT_FSIZE, &original);
            const rlimit limited { steps.section("fsize=", 1).toULong(), original.rlim_max };
            signal(SIGXFSZ, SIG_IGN);
            if (steps.contains("fsize="))
                setrlimit(RLIMIT_FSIZE, &limited);
            link.readInto(name, steps == "cancel" ? "btnCancel" : "btnOK");
            if (steps.contains("immutable"))
                QProcess::execute("chattr", { "-i", dumpPath });
            setrlimit(RLIMIT_FSIZE, &original);
            QCOMPARE(edit(*link.window, "editFromAuxPCB")->text(), name);
            QCOMPARE(readAll(dumpPath), dump);
            QCOMPARE(QFile::exists(dumpPath), !dump.isNull());
            QCOMPARE(readAll(partPath), part);
            if (!QDir().rmdir(partPath)) // the directory of "dir"
                QCOMPARE(QFileInfo::exists(partPath), !part.isNull());
            // A complete read keeps the dump it replaces, or was to replace,
            // as the new backup.
            const bool complete = dump != input || steps.contains("immutable");
            if (linked != "backup")
                QCOMPARE(readAll(backupPath),
                         input.isNull()     ? QByteArray()
                                 : complete ? input
                                            : QByteArray("older backup\n"));
            QCOMPARE(readAll(outside), QByteArray("outside\n"));
            // The backup's temporary copy never stays behind.
            QCOMPARE(QDir(sDumpDir).entryList({ ".aux-nvram-*" }, QDir::Files | QDir::Hidden),
                     QStringList());
        }
        // Keep-alives may go out while the chooser or a warning is open, but
        // never inside a transfer.
        Frames sent = link.sim.frames().mid(sentBefore);
        while (sent.startsWith("$C0%"))
            sent.removeFirst();
        while (sent.endsWith("$C0%"))
            sent.removeLast();
        QCOMPARE(sent, frames);
        for (QString &warning : warnings)
            warning = "VYK NVRAM|"
                    + warning.replace("%1", dumpPath).replace("%2", partPath).replace("%3", upload);
        QCOMPARE(answerer.messages(), warnings);
        // The box lists five places; its details, every one.
        if (steps.contains("details"))
            QCOMPARE(answerer.details().value(0).section('\n', 5),
                     QStringLiteral("line 7: command longer than 90 bytes"));
        if (write && input.isNull())
            return; // nothing was sent
        // Both transfers end alike: the field turns yellow and the 750 ms polling goes on.
        const char *field = write ? "editToAuxPCB" : "editFromAuxPCB";
        QCOMPARE(edit(*link.window, field)->styleSheet(),
                 QStringLiteral("QLineEdit{background-color: rgb(246, 211, 45)}"));
        const QList<QTimer *> timers = link.window->findChildren<QTimer *>();
        QVERIFY(std::any_of(timers.begin(), timers.end(),
                            [](QTimer *t) { return t->isActive() && t->interval() == 750; }));
    }

    // Dumps go to the tool's own directory, which ./test.sh creates.
    const QString m_prefix = QStringLiteral("tst-%1-").arg(QCoreApplication::applicationPid());
    int m_count = 0;
    QTemporaryDir m_scratch;
};

QTEST_MAIN(TestTransfers)
#include "tst_transfers.moc"
