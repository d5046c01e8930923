// Writing a dump file into the board, driven through the window: the file
// chooser, the "SEND" button and the frames the simulated board receives.

#include "modalanswerer.h"
#include "styles.h"
#include "transferfixture.h"

#include <QLineEdit>

using namespace WindowDriver;

class TestWriteNvram : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sendsEveryPageLine_data();
    void sendsEveryPageLine();
    void chosenNameShown_data();
    void chosenNameShown();
    void cancelledChooserSendsNothing();
    void roundTripGivesBoardItsOwnBytes();

private:
    QString scratchFile(const QString &name, const QByteArray &bytes);
    QTemporaryDir m_scratch;
};

void TestWriteNvram::initTestCase()
{
    QVERIFY(m_scratch.isValid());
}

QString TestWriteNvram::scratchFile(const QString &name, const QByteArray &bytes)
{
    const QString path = m_scratch.filePath(name);
    writeAll(path, bytes);
    return path;
}

void TestWriteNvram::sendsEveryPageLine_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<QString>("warning");

    const QByteArray header("Page Number | Value | Description\n");
    const QByteArray description82(82, 'd');
    QTest::newRow("two pages") << header + "0000 | 2 | text\n0001 | 17 | more\n"
                               << QList<QByteArray> { "$A400002%", "$A50000text%", "$A4000117%",
                                                      "$A50001more%", "$A8%" }
                               << QString();
    QTest::newRow("header only") << header << QList<QByteArray> { "$A8%" } << QString();
    QTest::newRow("zero bytes") << QByteArray() << QList<QByteArray> { "$A8%" } << QString();
    QTest::newRow("blank lines skipped")
            << header + "\n0000 | 1 | a\n\n   \n0001 | 2 | b\n"
            << QList<QByteArray> { "$A400001%", "$A50000a%", "$A400012%", "$A50001b%", "$A8%" }
            << QString();
    QTest::newRow("last line without LF")
            << header + "0000 | 1 | a" << QList<QByteArray> { "$A400001%", "$A50000a%", "$A8%" }
            << QString();
    QTest::newRow("CRLF") << QByteArray(
            "Page Number | Value | Description\r\n0000 | 1 | a\r\n0001 | 2 | b\r\n")
                          << QList<QByteArray> { "$A400001%", "$A50000a%", "$A400012%", "$A50001b%",
                                                 "$A8%" }
                          << QString();
    QTest::newRow("fewer than two fields")
            << header + "0003\n0004 | 4 | y\n"
            << QList<QByteArray> { "$A400044%", "$A50004y%", "$A8%" } << QString();
    QTest::newRow("fields after the third ignored")
            << header + "0001 | 5 | a | b\n"
            << QList<QByteArray> { "$A400015%", "$A50001a%", "$A8%" } << QString();
    QTest::newRow("no header: first line lost")
            << QByteArray("0000 | 1 | a\n0001 | 2 | b\n")
            << QList<QByteArray> { "$A400012%", "$A50001b%", "$A8%" } << QString();
    QTest::newRow("82-character description fills 90")
            << header + "0000 | 1 | " + description82 + "\n"
            << QList<QByteArray> { "$A400001%", "$A50000" + description82 + "%", "$A8%" }
            << QString();
    QTest::newRow("two fields keep the board's description")
            << header + "0003 | 9\n0004 | 8 | z\n"
            << QList<QByteArray> { "$A400039%", "$A400048%", "$A50004z%", "$A8%" } << QString();
    const QString notSent = QStringLiteral("Error: %1 not sent and 0 commands got no reply, so "
                                           "the board may not hold the file's values: ");
    QTest::newRow("character without a Latin-1 byte skips its line")
            << header + "0004 | 5 | 10 \xE2\x82\xAC\n0005 | \xE2\x82\xAC | ok\n0006 | 6 | ok\n"
            << QList<QByteArray> { "$A400066%", "$A50006ok%", "$A8%" }
            << notSent.arg("2 lines were")
                    + "line 2: character with no Latin-1 byte; line 3: character with no Latin-1 "
                      "byte.";
    // The board takes the page from a command's first four characters, so
    // any other page field would write into the wrong page.
    QTest::newRow("page field not four or five hex digits")
            << header + "12 | x | y\n000a | 1 | z\n123456 | 1 | z\n0001 | 2 | b\n"
            << QList<QByteArray> { "$A400012%", "$A50001b%", "$A8%" }
            << notSent.arg("3 lines were")
                    + "line 2: page field is not 4 or 5 upper-case hex digits; line 3: page field "
                      "is not 4 or 5 upper-case hex digits; line 4: page field is not 4 or 5 "
                      "upper-case hex digits.";
    QTest::newRow("five-digit page sent")
            << header + "10000 | 1 | z\n"
            << QList<QByteArray> { "$A4100001%", "$A510000z%", "$A8%" } << QString();
    QTest::newRow("95-byte command skipped") << header + "0000 | 1 | " + QByteArray(87, 'd')
                    + "\n0001 | " + QByteArray(83, 'v')
                    + "\n0002 | 2 | c\n" << QList<QByteArray> { "$A400022%", "$A50002c%", "$A8%" }
                                             << notSent.arg("2 lines were")
                    + "line 2: command longer than 90 bytes; line 3: command longer than 90 bytes.";
    QTest::newRow("Latin-1 characters as single bytes") << header
                    + "0002 | 7 | caf\xC3\xA9 \xC2\xB0"
                      "C\n"
                                                        << QList<QByteArray> { "$A400027%",
                                                                               "$A50002caf\xE9 \xB0"
                                                                               "C%",
                                                                               "$A8%" }
                                                        << QString();
}

