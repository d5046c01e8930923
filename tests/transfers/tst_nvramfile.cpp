// Page numbers and the cutting of dump-file lines into fields.

#include "mainwindow.h"
#include "nvramfile.h"

#include <QtTest>

class TestNvramFile : public QObject
{
    Q_OBJECT

private slots:
    void pageNumber_data();
    void pageNumber();
    void lineFields_data();
    void lineFields();
    void dumpPath();
};

void TestNvramFile::pageNumber_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0 << 4 << "0000";
    QTest::newRow("ten") << 10 << 4 << "000A";
    QTest::newRow("255") << 255 << 4 << "00FF";
    QTest::newRow("4660") << 4660 << 4 << "1234";
    QTest::newRow("65535") << 65535 << 4 << "FFFF";
    QTest::newRow("65536 not cut") << 65536 << 4 << "10000";
    QTest::newRow("int max") << 2147483647 << 4 << "7FFFFFFF";
    QTest::newRow("width 2") << 10 << 2 << "0A";
}

void TestNvramFile::pageNumber()
{
    QFETCH(int, page);
    QFETCH(int, width);
    QFETCH(QString, text);
    MainWindow window;
    QCOMPARE(window.formatPageNumber(page, width), text);
}

void TestNvramFile::lineFields_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("fields");
    QTest::newRow("separators") << "0001 | 250 | text" << QStringList { "0001", "250", "text" };
    QTest::newRow("bare bars") << "0001|250|text" << QStringList { "0001", "250", "text" };
    QTest::newRow("blank kept") << "0001 |250" << QStringList { "0001 ", "250" };
    QTest::newRow("empty third") << "0001 | 250 | " << QStringList { "0001", "250", "" };
    QTest::newRow("bar in value") << "0001 | a|b | text"
                                  << QStringList { "0001", "a", "b", "text" };
    QTest::newRow("page only") << "0001" << QStringList { "0001" };
    QTest::newRow("blanks") << "   " << QStringList { "   " };
    QTest::newRow("empty fields") << "||" << QStringList { "", "", "" };
    QTest::newRow("no overlap") << "a | | b" << QStringList { "a", "", " b" };
    QTest::newRow("untrimmed") << " 1 |  5  | x " << QStringList { " 1", " 5 ", "x " };
    QTest::newRow("latin1") << QString::fromUtf8("0002 | 7 | caf\u00e9 \u00b0C")
                            << QStringList { "0002", "7", QString::fromUtf8("caf\u00e9 \u00b0C") };
}

void TestNvramFile::lineFields()
{
    QFETCH(QString, line);
    QFETCH(QStringList, fields);
    QCOMPARE(splitNvramLine(line), fields);
}

void TestNvramFile::dumpPath()
{
    QCOMPARE(nvramHeaderLine(), QStringLiteral("Page Number | Value | Description"));
    QCOMPARE(sNvramDir + QStringLiteral("AuxParams") + sNvramExt,
             QStringLiteral("/opt/VYK_PLUS/NVRAM/AUXPCB/AuxParams.nvr"));
}

QTEST_MAIN(TestNvramFile)
#include "tst_nvramfile.moc"
