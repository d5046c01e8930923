#include "instanceprobes.h"

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
    QProcess &startTool(const QString &tmpDir, const QStringList &asUser = {});
    QProcess *startPrimary(const QString &tmpDir, const QString &socketPath,
                           const QStringList &asUser = {});
    std::vector<std::unique_ptr<QProcess>> started;
    QTemporaryDir runtimeDir;
};

// Starts the tool; cleanup() ends whatever is still running.
QProcess &TestInstances::startTool(const QString &tmpDir, const QStringList &asUser)
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
    started.push_back(std::move(proc));
    return *started.back();
}

// Starts the tool and waits until it answers on its socket; null if it never does.
QProcess *TestInstances::startPrimary(const QString &tmpDir, const QString &socketPath,
                                      const QStringList &asUser)
{
    QProcess *proc = &startTool(tmpDir, asUser);
    const bool up = QTest::qWaitFor(
            [&] { return primaryAnswers(socketPath) || proc->state() == QProcess::NotRunning; },
            15000);
    return up && proc->state() == QProcess::Running ? proc : nullptr;
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

    QProcess *first = startPrimary(tmp.path(), socketPath);
    QVERIFY(first);

    QElapsedTimer clock;
    clock.start();
    QProcess &second = startTool(tmp.path());
    QVERIFY(second.waitForFinished(5000));
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    // Building and showing the window alone takes longer than the refusal;
    // the first instance never ends on its own, so this one must have left early.
    QVERIFY2(elapsed < 1000, QByteArray::number(elapsed).constData());
    QCOMPARE(second.readAllStandardOutput(), QByteArray());
    QCOMPARE(second.readAllStandardError(), QByteArray());

    QCOMPARE(first->state(), QProcess::Running);
    QVERIFY(primaryAnswers(socketPath));
}

void TestInstances::otherUserRunsBeside()
{
    if (::getuid() != 0)
        QSKIP("needs root to start the tool as another account");
    const passwd *nobody = ::getpwnam("nobody");
    if (!nobody || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        QSKIP("no account 'nobody' or no setpriv here");

    // One shared temporary directory, like /tmp, so that only the user id in
    // the names keeps the two instances apart.
    QTemporaryDir tmp(QStringLiteral("/tmp/aux-guard-XXXXXX"));
    QVERIFY(tmp.isValid());
    QVERIFY(::chmod(QFile::encodeName(tmp.path()).constData(), 01777) == 0);
    const QString rootSocket = tmp.filePath(socketNameFor(0));
    const QString nobodySocket = tmp.filePath(socketNameFor(nobody->pw_uid));

    QProcess *mine = startPrimary(tmp.path(), rootSocket);
    QVERIFY(mine);

    const QStringList asNobody { QStringLiteral("setpriv"), QStringLiteral("--reuid=nobody"),
                                 QStringLiteral("--regid=nogroup"),
                                 QStringLiteral("--clear-groups") };
    QProcess probe;
    probe.start(asNobody.first(),
                asNobody.mid(1)
                        + QStringList { QStringLiteral("test"), QStringLiteral("-x"),
                                        QStringLiteral(AUX_NVRAM_PATH) });
    if (!probe.waitForFinished(5000) || probe.exitCode() != 0)
        QSKIP("the account 'nobody' cannot run the tool binary where it was built");

    QProcess *theirs = startPrimary(tmp.path(), nobodySocket, asNobody);
    QVERIFY2(theirs, started.back()->readAllStandardError().constData());
    QCOMPARE(mine->state(), QProcess::Running);
    QVERIFY(primaryAnswers(rootSocket));
    QCOMPARE(QFileInfo(nobodySocket).ownerId(), nobody->pw_uid);
    QVERIFY(QFileInfo::exists(
            tmp.filePath(socketNameFor(nobody->pw_uid) + QStringLiteral("-lockfile"))));
    QVERIFY(!mentionsGuard(theirs->readAllStandardError()));
}

void TestInstances::startAfterKilledPrimary()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString socketPath = tmp.filePath(socketNameFor(::getuid()));

    QProcess *killed = startPrimary(tmp.path(), socketPath);
    QVERIFY(killed);
    killed->kill();
    QVERIFY(killed->waitForFinished(5000));
    // SIGKILL leaves the socket file behind, and nothing answers on it.
    QVERIFY(QFileInfo::exists(socketPath));
    QVERIFY(!primaryAnswers(socketPath));

    QProcess *next = startPrimary(tmp.path(), socketPath);
    QVERIFY(next);
    const QByteArray errors = next->readAllStandardError();
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

    QProcess &proc = startTool(notADir);
    QVERIFY(proc.waitForFinished(5000));
    QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(proc.exitCode(), 0);
    QVERIFY(proc.readAllStandardError().contains("QtLockedFile::lock(): file is not opened"));
}

QTEST_GUILESS_MAIN(TestInstances)
#include "tst_instances.moc"
