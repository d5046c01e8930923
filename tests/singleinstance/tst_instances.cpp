#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString toolId = QStringLiteral("qtsingleapp-KalvoA-3578-");

QString socketNameFor(uid_t uid)
{
    return toolId + QString::number(uid, 16);
}

// Hands the tool an empty message, as any later start could; a running
// primary answers it with "ack".
bool answers(const QString &socketPath)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(1000))
        return false;
    socket.write(QByteArray(4, '\0'));
    if (!socket.waitForBytesWritten(1000))
        return false;
    QByteArray reply;
    while (reply.size() < 3 && socket.waitForReadyRead(3000))
        reply += socket.readAll();
    socket.disconnectFromServer();
    return reply == "ack";
}

bool mentionsGuard(const QByteArray &output)
{
    return output.contains("QtSingleCoreApplication") || output.contains("QtLocalPeer")
            || output.contains("QtLockedFile");
}

} // namespace

class TestInstances : public QObject
{
    Q_OBJECT

private slots:
    void secondStartOfSameUserEnds();
    void otherUserRunsBeside();
    void startAfterKilledPrimary();
    void unusableTempDirEndsQuietly();
    void cleanup();

private:
    std::unique_ptr<QProcess> startTool(const QString &tmpDir, const QStringList &asUser = {});
    std::vector<std::unique_ptr<QProcess>> started;
    QTemporaryDir runtimeDir;
};

std::unique_ptr<QProcess> TestInstances::startTool(const QString &tmpDir,
                                                   const QStringList &asUser)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), tmpDir);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (asUser.isEmpty())
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir.path());
    else
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));

    auto proc = std::make_unique<QProcess>();
    proc->setProcessEnvironment(env);
    if (asUser.isEmpty()) {
        proc->start(QStringLiteral(AUX_NVRAM_PATH), QStringList());
    } else {
        QStringList args = asUser;
        const QString program = args.takeFirst();
        proc->start(program, args + QStringList { QStringLiteral(AUX_NVRAM_PATH) });
    }
    proc->waitForStarted(5000);
    return proc;
}

void TestInstances::cleanup()
{
    for (auto &proc : started) {
        if (proc->state() != QProcess::NotRunning) {
            proc->kill();
            proc->waitForFinished(5000);
        }
    }
    started.clear();
}

void TestInstances::secondStartOfSameUserEnds()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString socketPath = tmp.filePath(socketNameFor(::getuid()));

    started.push_back(startTool(tmp.path()));
    QProcess &first = *started.back();
    QTRY_VERIFY_WITH_TIMEOUT(answers(socketPath), 15000);

    QElapsedTimer clock;
    clock.start();
    started.push_back(startTool(tmp.path()));
    QProcess &second = *started.back();
    QVERIFY(second.waitForFinished(5000));
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    // Building and showing the window alone takes longer than the refusal;
    // the first instance never ends on its own, so this one must have left early.
    QVERIFY2(elapsed < 1000, QByteArray::number(elapsed).constData());
    QCOMPARE(second.readAllStandardOutput(), QByteArray());
    QCOMPARE(second.readAllStandardError(), QByteArray());

    QCOMPARE(first.state(), QProcess::Running);
    QVERIFY(answers(socketPath));
}

void TestInstances::otherUserRunsBeside()
{
    if (::getuid() != 0)
        QSKIP("needs root to start the tool as another account");
    const passwd *nobody = ::getpwnam("nobody");
    if (!nobody || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        QSKIP("no account 'nobody' or no setpriv here");
    if (::access(AUX_NVRAM_PATH, X_OK) != 0)
        QSKIP("tool binary missing");

    // One shared temporary directory, like /tmp, so that only the user id in
    // the names keeps the two instances apart.
    QTemporaryDir tmp(QStringLiteral("/tmp/aux-guard-XXXXXX"));
    QVERIFY(tmp.isValid());
    QVERIFY(::chmod(QFile::encodeName(tmp.path()).constData(), 01777) == 0);
    const QString rootSocket = tmp.filePath(socketNameFor(0));
    const QString nobodySocket = tmp.filePath(socketNameFor(nobody->pw_uid));

    started.push_back(startTool(tmp.path()));
    QProcess &mine = *started.back();
    QTRY_VERIFY_WITH_TIMEOUT(answers(rootSocket), 15000);

    const QStringList asNobody { QStringLiteral("setpriv"), QStringLiteral("--reuid=nobody"),
                                 QStringLiteral("--regid=nogroup"),
                                 QStringLiteral("--clear-groups") };
    started.push_back(startTool(tmp.path(), asNobody));
    QProcess &theirs = *started.back();
    // If the account cannot reach the binary at all, it ends with an error.
    QTRY_VERIFY_WITH_TIMEOUT(answers(nobodySocket) || theirs.state() == QProcess::NotRunning,
                             15000);
    if (theirs.state() == QProcess::NotRunning && !QFileInfo::exists(nobodySocket))
        QSKIP(qPrintable(QStringLiteral("the tool does not run as nobody here: ")
                         + QString::fromLocal8Bit(theirs.readAllStandardError())));

    QCOMPARE(theirs.state(), QProcess::Running);
    QCOMPARE(mine.state(), QProcess::Running);
    QVERIFY(answers(rootSocket));
    QCOMPARE(QFileInfo(nobodySocket).ownerId(), nobody->pw_uid);
    QVERIFY(QFileInfo::exists(tmp.filePath(socketNameFor(nobody->pw_uid)
                                           + QStringLiteral("-lockfile"))));
    QVERIFY(!mentionsGuard(theirs.readAllStandardError()));
}

void TestInstances::startAfterKilledPrimary()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString socketPath = tmp.filePath(socketNameFor(::getuid()));

    started.push_back(startTool(tmp.path()));
    QProcess &killed = *started.back();
    QTRY_VERIFY_WITH_TIMEOUT(answers(socketPath), 15000);
    killed.kill();
    QVERIFY(killed.waitForFinished(5000));
    // SIGKILL leaves the socket file behind, and nothing answers on it.
    QVERIFY(QFileInfo::exists(socketPath));
    QVERIFY(!answers(socketPath));

    started.push_back(startTool(tmp.path()));
    QProcess &next = *started.back();
    QTRY_VERIFY_WITH_TIMEOUT(answers(socketPath), 15000);
    QCOMPARE(next.state(), QProcess::Running);
    const QByteArray errors = next.readAllStandardError();
    QVERIFY2(!mentionsGuard(errors), errors.constData());
}

void TestInstances::unusableTempDirEndsQuietly()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    // A TMPDIR that names a plain file: the lock file cannot be created below
    // it, for root as for anyone.
    const QString notADir = tmp.filePath(QStringLiteral("plain-file"));
    QFile file(notADir);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    started.push_back(startTool(notADir));
    QProcess &proc = *started.back();
    QVERIFY(proc.waitForFinished(5000));
    QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(proc.exitCode(), 0);
    QVERIFY(proc.readAllStandardError().contains("QtLockedFile::lock(): file is not opened"));
}

QTEST_GUILESS_MAIN(TestInstances)
#include "tst_instances.moc"
