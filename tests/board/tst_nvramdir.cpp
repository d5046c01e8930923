// The shipped tool's dump directory. Every other test links a private
// directory in its place; this one links the tool's own.

#include "nvramfile.h"

#include <QtTest>

class TestNvramDir : public QObject
{
    Q_OBJECT

private slots:
    void shippedDirectory() { QCOMPARE(sNvramDir, QStringLiteral("/opt/VYK_PLUS/NVRAM/AUXPCB/")); }
};

QTEST_APPLESS_MAIN(TestNvramDir)
#include "tst_nvramdir.moc"
