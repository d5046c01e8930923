// Reading the board into a dump and writing a file into it, through the
// window against the simulated board. A row gives the board, what the user
// does, every frame the board logged after the greeting (keep-alives
// included), and the files and warnings that result.

#include "boardlink.h"

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace WindowDriver;
using Frames = QList<QByteArray>;

static const QByteArray sHeader("Page Number | Value | Description\n");
static const QString sStopped("Error: The NVRAM read stopped at page ");
static const QString sKept(" read; they are kept in %2, which is not offered for writing back. ");
static const QString sOldKept("The existing %1 was not changed.");
static const QString sCable(" Check the cable and the port, then read again."),
        sFree(" Free space on the disk, then read again."),
        sFix(" Fix the listed lines or the link, then send again."),
        sLookAtIt(" Look at it, then remove it or read under another name.");

// A read dies here, as at a power cut, just before it gives a file this
// name by a rename or a link. Set only in a forked copy of the test.
static QByteArray sKillAtName;

extern "C" int rename(const char *from, const char *to) noexcept
{
    if (sKillAtName == to)
        ::kill(::getpid(), SIGKILL);
    return ::renameat(AT_FDCWD, from, AT_FDCWD, to);
}

extern "C" int linkat(int fromDir, const char *from, int toDir, const char *to, int flags) noexcept
{
    if (sKillAtName == to)
        ::kill(::getpid(), SIGKILL);
    return int(::syscall(SYS_linkat, fromDir, from, toDir, to, flags));
}

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
    // "name=" the name typed, "seed=" a command sent first, "oldpart" for
    // an earlier .part ("emptypart" an empty one), "hardlink" with a second
    // name, "asuser" the read as an ordinary account ("sticky" directory,
    // "umask" 077), "live" its .part locked, "link=" a path made a
    // symbolic link, "fsize=" a file size limit, "mode=" the old dump's
    // (":" and its ~'s after the read),
    // "kill=" a name the read dies
    // before giving (a second read follows), "swap" or "remove" the .part
    // once it holds page 0; for a write, "delete" the chosen file before
    // SEND, make it a "fifo", "swap" it for another of its size, or "edit" it
    // in place
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
                << boardFile("0000 | 0010 | z\n" + pages + more) << "cancel mode=640:660" << old
                << pageFrames(11) << sHeader + "0000 | 0010 | z\n" + pages + more.left(8 * 13)
                << none << QStringList();
        for (const QString part : { "oldpart", "emptypart" })
            QTest::newRow(qPrintable("silent board keeps the old dump and " + part))
                    << instant + QStringList { "--fault", "silent" } << "read " + part << old
                    << pageFrames(1) << old << QByteArray(part == "oldpart" ? "kept part\n" : "")
                    << QStringList { sStopped
                                     + "0000: the board did not answer. No page was read; the "
                                       "existing %2 was not changed. "
                                     + sOldKept + sCable };
        // Page 0's value is kept in place of an earlier .part.
        QTest::newRow("page 0's value past the page counter")
                << boardFile("0000 | 99999999999 | z\n") << "read oldpart" << old << pageFrames(1)
                << old << sHeader + "0000 | 99999999999 | z\n"
                << QStringList { sStopped
                                 + "0000: its value is not a page count. Page 0 is kept in %2, "
                                   "which is not offered for writing back. "
                                 + sOldKept + sCable };
        // An empty value makes an eight-character reply: no longer than its command.
        QTest::newRow("page 0 refused")
                << boardFile("0000 |  | zero\n") << "read" << none << pageFrames(1) << none << none
                << QStringList { sStopped + "0000: the board refused the page" + nothingKept
                                 + "No %1 was written." + sCable };
        // The greeting and four replies, then silence.
        // Someone else removes the .part while the board is silent: no
        // message may call whatever holds that name now this read's pages.
        const QString lost(", but someone else removed or replaced %2 meanwhile, so the pages "
                           "read are lost. ");
        QTest::newRow("board falls silent at page 2, part removed")
                << boardFile(four, instant + QStringList { "--fault", "silent-after=5" })
                << "read remove" << old << pageFrames(3) << old << none
                << QStringList { sStopped + "0002: the board did not answer. 2 pages were read"
                                 + lost + sOldKept + sCable };
        QTest::newRow("part replaced while the board answers")
                << boardFile(four, instant + QStringList { "--turnaround", "100" }) << "read swap"
                << old << pageFrames(4) << old << QByteArray("someone else's\n")
                << QStringList { "Error: The NVRAM read got every page" + lost + sOldKept
                                 + " Read again, under another name if someone else uses this "
                                   "one." };
        // A first read dies, as at a power cut, before the copy of the old
        // dump has a name, before it replaces the older backup, or between
        // that and the rename of the .part over the dump.
        for (const QString kill : { "%1~.new", "%1~", "%1" })
            QTest::newRow(qPrintable("killed before naming " + kill))
                    << boardFile("0000 | 0 | z\n") << "read mode=664 kill=" + kill << old
                    << pageFrames(1) + pageFrames(1) << sHeader + "0000 | 0 | z\n"
                    << none << QStringList();
        // Page 2's value reply pauses after "A60002=1", longer than a reply may.
        QTest::newRow("reply stalls inside page 2's value")
                << boardFile(four.left(32) + "0002 | 12345678 | two\n",
                             instant + QStringList { "--fault", "stall-after=5" })
                << "read" << old << pageFrames(3).mid(0, 5) << old << sHeader + four.left(32)
                << QStringList { sStopped
                                 + "0002: the reply stopped before its \"#\". 2 of 4 pages were"
                                 + sKept + sOldKept + sCable };
        QTest::newRow("board hangs up at page 1")
                << boardFile(four, instant + QStringList { "--fault", "hangup-after=4" }) << "read"
                << none << pageFrames(2).mid(0, 3) << none << sHeader + four.left(16)
                << QStringList { "Error: Read timeout on command $A70001%",
                                 sStopped + "0001: the port could not be read. 1 of 4 pages was"
                                         + sKept + "No %1 was written." + sCable };
        // Paced like the real line: the cut reply's tail is still arriving
        // when the next command is due, and must not pass for its reply.
        const QByteArray long253 = QByteArray("abcdefghijklmnopqrstuvwxyz").repeated(10).left(253);
        const QByteArray rest = "0002 | 2 | p\n0003 | 3 | p\n0004 | 4 | p\n0005 | 5 | p\n";
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
                       "to write back. Check them by hand before writing this file back."
                   };
        // A NUL byte between every two reply bytes.
        const QByteArray marks = "0000 | 3 | zero\n0001 | 5% | a$b\n";
        QTest::newRow("bar, percent, dollar, line break and NUL bytes flagged")
                << boardFile(marks + four.mid(32), instant + QStringList { "--fault", "nul" })
                << "read seed=$A50002x|y% seed=$A40003a\nb%" << none << pageFrames(4)
                << sHeader + marks + "0002 | 22 | x|y\n0003 | a b | " + QByteArray(83, 'x') + "\n"
                << none
                << QStringList {
                       "Warning: The NVRAM dump %1 is complete, but 4 pages will not write back "
                       "unchanged: page 0000: NUL bytes dropped; page 0001: NUL bytes dropped, "
                       "holds \"%\", holds \"$\"; page 0002: NUL bytes dropped, holds \"|\"; page "
                       "0003: NUL bytes dropped, line break written as a space, too long to write "
                       "back. Check them by hand before writing this file back."
                   };
        // Any member of the directory's group may plant these; the file
        // outside must stay as it is and nothing of it may be copied.
        const QByteArray outside("outside\n");
        for (const QString link : { "%2", "%1", "%1~" })
            QTest::newRow(qPrintable("link=" + link))
                    << instant << "read link=" + link << none << Frames()
                    << (link == "%1" ? outside : none) << (link == "%2" ? outside : none)
                    << QStringList { "Error: " + link + " is a symbolic link. Nothing was read."
                                     + sLookAtIt };
        // Only a running read's lock keeps a .part from another read; a dead
        // read's of another user is moved aside, and so is a dead read's
        // .part beside its copy of the dump, which goes.
        const QByteArray zero = sHeader + "0000 | 0 | z\n";
        const QString moved("Note: %2 was left by a read of root that no longer runs; its pages "
                            "were moved to %5.root-20260102-030405.nvr.part. Ask root whether "
                            "they are still wanted.");
        for (const auto &[step, text] : QList<QPair<QString, QString>> {
                     { "oldpart asuser", moved },
                     { "emptypart asuser", "" }, // holds no page
                     { "oldpart kill=%1~ asuser", moved },
                     { "oldpart live asuser",
                       "Error: %2 belongs to a read of that name by root that is running now. "
                       "Nothing was read. Wait until that read ends, or read under another name." },
                     // Where only its owner may move it.
                     { "oldpart sticky asuser",
                       "Error: %2 was left by a read of root that no longer runs, and could not be "
                       "moved out of the way: Operation not permitted. Nothing was read. Ask root "
                       "or an administrator to remove it, or read under another name." },
                     { "oldpart hardlink",
                       "Error: %2 has another name (a hard link). Nothing was read." + sLookAtIt },
                     // Another user's dump, closed to this one, is still kept.
                     { "mode=600:600 asuser umask", "" } }) {
            const bool refused = text.startsWith("Error");
            QTest::newRow(qPrintable(step))
                    << boardFile("0000 | 0 | z\n") << "read " + step << old
                    << (refused ? Frames()
                                : pageFrames(1)
                                        + (step.contains("kill") ? pageFrames(1) : Frames()))
                    << (refused ? old : zero) << (refused ? QByteArray("kept part\n") : none)
                    << (text.isEmpty() ? QStringList() : QStringList { text });
        }
        // The header and page 0 fit in 60 bytes, page 1's line does not.
        QTest::newRow("disk fills at page 0")
                << boardFile(four) << "read oldpart fsize=40" << old << pageFrames(1) << old << none
                << QStringList { sStopped
                                 + "0000: could not write %2: File too large. Page 0 was read but "
                                   "could not be written, so nothing was kept. "
                                 + sOldKept + sFree };
        // The new dump fits, the copy of the old one to the backup does not.
        QTest::newRow("disk fills while the old dump is kept")
                << boardFile("0000 | 0 | z\n") << "read fsize=60" << QByteArray(100, 'o')
                << pageFrames(1) << QByteArray(100, 'o') << sHeader + "0000 | 0 | z\n"
                << QStringList {
                       "Error: The NVRAM dump is complete, but %1 could not be replaced: "
                       "could not keep it as %1~: File too large. The dump is kept in "
                       "%2. Fix the cause, then read again or rename that file by hand."
                   };
        QTest::newRow("disk fills at page 1")
                << boardFile(four) << "read fsize=60" << old << pageFrames(2) << old
                << sHeader + four.left(16)
                << QStringList { sStopped
                                 + "0001: could not write %2: File too large. 1 of 4 "
                                   "pages was"
                                 + sKept + sOldKept + sFree };
        for (const QString &name :
             { QString(), QString(".."), QString("../escape"), QString("a\tb"), QString(247, 'x') })
            QTest::newRow(qPrintable("unusable name " + name.left(9)))
                    << instant << "read name=" + name << none << Frames() << none << none
                    << QStringList {
                           "Error: \""
                           // Shortened in its middle: the box fits a 1024-pixel screen.
                           + (name.size() < 99 ? name : QString(44, 'x') + "…" + QString(44, 'x'))
                           + "\" cannot be used as a dump name. Nothing was read. Type a "
                             "name that is not empty, \".\" or \"..\", holds no \"/\" and "
                             "no control character, and takes at most 246 bytes."
                       };

        // Each reply's line end comes after the next command cleared the port.
        const QByteArray crlf = "0000 | 2 | zero\n0001 | 1001 | Desc 1\n0002 | 1002 | Desc 2\n";
        QTest::newRow("line ends after each reply")
                << boardFile(crlf, instant + QStringList { "--fault", "crlf-after=1" }) << "read"
                << none << pageFrames(3) << sHeader + crlf << none << QStringList();
        // Framing that is the line's, not the page's: the dump as the board
        // holds it, with no box. Every 7th reply after a space is asked again.
        Frames asked = pageFrames(6);
        asked.insert(9, "$A60004%");
        asked.insert(4, "$A70000%");
        asked.insert(5, "$A70001%");
        const QByteArray six = crlf + "0003 | 3 | a\n0004 | 4 | b\n0005 | 5 | c\n";
        const QByteArray six0 = "0000 | 5" + six.mid(8);
        for (const QStringList &fault : { QStringList { "--fault", "stray-before=7" },
                                          { "--fault", "echo" },
                                          { "--stray", "0011", "--fault", "stray-before=1" },
                                          { "--fault", "double-keepalive" },
                                          { "--fault", "late-keepalive=1" } })
            QTest::newRow(qPrintable("framing " + fault.join(' ')))
                    << boardFile(six0, QStringList { "--baud", "0", "--turnaround", "50" } + fault)
                    << "read seed=$C0% seed=$C0%" << none
                    << (fault.last() == "stray-before=7" ? asked : pageFrames(6)) << sHeader + six0
                    << none << QStringList();
        QTest::newRow("XOFF and XON inside replies")
                << boardFile(
                           crlf,
                           instant + QStringList { "--stray", "1311", "--fault", "stray-inside=2" })
                << "read" << none << pageFrames(3) << sHeader + crlf << none
                << QStringList { "Warning: The NVRAM dump %1 is complete, but 3 pages will not "
                                 "write back unchanged: page 0000: XON/XOFF bytes dropped; page "
                                 "0001: XON/XOFF bytes dropped; page 0002: XON/XOFF bytes "
                                 "dropped. Check them by hand before writing this file back." };
        QTest::newRow("answers about the next page from page 2's description on")
                << boardFile(four, instant + QStringList { "--fault", "wrong-page-after=6" })
                << "read" << none << pageFrames(3) + Frames { "$A70002%", "$A70002%", "$A70002%" }
                << none << sHeader + four.left(32)
                << QStringList { sStopped
                                 + "0002: the board's answer to \"$A70002%\" did not "
                                   "belong to that page, asked 4 times (the last: "
                                   "\"A70003=xxxxxxxxxxxxxxxxx...\"). 2 of 4 pages were"
                                 + sKept + "No %1 was written." + sCable };
        QTest::newRow("board restarts during a read")
                << boardFile(four, instant + QStringList { "--fault", "restart-after=4" }) << "read"
                << none << pageFrames(2) << none << sHeader + four.left(16)
                << QStringList { sStopped
                                 + "0001: the board restarted: its greeting \"A9OK#\" "
                                   "came in place of the answer to \"$A70001%\". 1 of 4 pages "
                                   "was"
                                 + sKept + "No %1 was written." + sCable };
    }
    void readTransfer() { transfer(); }

    void writeTransfer_data()
    {
        columns();
        const QStringList instant { "--baud", "0" };
        const QByteArray none, mine = sHeader + "0000 | 1 | me\n", d82(82, 'd');
        // No header, CR LF line ends and none after the last line; blank
        // lines are skipped unlisted. Two fields keep the board's
        // description, and so do a description cut at a "|" and an empty
        // one; an empty value and a five-digit page field would put into
        // the board what no read gives back.
        QTest::newRow("write page lines, 90-byte command, Latin-1 as single bytes, lines in part")
                << instant << "write details"
                << "0000 | 0 | h\r\n0000 | 2 | t\r\n\r\n0003 | 211 | Mode A|B select\r\n   \r\n"
                   "0003 | 9\r\n0004 | 538 | \r\n0005 | 1 | "
                        + d82 + "\r\n0002 | 7 | caf\xC3\xA9\r\n0002 |  | ev2\r\n"
                        + "10000 | 77 | NEW\r\n0003\r\n0001 | 2"
                << Frames { "$A400002%",           "$A50000t%",   "$A40003211%",
                            "$A400039%",           "$A40004538%", "$A400051%",
                            "$A50005" + d82 + "%", "$A400027%",   "$A50002caf\xE9%",
                            "$A400012%",           "$A8%" }
                << none << none
                << QStringList {
                       "Error: 4 lines were not sent and 2 lines were sent in part, so "
                       "the board may not hold the file's values: line 1: a page line, but "
                       "the first line is always taken as the header; line 4: the description "
                       "holds \"|\": left as the board "
                       "has it; line 7: empty description: left as the board has it; "
                       "line 10: empty value: the board would answer its read with "
                       "nothing; line 11: five-digit page field \"10000\": the board "
                       "reads page 1000 and a value starting with \"0\"; and 1 more."
                       + sFix
                   };
        QTest::newRow("write a file of only its header")
                << instant << "write" << sHeader << Frames { "$A8%" } << none << none
                << QStringList {
                       "Error: %3 holds no page line, so only the closing save (\"$A8%\") "
                       "was sent. Choose a file with page lines, then send again."
                   };
        QTest::newRow("write a file of no line to send")
                << instant << "write" << sHeader + "0000;2;t" << Frames { "$A8%" } << none << none
                << QStringList { "Error: 1 line was not sent, so only the closing save (\"$A8%\") "
                                 "went to the board: line 2: fewer than two fields."
                                 + sFix };
        QTest::newRow("SEND after a cancelled chooser")
                << instant << "write" << none << Frames() << none << none << QStringList();
        QTest::newRow("SEND of a deleted file")
                << instant << "write delete" << sHeader << Frames() << none << none
                << QStringList { "Error: Could not open %3: No such file or directory. Nothing "
                                 "was sent. Choose the file again." };
        // A FIFO with no writer would block the read of it for ever.
        QTest::newRow("SEND of a FIFO")
                << instant << "write fifo" << mine << Frames() << none << none
                << QStringList {
                       "Error: %3 is not a regular file. Nothing was sent. Choose a .nvr file."
                   };
        const QStringList changed { "Error: %3 changed after it was chosen. Nothing was sent; "
                                    "choose it again." };
        QTest::newRow("SEND of a file replaced after the choice")
                << instant << "write swap" << mine << Frames() << none << none << changed;
        QTest::newRow("SEND of a file changed after the choice")
                << instant << "write edit" << mine << Frames() << none << none << changed;
        // The $A5 reply stops for 4.5 s: the tool gives up on it, then on
        // its tail, so whatever ends the next reply may be that tail.
        QTest::newRow("write to a board whose reply stalls")
                << instant + QStringList { "--fault", "stall-after=2", "--stall", "4500" }
                << "write" << sHeader + "0000 | 5 | a\n"
                << Frames { "$A400005%", "$A50000a%", "$A8%" } << none << none
                << QStringList { "Error: 2 commands got no complete reply, so the board may not "
                                 "hold the file's values: the description of line 2: no complete "
                                 "reply; the closing save: no complete reply."
                                 + sFix };
        // The board restarts at line 4's value and forgets lines 2 and 3.
        const QByteArray three =
                sHeader + "0000 | 5 | a\n0001 | 6 | b\n0002 | 7 | c\n0003 | 8 | d\n";
        QTest::newRow("board restarts during a write")
                << instant + QStringList { "--fault", "restart-lose-after=6" } << "write seed=$C0%"
                << three
                << Frames { "$A400005%", "$A50000a%", "$A400016%", "$A50001b%", "$A400027%" }
                << none << none
                << QStringList { "Error: The board restarted at the value of line 4: its greeting "
                                 "\"A9OK#\" came in place of its answer. What it had not saved "
                                 "may be lost; 1 line after it was not sent, and the board was not "
                                 "told to save (\"$A8%\"). Send the whole file again." };
        QTest::newRow("an answer unlike the earlier ones")
                << instant + QStringList { "--fault", "stray-before=6" } << "write" << three
                << Frames { "$A400005%", "$A50000a%", "$A400016%", "$A50001b%", "$A400027%",
                            "$A50002c%", "$A400038%", "$A50003d%", "$A8%" }
                << none << none
                << QStringList { "Error: 1 command got no complete reply, so the board may not "
                                 "hold the file's values: the value of line 4: no reply of its "
                                 "own: \" A4OK#\" came, not \"A4OK#\" as before."
                                 + sFix };
    }
    void writeTransfer() { transfer(); }

    // A row of the table on its own, as the read goes through all 65537 pages.
    void readPastPageFFFF_data()
    {
        columns();
        // From page 0x10000 on the commands grow to nine characters and the
        // board takes a written page from four digits: such pages are read,
        // and listed as not written back, five by name.
        QByteArray all = "0000 | 65541 | z\n", five;
        for (int page = 1; page < 0x10000; ++page)
            all += pageText(page) + " | v | d\n";
        for (int page = 0x10000; page <= 0x10005; ++page)
            five += pageText(page) + " | vv | dd\n";
        QTest::newRow("five-digit pages")
                << boardFile(all + five) << "read" << QByteArray() << pageFrames(0x10006)
                << sHeader + all + five << QByteArray()
                << QStringList { "Warning: The NVRAM dump %1 is complete, but 6 pages will not "
                                 "write back unchanged: page 10000: five-digit page: SEND does not "
                                 "write it back; page 10001: five-digit page: SEND does not write "
                                 "it back; page 10002: five-digit page: SEND does not write it "
                                 "back; page 10003: five-digit page: SEND does not write it back; "
                                 "page 10004: five-digit page: SEND does not write it back; and 1 "
                                 "more. Check them by hand before writing this file back." };
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
        // Each row starts from an empty dump directory of this test process.
        QDir dir(sNvramDir);
        QVERIFY(dir.removeRecursively() && dir.mkpath("."));
        QString name("tst");
        for (const QString &step : steps.split(' ')) {
            if (step.startsWith("name="))
                name = step.mid(5);
            if (step.startsWith("seed=")) {
                link.window->sendCommand(step.mid(5), step.length() - 5);
                link.window->readReply();
            }
        }
        const QString dumpPath = sNvramDir + name + ".nvr", partPath = dumpPath + ".part",
                      backupPath = dumpPath + "~", upload = m_scratch.filePath("upload.nvr");
        const auto at = [&](QString text) {
            return text.replace("%1", dumpPath)
                    .replace("%2", partPath)
                    .replace("%3", upload)
                    .replace("%5", sNvramDir + name);
        };
        const auto arg = [&](const char *key) {
            return at(steps.section(key, 1, 1).section(' ', 0, 0));
        };
        // Hidden files and the backup's copy under its own name.
        const auto strays = [&] {
            return dir.entryList({ ".*", "*.new" }, QDir::Files | QDir::Hidden);
        };
        const bool write = steps.startsWith("write");
        if (steps.contains("oldpart") || steps.contains("emptypart"))
            writeAll(partPath, steps.contains("oldpart") ? "kept part\n" : "");
        if (steps.contains("hardlink"))
            QVERIFY(::link(QFile::encodeName(partPath), QFile::encodeName(sNvramDir + "../second"))
                    == 0);
        if (!input.isNull())
            writeAll(write ? upload : dumpPath, input);
        if (!input.isNull() && !write)
            writeAll(backupPath, "older backup\n");
        const QString mode = arg("mode=").section(':', 0, 0);
        if (!mode.isEmpty())
            QVERIFY(::chmod(QFile::encodeName(dumpPath), mode.toUInt(nullptr, 8)) == 0);
        // A file outside the dump directory, for a link to it planted there.
        const QString outside = m_scratch.filePath("outside"), linked = arg("link=");
        writeAll(outside, "outside\n");
        if (!linked.isEmpty())
            QVERIFY(QFile::link(outside, linked));
        const qsizetype sentBefore = link.sim.frames().size();
        ModalAnswerer answerer(input.isNull() ? QString() : upload);
        if (write) {
            click(*link.window, "btnToAuxPCB");
            QCOMPARE(answerer.chooser(), dir.path() + "|NVRAM (*.nvr)");
            QCOMPARE(edit(*link.window, "editToAuxPCB")->text(),
                     QLatin1String(input.isNull() ? "" : "upload"));
            QPushButton *send = button(*link.window, "btnSendParams");
            QCOMPARE(send->isVisible() && send->isEnabled(), !input.isNull());
            if (steps.endsWith("delete") || steps.endsWith("fifo"))
                QFile::remove(upload);
            if (steps.endsWith("fifo"))
                QCOMPARE(::mkfifo(QFile::encodeName(upload), 0600), 0);
            if (steps.endsWith("swap") || steps.endsWith("edit"))
                writeAll(upload + (steps.endsWith("swap") ? "~" : ""), sHeader + "0000 | 9 | us\n");
            if (steps.endsWith("swap"))
                QCOMPARE(std::rename(qPrintable(upload + "~"), qPrintable(upload)), 0);
            click(*link.window, "btnSendParams");
            QFile::remove(upload); // a FIFO would block the next row's writing of it
            QVERIFY(!send->isVisible() && !send->isEnabled());
        } else {
            const QString killAt = arg("kill=");
            if (!killAt.isEmpty()) {
                const pid_t child = ::fork();
                if (child == 0) {
                    sKillAtName = QFile::encodeName(killAt);
                    link.readInto(name);
                    ::_exit(1);
                }
                int status = 0;
                QVERIFY(::waitpid(child, &status, 0) == child && WIFSIGNALED(status));
                // The dump and its backup as they were, or the backup already
                // a copy of the dump; nothing hidden, but the copy's own name.
                QCOMPARE(readAll(dumpPath), input);
                QCOMPARE(readAll(backupPath), killAt == dumpPath ? input : "older backup\n");
                QCOMPARE(strays(),
                         killAt == backupPath ? QStringList { name + ".nvr~.new" } : QStringList());
            }
            // The .part's age names it when it is moved aside.
            QFile stamped(partPath);
            if (stamped.open(QIODevice::ReadOnly))
                stamped.setFileTime(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)),
                                    QFileDevice::FileModificationTime);
            // A read of that name that runs elsewhere holds the .part's lock.
            QFile held(partPath);
            QVERIFY(!steps.contains("live")
                    || (held.open(QIODevice::ReadOnly) && ::flock(held.handle(), LOCK_EX) == 0));
            // Someone else swaps or removes the .part once it holds page 0.
            const QString other = sNvramDir + "../other";
            writeAll(other, "someone else's\n");
            std::thread meddler;
            if (steps.contains(" swap") || steps.contains(" remove"))
                meddler = std::thread([&] {
                    for (int ms = 0; ms < 5000 && QFileInfo(partPath).size() == 0; ++ms)
                        QThread::msleep(1);
                    steps.contains(" swap") ? ::rename(qPrintable(other), qPrintable(partPath))
                                            : ::unlink(qPrintable(partPath));
                });
            // The read as an ordinary account, in a directory open to it.
            if (steps.contains("asuser")
                && (::geteuid() != 0 || ::chmod(QFile::encodeName(sNvramDir + ".."), 0755) != 0
                    || ::chmod(QFile::encodeName(sNvramDir),
                               steps.contains("sticky") ? 01777 : 0777)
                            != 0
                    || ::seteuid(1000) != 0))
                QSKIP("This account may not act as another.");
            if (steps.contains("asuser")
                && ::euidaccess(QFile::encodeName(sNvramDir), W_OK | X_OK) != 0
                && ::seteuid(0) == 0)
                QSKIP("uid 1000 cannot enter this TMPDIR: give one that others may enter too.");
            // A technician whose umask closes files to everyone else.
            const mode_t umask = ::umask(steps.contains("umask") ? 077 : 022);
            // Writes past the limit fail with EFBIG instead of killing the test.
            rlimit original {};
            getrlimit(RLIMIT_FSIZE, &original);
            const rlimit limited { steps.section("fsize=", 1).toULong(), original.rlim_max };
            signal(SIGXFSZ, SIG_IGN);
            if (steps.contains("fsize="))
                setrlimit(RLIMIT_FSIZE, &limited);
            link.readInto(name, steps.startsWith("cancel") ? "btnCancel" : "btnOK");
            QVERIFY(!steps.contains("asuser") || ::seteuid(0) == 0);
            ::umask(umask);
            if (meddler.joinable())
                meddler.join();
            setrlimit(RLIMIT_FSIZE, &original);
            QCOMPARE(edit(*link.window, "editFromAuxPCB")->text(), name);
            QCOMPARE(readAll(dumpPath), dump);
            QCOMPARE(QFile::exists(dumpPath), !dump.isNull());
            QCOMPARE(readAll(partPath), part);
            QCOMPARE(QFileInfo::exists(partPath), !part.isNull());
            // A complete read keeps the dump it replaces, or was to replace,
            // as the new backup.
            const bool complete = dump != input;
            if (linked != backupPath)
                QCOMPARE(readAll(backupPath),
                         input.isNull()     ? QByteArray()
                                 : complete ? input
                                            : QByteArray("older backup\n"));
            // The group's, as the dump it keeps is to those who could read it.
            struct stat status = {};
            const QString kept = arg("mode=").section(':', 1, 1);
            QVERIFY(kept.isEmpty()
                    || (::stat(QFile::encodeName(backupPath), &status) == 0
                        && (status.st_mode & 0777) == kept.toUInt(nullptr, 8)));
            QVERIFY(!complete || dump.isNull() || !linked.isEmpty()
                    || (::stat(QFile::encodeName(dumpPath), &status) == 0
                        && (status.st_mode & 0777) == 0664));
            QCOMPARE(readAll(sNvramDir + name + ".root-20260102-030405.nvr.part"),
                     !warnings.join(' ').contains("moved to") ? QByteArray()
                             : killAt.isEmpty()               ? "kept part\n"
                                                              : sHeader + "0000 | 0 | z\n");
            QCOMPARE(readAll(outside), QByteArray("outside\n"));
            QCOMPARE(strays(), QStringList());
        }
        // Keep-alives may go out while the chooser or a warning is open, but
        // never inside a transfer. A board still busy with a stalled reply
        // logs the last frame only once it gets to it.
        const auto sent = [&] {
            Frames sent = link.sim.frames().mid(sentBefore);
            while (sent.startsWith("$C0%"))
                sent.removeFirst();
            while (sent.endsWith("$C0%"))
                sent.removeLast();
            return sent;
        };
        QTRY_COMPARE(sent(), frames);
        for (QString &warning : warnings)
            warning = "VYK NVRAM|" + at(warning);
        QCOMPARE(answerer.messages(), warnings);
        // The box lists five places; its details, every one.
        if (steps.contains("details"))
            QCOMPARE(answerer.details().value(0).section('\n', 5),
                     "line 12: fewer than two fields");
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

    QTemporaryDir m_scratch;
};

QTEST_MAIN(TestTransfers)
#include "tst_transfers.moc"
