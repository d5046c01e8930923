// aux-nvram-compare run as a process on real files: a row gives the board
// (a dump, or what the simulated board holds before the window writes FILE
// into it and reads it back), FILE, and what the program prints and exits with.

#include "boardlink.h"

static const QByteArray sHeader("Page Number | Value | Description\n");
static const QByteArray sFour = sHeader
        + "0000 | 3 | zero\n0001 | 11 | one\n0002 | 22 | two\n0003 | 33 | three\n";

// The four pages with one text replaced.
static QByteArray four(const char *from, const char *to)
{
    return QByteArray(sFour).replace(from, to);
}

class TestCompare : public QObject
{
    Q_OBJECT

private slots:
    void compare_data()
    {
        QTest::addColumn<QByteArray>("board");
        QTest::addColumn<QByteArray>("file"); // null: no such file
        QTest::addColumn<QStringList>("options");
        // Empty: the board file is compared as it is. Otherwise the
        // simulator's arguments: it loads the board file, the window writes
        // FILE into it and reads it back, and that dump is compared.
        QTest::addColumn<QStringList>("simulator");
        QTest::addColumn<QStringList>("output");
        QTest::addColumn<QString>("error"); // %1 the board file, %2 FILE
        QTest::addColumn<int>("status");

        const QStringList none;
        QTest::newRow("identical") << sFour << sFour << none << none
                                   << QStringList { "same: 4 pages the same" } << "" << 0;
        QTest::newRow("value changed")
                << sFour << four("| 22 |", "| 23 |") << none << none
                << QStringList { "page 0002: value differs: board \"22\", file \"23\" (line 4)",
                                 "different: 3 pages the same, 1 different" }
                << "" << 1;
        QTest::newRow("description changed")
                << sFour << four("one", "uno") << none << none
                << QStringList { "page 0001: description differs: board \"one\", file \"uno\" "
                                 "(line 3)",
                                 "different: 3 pages the same, 1 different" }
                << "" << 1;
        QTest::newRow("two fields, pages only on the board")
                << sFour << sHeader + "0001 | 11\n" << none << none
                << QStringList { "same: 1 page the same, 3 board pages left alone" } << "" << 0;
        QTest::newRow("page only in the file")
                << sFour << sFour + "0004 | 44 | four\n" << none << none
                << QStringList { "page 0004: not on the board (line 6)",
                                 "different: 4 pages the same, 1 not on the board" }
                << "" << 1;
        QTest::newRow("line the write would not send")
                << sFour << four("| 22 |", "| 5% |") << none << none
                << QStringList { "line 4: not sent: holds \"%\"",
                                 "different: 3 pages the same, 1 line not sent, 1 board page "
                                 "left alone" }
                << "" << 1;
        // The same description in both; the value shows its escapes.
        QTest::newRow("Latin-1 bytes")
                << sHeader + "0000 | 1 | z\n0001 | \xC3\xA9t\xC3\xA9\t | Temp\xC3\xA9rature\n"
                << sHeader + "0000 | 1 | z\n0001 | hiver | Temp\xC3\xA9rature\n" << none << none
                << QStringList { "page 0001: value differs: board \"\\xE9t\\xE9\\t\", file "
                                 "\"hiver\" (line 3)",
                                 "different: 1 page the same, 1 different" }
                << "" << 1;
        QTest::newRow("quiet") << sFour << four("| 22 |", "| 23 |") << QStringList { "-q" }
                               << none << QStringList() << "" << 1;
        QTest::newRow("no page line in the file")
                << sFour << sHeader << none << none
                << QStringList { "the file: holds no page line to send",
                                 "different: no page to write, 4 board pages left alone" }
                << "" << 1;
        QTest::newRow("missing file")
                << sFour << QByteArray() << none << none << QStringList()
                << "aux-nvram-compare: cannot read %2: No such file or directory\n" << 2;
        QTest::newRow("board file no dump")
                << QByteArray("0000 | 3 | zero\n") << sFour << none << none << QStringList()
                << "aux-nvram-compare: %1 is not a dump: line 1 is not \"Page Number | Value | "
                   "Description\"\n"
                << 2;
        QTest::newRow("unknown option")
                << sFour << sFour << QStringList { "--fast" } << none << QStringList()
                << "aux-nvram-compare: Unknown option 'fast'. See --help.\n" << 2;
        const QByteArray changed = four("two", "deux").replace("| 33 |", "| 34 |");
        QTest::newRow("written and read back")
                << sFour << changed << none << QStringList { "--baud", "0" }
                << QStringList { "same: 4 pages the same" } << "" << 0;
        // The greeting and five commands are answered; page 2's "$A5" is lost.
        QTest::newRow("written with a command lost, read back")
                << sFour << changed << none
                << QStringList { "--baud", "0", "--fault", "drop-after=6" }
                << QStringList { "page 0002: description differs: board \"two\", file \"deux\" "
                                 "(line 4)",
                                 "different: 3 pages the same, 1 different" }
                << "" << 1;
    }

    void compare()
    {
        QFETCH(QByteArray, board);
        QFETCH(QByteArray, file);
        QFETCH(QStringList, options);
        QFETCH(QStringList, simulator);
        QFETCH(QStringList, output);
        QFETCH(QString, error);
        QFETCH(int, status);

        QTemporaryDir dir;
        QString boardPath = dir.filePath("board.nvr");
        const QString filePath = dir.filePath("file.nvr");
        QVERIFY(writeAll(boardPath, board) && (file.isNull() || writeAll(filePath, file)));
        if (!simulator.isEmpty()) {
            BoardLink link;
            QVERIFY(link.start(simulator + QStringList { "--load", boardPath })
                    && link.connectAndGreet());
            ModalAnswerer answerer(filePath);
            WindowDriver::click(*link.window, "btnToAuxPCB");
            WindowDriver::click(*link.window, "btnSendParams");
            const QString name = "tst-compare-" + QString::number(qApp->applicationPid());
            link.readInto(name);
            boardPath = sNvramDir + name + ".nvr";
        }
        QProcess compare;
        compare.start(AUX_NVRAM_COMPARE_PATH, options + QStringList { boardPath, filePath });
        QVERIFY(compare.waitForFinished());
        if (!simulator.isEmpty())
            QFile::remove(boardPath);
        QCOMPARE(QString(compare.readAllStandardError()),
                 error.replace("%1", boardPath).replace("%2", filePath));
        QCOMPARE(QString(compare.readAllStandardOutput()),
                 output.isEmpty() ? QString() : output.join('\n') + '\n');
        QCOMPARE(compare.exitStatus(), QProcess::NormalExit);
        QCOMPARE(compare.exitCode(), status);
    }
};

QTEST_MAIN(TestCompare)
#include "tst_compare.moc"