void TestWriteNvram::sendsEveryPageLine()
{
    QFETCH(QByteArray, file);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(QString, warning);

    BoardLink link;
    QVERIFY(link.start({ "--baud", "0" }));
    QVERIFY(link.connectAndGreet());
    const QString path = scratchFile(QStringLiteral("upload.nvr"), file);

    ModalAnswerer answerer(chooseFile(path));
    click(*link.window, "btnToAuxPCB");
    QCOMPARE(edit(*link.window, "editToAuxPCB")->text(), QStringLiteral("upload"));
    QPushButton *send = button(*link.window, "btnSendParams");
    QVERIFY(send->isVisible() && send->isEnabled());

    click(*link.window, "btnSendParams");
    QCOMPARE(transferFrames(link.sim), frames);
    QVERIFY(!send->isVisible() && !send->isEnabled());
    QCOMPARE(edit(*link.window, "editToAuxPCB")->styleSheet(), sYellowEditStyle);
    QVERIFY(pollingTimerRunning(*link.window));
    QCOMPARE(answerer.messages(),
             warning.isEmpty() ? QStringList() : QStringList { "VYK NVRAM|" + warning });
}

void TestWriteNvram::chosenNameShown_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("shown");
    QTest::newRow("extension cut") << "params.nvr"
                                   << "params";
    QTest::newRow("four characters") << "abcd"
                                     << "";
    QTest::newRow("shorter shown whole") << "ab"
                                         << "ab";
    QTest::newRow("other extension") << "dump.txt"
                                     << "dump";
}

void TestWriteNvram::chosenNameShown()
{
    QFETCH(QString, fileName);
    QFETCH(QString, shown);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    button(window, "btnToAuxPCB")->setEnabled(true); // as after a greeting
    ModalAnswerer answerer(
            chooseFile(scratchFile(fileName, "Page Number | Value | Description\n")));
    click(window, "btnToAuxPCB");
    QCOMPARE(edit(window, "editToAuxPCB")->text(), shown);
    QVERIFY(button(window, "btnSendParams")->isVisible());
}

void TestWriteNvram::cancelledChooserSendsNothing()
{
    BoardLink link;
    QVERIFY(link.start({ "--baud", "0" }));
    QVERIFY(link.connectAndGreet());
    ModalAnswerer answerer(chooseFile(QString()));
    click(*link.window, "btnToAuxPCB");
    QCOMPARE(edit(*link.window, "editToAuxPCB")->text(), QString());
    QPushButton *send = button(*link.window, "btnSendParams");
    QVERIFY(send->isVisible());
    click(*link.window, "btnSendParams");
    QVERIFY(transferFrames(link.sim).isEmpty());
    QVERIFY(!send->isVisible());
    QCOMPARE(edit(*link.window, "editToAuxPCB")->styleSheet(), sYellowEditStyle);
    QVERIFY(pollingTimerRunning(*link.window));
}

void TestWriteNvram::roundTripGivesBoardItsOwnBytes()
{
    DumpFiles dumps;
    DumpFiles::requireDirectory();
    if (QTest::currentTestFailed())
        return;
    const QString name = dumps.newName();
    {
        BoardLink source;
        QVERIFY(source.start({ "--baud", "0", "--pages", "300" }));
        QVERIFY(source.connectAndGreet());
        click(*source.window, "btnFromAuxPCB");
        auto *dialog = QApplication::activeModalWidget();
        QVERIFY(dialog);
        dialog->findChild<QLineEdit *>(QStringLiteral("lineEditFileName"))->setText(name);
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("btnOK")),
                          Qt::LeftButton);
    }
    const QByteArray dump = readAll(DumpFiles::pathOf(name));
    QCOMPARE(dump.count('\n'), 301);
    QVERIFY(dump.contains("\xC3\xA9")); // Latin-1 texts came through

    const QString saved = m_scratch.filePath(QStringLiteral("second-board.nvr"));
    BoardLink target;
    QVERIFY(target.start({ "--baud", "0", "--pages", "1", "--save", saved }));
    QVERIFY(target.connectAndGreet());
    ModalAnswerer answerer(chooseFile(DumpFiles::pathOf(name)));
    click(*target.window, "btnToAuxPCB");
    click(*target.window, "btnSendParams");
    QCOMPARE(transferFrames(target.sim).size(), 2 * 300 + 1);
    QCOMPARE(readAll(saved), dump);
}

QTEST_MAIN(TestWriteNvram)
#include "tst_writenvram.moc"
