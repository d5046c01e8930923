#include "lockholder.h"
#include "qtlockedfile.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using QtLP_Private::QtLockedFile;

Q_DECLARE_METATYPE(QtLockedFile::LockKind)

class TestLockedFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void conflictsWithOtherProcess_data();
    void conflictsWithOtherProcess();
    void lockUnlockedReleases();
    void truncateRefused();
    void noSystemCallWhenNothingChanges();

private:
    QString freshFile(const QByteArray &content = QByteArray());
    QTemporaryDir dir;
    int fileCount = 0;
};

void TestLockedFile::init()
{
    QVERIFY(dir.isValid());
    // Any message not explicitly expected by a test is a failure.
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
}

QString TestLockedFile::freshFile(const QByteArray &content)
{
    const QString path = dir.filePath(QStringLiteral("lock%1").arg(++fileCount));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(content);
    return path;
}

void TestLockedFile::conflictsWithOtherProcess_data()
{
    QTest::addColumn<QString>("theirs");
    QTest::addColumn<QtLockedFile::LockKind>("ours");
    QTest::addColumn<bool>("granted");

    QTest::newRow("shared beside shared") << "shared" << QtLockedFile::SharedLock << true;
    QTest::newRow("exclusive beside shared") << "shared" << QtLockedFile::ExclusiveLock << false;
    QTest::newRow("shared beside exclusive") << "exclusive" << QtLockedFile::SharedLock << false;
}

void TestLockedFile::conflictsWithOtherProcess()
{
    QFETCH(QString, theirs);
    QFETCH(QtLockedFile::LockKind, ours);
    QFETCH(bool, granted);

    const QString path = freshFile();
    LockHolder other;
    QVERIFY(other.hold(theirs, path));

    QtLockedFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    // A refusal is an ordinary answer: false, and nothing on the warning channel.
    QCOMPARE(file.lock(ours, false), granted);
    QCOMPARE(file.currentLock(), granted ? ours : QtLockedFile::Unlocked);
}

void TestLockedFile::lockUnlockedReleases()
{
    QtLockedFile file(freshFile());
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.lock(QtLockedFile::ExclusiveLock, false));
    QVERIFY(!otherProcessCanLock(QStringLiteral("shared"), file.fileName()));

    QVERIFY(file.lock(QtLockedFile::Unlocked));
    QCOMPARE(file.currentLock(), QtLockedFile::Unlocked);
    QVERIFY(file.isOpen());
    QVERIFY(otherProcessCanLock(QStringLiteral("exclusive"), file.fileName()));
}

void TestLockedFile::truncateRefused()
{
    const QString path = freshFile("someone's data");
    QtLockedFile file(path);
    QTest::ignoreMessage(QtWarningMsg, "QtLockedFile::open(): Truncate mode not allowed.");
    QVERIFY(!file.open(QIODevice::ReadWrite | QIODevice::Truncate));
    QVERIFY(!file.isOpen());

    // Without truncation the same file opens with its data intact.
    QVERIFY(file.open(QIODevice::ReadWrite));
    QCOMPARE(file.readAll(), QByteArray("someone's data"));
}

void TestLockedFile::noSystemCallWhenNothingChanges()
{
    QtLockedFile file(freshFile());
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.lock(QtLockedFile::ExclusiveLock, false));

    // Put a read-only descriptor of the same file behind the QFile: from now
    // on any F_WRLCK request fails with EBADF, so a quiet success proves
    // that no request was made.
    const int readOnly = ::open(QFile::encodeName(file.fileName()).constData(), O_RDONLY);
    QVERIFY(readOnly >= 0);
    QVERIFY(::dup2(readOnly, file.handle()) == file.handle());
    ::close(readOnly);

    QVERIFY(file.lock(QtLockedFile::ExclusiveLock, false));
    QCOMPARE(file.currentLock(), QtLockedFile::ExclusiveLock);

    // A read lock is fine on this descriptor; going back to exclusive now
    // really asks the kernel, which refuses and leaves the file unlocked.
    QVERIFY(file.lock(QtLockedFile::SharedLock, false));
    QTest::ignoreMessage(QtWarningMsg, "QtLockedFile::lock(): fcntl: Bad file descriptor");
    QVERIFY(!file.lock(QtLockedFile::ExclusiveLock, false));
    QCOMPARE(file.currentLock(), QtLockedFile::Unlocked);
}

QTEST_GUILESS_MAIN(TestLockedFile)
#include "tst_lockedfile.moc"
