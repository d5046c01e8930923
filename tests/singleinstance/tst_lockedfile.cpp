#include "lockholder.h"
#include "qtlockedfile.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

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
    void changeOfKindGivesUpTheOldLock();
    void waitingLockBlocksUntilReleased();
    void releaseLetsOthersIn_data();
    void releaseLetsOthersIn();
    void truncateRefused_data();
    void truncateRefused();
    void notOpenWarns_data();
    void notOpenWarns();
    void noSystemCallWhenNothingChanges();
    void failedUnlockKeepsKind();

private:
    QString freshFile(const QByteArray &content = QByteArray());
    std::unique_ptr<QtLockedFile> lockedFile(QtLockedFile::LockKind kind);
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

// A fresh file, opened and locked by this process.
std::unique_ptr<QtLockedFile> TestLockedFile::lockedFile(QtLockedFile::LockKind kind)
{
    auto file = std::make_unique<QtLockedFile>(freshFile());
    if (!file->open(QIODevice::ReadWrite) || !file->lock(kind, false))
        return nullptr;
    return file;
}

void TestLockedFile::conflictsWithOtherProcess_data()
{
    QTest::addColumn<QString>("theirs");
    QTest::addColumn<QtLockedFile::LockKind>("ours");
    QTest::addColumn<bool>("granted");

    QTest::newRow("shared beside shared") << "shared" << QtLockedFile::SharedLock << true;
    QTest::newRow("exclusive beside shared") << "shared" << QtLockedFile::ExclusiveLock << false;
    QTest::newRow("shared beside exclusive") << "exclusive" << QtLockedFile::SharedLock << false;
    QTest::newRow("exclusive beside exclusive")
            << "exclusive" << QtLockedFile::ExclusiveLock << false;
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
    QCOMPARE(file.hasLock(), granted);
}

void TestLockedFile::changeOfKindGivesUpTheOldLock()
{
    const QString path = freshFile();
    LockHolder other;
    QVERIFY(other.hold(QStringLiteral("shared"), path));

    QtLockedFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.lock(QtLockedFile::SharedLock, false));
    QVERIFY(!file.lock(QtLockedFile::ExclusiveLock, false));
    // The shared lock was dropped before the exclusive one was refused.
    QCOMPARE(file.currentLock(), QtLockedFile::Unlocked);
    other.release();
    QVERIFY(otherProcessCanLock(QStringLiteral("exclusive"), path));
}

void TestLockedFile::waitingLockBlocksUntilReleased()
{
    const QString path = freshFile();
    LockHolder other;
    QVERIFY(other.hold(QStringLiteral("exclusive"), path));

    QtLockedFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(!file.lock(QtLockedFile::ExclusiveLock, false));

    // The helper lets go once its stdin closes; a waiting lock must sit it out.
    other.proc.closeWriteChannel();
    QVERIFY(file.lock(QtLockedFile::ExclusiveLock, true));
    QCOMPARE(file.currentLock(), QtLockedFile::ExclusiveLock);
    QVERIFY(!otherProcessCanLock(QStringLiteral("shared"), path));
}

void TestLockedFile::releaseLetsOthersIn_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("unlock()") << "unlock";
    QTest::newRow("lock(Unlocked)") << "lock-unlocked";
    QTest::newRow("destructor") << "destroy";
}

void TestLockedFile::releaseLetsOthersIn()
{
    QFETCH(QString, how);
    const QString exclusive = QStringLiteral("exclusive");
    auto file = lockedFile(QtLockedFile::ExclusiveLock);
    QVERIFY(file);
    const QString path = file->fileName();
    QVERIFY(!otherProcessCanLock(exclusive, path));

    if (how == QLatin1String("unlock")) {
        QVERIFY(file->unlock());
    } else if (how == QLatin1String("lock-unlocked")) {
        QVERIFY(file->lock(QtLockedFile::Unlocked));
    } else {
        file.reset();
    }
    if (file) {
        QCOMPARE(file->currentLock(), QtLockedFile::Unlocked);
        // With nothing held, releasing again is a no-op that succeeds.
        QVERIFY(file->unlock());
        QVERIFY(file->isOpen());
    }
    QVERIFY(otherProcessCanLock(exclusive, path));
}

void TestLockedFile::truncateRefused_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("read-write") << int(QIODevice::ReadWrite | QIODevice::Truncate);
    QTest::newRow("write-only") << int(QIODevice::WriteOnly | QIODevice::Truncate);
}

void TestLockedFile::truncateRefused()
{
    QFETCH(int, mode);
    const QString path = freshFile("someone's data");

    QtLockedFile file(path);
    QTest::ignoreMessage(QtWarningMsg, "QtLockedFile::open(): Truncate mode not allowed.");
    QVERIFY(!file.open(QIODevice::OpenMode(mode)));
    QVERIFY(!file.isOpen());

    QFile check(path);
    QVERIFY(check.open(QIODevice::ReadOnly));
    QCOMPARE(check.readAll(), QByteArray("someone's data"));

    // Without truncation the same file opens as any QFile would.
    QVERIFY(file.open(QIODevice::ReadWrite));
    QCOMPARE(file.readAll(), QByteArray("someone's data"));
}

void TestLockedFile::notOpenWarns_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("warning");
    const QString lockText = QStringLiteral("QtLockedFile::lock(): file is not opened");
    QTest::newRow("lock(SharedLock)") << "shared" << lockText;
    QTest::newRow("lock(ExclusiveLock)") << "exclusive" << lockText;
    // The open check comes before the redirection to unlock().
    QTest::newRow("lock(Unlocked)") << "unlocked" << lockText;
    QTest::newRow("unlock()") << "unlock"
                              << QStringLiteral("QtLockedFile::unlock(): file is not opened");
}

void TestLockedFile::notOpenWarns()
{
    QFETCH(QString, call);
    QFETCH(QString, warning);

    QtLockedFile file(freshFile());
    QTest::ignoreMessage(QtWarningMsg, warning.toUtf8().constData());
    bool result = true;
    if (call == QLatin1String("shared"))
        result = file.lock(QtLockedFile::SharedLock);
    else if (call == QLatin1String("exclusive"))
        result = file.lock(QtLockedFile::ExclusiveLock);
    else if (call == QLatin1String("unlocked"))
        result = file.lock(QtLockedFile::Unlocked);
    else
        result = file.unlock();
    QVERIFY(!result);
    QCOMPARE(file.currentLock(), QtLockedFile::Unlocked);
}

void TestLockedFile::noSystemCallWhenNothingChanges()
{
    const auto locked = lockedFile(QtLockedFile::ExclusiveLock);
    QVERIFY(locked);
    QtLockedFile &file = *locked;

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

void TestLockedFile::failedUnlockKeepsKind()
{
    const auto locked = lockedFile(QtLockedFile::SharedLock);
    QVERIFY(locked);
    QtLockedFile &file = *locked;

    // Take the descriptor away so that the unlock request itself fails.
    const int fd = file.handle();
    const int saved = ::dup(fd);
    QVERIFY(saved >= 0);
    ::close(fd);

    QTest::ignoreMessage(QtWarningMsg, "QtLockedFile::lock(): fcntl: Bad file descriptor");
    QVERIFY(!file.unlock());
    QCOMPARE(file.currentLock(), QtLockedFile::SharedLock);

    QVERIFY(::dup2(saved, fd) == fd);
    ::close(saved);
    QVERIFY(file.unlock());
    QCOMPARE(file.currentLock(), QtLockedFile::Unlocked);
}

QTEST_GUILESS_MAIN(TestLockedFile)
#include "tst_lockedfile.moc"
