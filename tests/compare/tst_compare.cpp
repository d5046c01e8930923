// aux-nvram-compare run as a process on real files: a row gives the board
// (a dump, or what the simulated board holds before the window writes FILE
// into it and reads it back), FILE, and what the program prints and exits with.

#include "boardlink.h"

#include <sys/stat.h>

static const QByteArray sHeader("Page Number | Value | Description\n");
static const QByteArray sFour =
        sHeader + "0000 | 3 | zero\n0001 | 11 | one\n0002 | 22 | two\n0003 | 33 | three\n";

class TestCompare : public QObject
{
    Q_OBJECT

private slots:
    void compare_data()
    {
        // The bytes, "fifo" for a FIFO with no writer, "big" for a file
        // (sparse) of a byte over 64 MiB.
        QTest::addColumn<QByteArray>("board");
        QTest::addColumn<QByteArray>("file"); // null: no such file
        QTest::addColumn<QStringList>("options");
        // Empty: the board file is compared as it is. Otherwise the
        // simulator's arguments: it loads the board file, the window writes
        // FILE into it and reads it back, and that dump is compared.
        QTest::addColumn<QStringList>("simulator");
        // What is printed, the errors (%1 the board file, %2 FILE) after
        // the findings; each line ends with a line feed.
        QTest::addColumn<QString>("printed");
        QTest::addColumn<int>("status");

        const QStringList none;
        QTest::newRow("identical, the board with CR LF line ends")
                << QByteArray(sFour).replace("\n", "\r\n") << sFour << none << none
                << "same: 4 pages the same" << 0;
        // A two-field line leaves the description alone, so it is not compared.
        QTest::newRow("pages that differ, a two-field line, pages on one side only")
                << sFour + "10000 | 9 | big\n"
                << sHeader + "0000 | 3\n0001 | 11 | uno\n0002 | \xC3\xA9\t | two\n0004 | 4 | x"
                << none << none
                << R"(page 0001: description differs: board "one", file "uno" (line 3)
page 0002: value differs: board "22", file "\xE9\t" (line 4)
page 0004: not on the board (line 5)
different: 1 page the same, 2 different, 1 not on the board, 2 board pages left alone)"
                << 1;
        QTest::newRow("quiet, a file whose only fault is a line sent in part")
                << sFour << QByteArray(sFour).replace("one", "one | x") << QStringList { "-q" }
                << none << "" << 1;
        QTest::newRow("no page line in the file")
                << sFour << sHeader << none << none << R"(the file: holds no page line to send
different: no page to write, 4 board pages left alone)"
                << 1;
        QTest::newRow("missing file")
                << sFour << QByteArray() << none << none
                << "aux-nvram-compare: cannot read %2: No such file or directory. Check the name "
                   "and that you may read it."
                << 2;
        QTest::newRow("board file no dump")
                << QByteArray("0000 | 3 | zero\n") << sFour << none << none
                << R"(aux-nvram-compare: %1 is not a dump: line 1 is not "Page Number | Value | Description". Give a dump that aux-nvram read as the first file.)"
                << 2;
        QTest::newRow("board file that repeats a page")
                << sFour + "0002 | 22 | two" << sFour << none << none
                << "aux-nvram-compare: %1 is not a dump: line 6 repeats page 0002. Give a dump "
                   "that aux-nvram read as the first file."
                << 2;
        QTest::newRow("FIFO as FILE")
                << sFour << QByteArray("fifo") << none << none
                << "aux-nvram-compare: %2 is not a regular file. Give a .nvr file." << 2;
        QTest::newRow("file larger than any dump") << sFour << QByteArray("big") << none << none
                                                   << "aux-nvram-compare: %2 is larger than 64 "
                                                      "MiB, more than any dump. Give a .nvr file."
                                                   << 2;
        QTest::newRow("--bogus") << sFour << sFour << QStringList { "--bogus" } << none
                                 << "aux-nvram-compare: Unknown option '--bogus'. See --help." << 2;
        // The board's four pages restated, then one line of every kind: no
        // page may change but as the lines that SEND sends say, and every
        // page must still read.
        const QByteArray everyKind = sFour
                + "0001 | 111 | caf\xC3\xA9\n0002 | 222\n0003 | 333 | Mode A|B select\n"
                + "0000 | 3 | \n0001 |  | ev\n00021 | 77 | NEW\n012 | 5 | x\n0003 | 5% | x\n"
                + "0003 | 1$2 | x\n0003 | x | a#b\n0003 | c\rr | x\n0003 | 10 \xE2\x82\xAC | x\n"
                + "0003 | caf\xE9 | x\n0003 | 1 | " + QByteArray(87, 'd') + "\n0003\n";
        QTest::newRow("every kind of line written and read back")
                << sFour << everyKind << none << QStringList { "--baud", "0" }
                << R"(line 8: sent in part: the description holds "|": left as the board has it
line 9: sent in part: empty description: left as the board has it
line 10: not sent: empty value: the board would answer its read with nothing
line 11: not sent: five-digit page field "00021": the board reads page 0002 and a value starting with "1"
line 12: not sent: page field "012" is not 4 upper-case hex digits
line 13: not sent: holds "%"
line 14: not sent: holds "$"
line 15: not sent: holds "#"
line 16: not sent: holds a carriage return
line 17: not sent: character with no Latin-1 byte
line 18: not sent: not valid UTF-8
line 19: not sent: command longer than 90 bytes
line 20: not sent: fewer than two fields
different: 4 pages the same, 11 lines not sent, 2 lines sent in part)"
                << 1;
    }

    void compare()
    {
        QFETCH(QByteArray, board);
        QFETCH(QByteArray, file);
        QFETCH(QStringList, options);
        QFETCH(QStringList, simulator);
        QFETCH(QString, printed);
        QFETCH(int, status);

        QTemporaryDir dir;
        QString boardPath = dir.filePath("board.nvr"), filePath = dir.filePath("file.nvr");
        for (const auto &[path, bytes] :
             { std::pair(&boardPath, board), std::pair(&filePath, file) }) {
            if (bytes == "fifo")
                QCOMPARE(::mkfifo(QFile::encodeName(*path), 0600), 0);
            else if (!bytes.isNull())
                QVERIFY(writeAll(*path, bytes)
                        && (bytes != "big" || QFile(*path).resize((qint64(64) << 20) + 1)));
        }
        if (!simulator.isEmpty()) {
            BoardLink link;
            QVERIFY(link.start(simulator + QStringList { "--load", boardPath })
                    && link.connectAndGreet());
            ModalAnswerer answerer(filePath);
            WindowDriver::click(*link.window, "btnToAuxPCB");
            WindowDriver::click(*link.window, "btnSendParams");
            link.readInto("tst");
            boardPath = sNvramDir + "tst.nvr";
        }
        QProcess compare;
        compare.start(AUX_NVRAM_COMPARE_PATH, options + QStringList { boardPath, filePath });
        QVERIFY(compare.waitForFinished());
        const QString output = compare.readAllStandardOutput();
        // Errors, and only errors, go to the error output.
        const QString errors = compare.readAllStandardError();
        QCOMPARE(errors.isEmpty(), status != 2);
        printed.replace("%1", boardPath).replace("%2", filePath);
        QCOMPARE(output + errors, printed.isEmpty() ? printed : printed + '\n');
        QCOMPARE(compare.exitStatus() == QProcess::NormalExit ? compare.exitCode() : -1, status);
    }
};

QTEST_MAIN(TestCompare)
#include "tst_compare.moc"
