// The one-instance rule between real tool processes, each run with a private
// TMPDIR. A message too long for the channel is refused in tst_guard.

#include "boardlink.h"
#include "instanceprobes.h"

#include <QProcess>
#include <QtTest>

#include <csignal>
#include <memory>
#include <unistd.h>

class TestInstances : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        for (auto &proc : m_started) {
            proc->kill();
            proc->waitForFinished();
        }
        m_started.clear();
    }

    void oneInstancePerUser()
    {
        // Of twenty starts at once, all but the one holding the lock leave at
        // once, silently and with status 0.
        for (int i = 0; i < 20; ++i)
            startTool();
        // Twenty Qt starts on two busy cores, maybe under a sanitizer, take a while.
        QVERIFY(QTest::qWaitFor(
                [&] {
                    int running = 0;
                    for (auto &proc : m_started)
                        running += proc->state() != QProcess::NotRunning || proc->exitCode() != 0;
                    return running == 1;
                },
                60000));
        for (auto &proc : m_started)
            QVERIFY(proc->state() || (proc->readAll() + proc->readAllStandardError()).isEmpty());
        QVERIFY(primaryAnswers(socketPath()) && QFileInfo::exists(socketPath() + "-lockfile"));
        // SIGKILL leaves the socket file behind, and nothing answers on it; the
        // next start takes over quietly: it shows its window, whose closing
        // ends it with status 0. A lock file that cannot be opened, or that
        // someone else put in the way, is not this user's lock: the tool says
        // so and starts all the same.
        cleanup();
        QVERIFY(QFileInfo::exists(socketPath()) && !primaryAnswers(socketPath()));
        const QString lock = socketPath() + "-lockfile";
        for (const QString why : { "", "Is a directory", "belongs to another user" }) {
            QVERIFY(why.isEmpty() || (QFile::remove(lock) || QDir().rmdir(lock)));
            QVERIFY(!why.startsWith("Is") || QDir().mkdir(lock));
            if (why.startsWith("b")
                && !(QFile(lock).open(QIODevice::WriteOnly)
                     && ::chown(QFile::encodeName(lock), ::getuid() + 1, -1) == 0))
                QSKIP("This account may not give a file to another user.");
            QProcess *next = startTool(CLOSE_WINDOW_PATH);
            QVERIFY(next->waitForFinished(15000));
            QCOMPARE(next->readAllStandardOutput(), QByteArray("AUX NVRAM - 01.00.2\n"));
            QCOMPARE(next->exitStatus() == QProcess::NormalExit ? next->exitCode() : -1, 0);
            // The offscreen platform's note about the window is none of the tool's.
            QCOMPARE(next->readAllStandardError().replace(
                             "This plugin does not support propagateSizeHints()\n", ""),
                     why.isEmpty() ? QByteArray()
                                   : "Another copy of this program for this user is not looked "
                                     "for: its lock file "
                                     + lock.toUtf8() + " " + why.toUtf8()
                                     + ". Starting all the same. Remove that file, or ask an "
                                       "administrator to.\n");
        }
    }

    // A logout's signal ends a connected tool as its close button does:
    // its port's lock goes with it, and the port opens again at once.
    void quitSignal()
    {
        for (const int signo : { SIGTERM, SIGHUP, SIGINT }) {
            BoardSimProcess sim;
            QVERIFY(sim.start({ "--baud", "0" }));
            QProcess *tool = startTool(CLOSE_WINDOW_PATH, sim.portName());
            const QString lock = "/var/lock/LCK.." + sim.portName().mid(5).replace('/', '_');
            QTRY_VERIFY_WITH_TIMEOUT(
                    readAll(lock).startsWith(QByteArray::number(tool->processId()) + '\n'), 15000);
            QVERIFY(::kill(pid_t(tool->processId()), signo) == 0 && tool->waitForFinished(5000));
            QCOMPARE(tool->exitStatus() == QProcess::NormalExit ? tool->exitCode() : -signo, 0);
            QVERIFY(!QFileInfo::exists(lock)
                    && QSerialPort(sim.portName()).open(QIODevice::ReadWrite));
        }
    }

private:
    QProcess *startTool(const QString &preload = QString(), const QString &port = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", m_tmp.path());
        env.insert("XDG_RUNTIME_DIR", m_tmp.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        if (!port.isEmpty())
            env.insert("AUX_NVRAM_EXTRA_PORTS", port);
        if (!preload.isEmpty()) {
            env.insert("LD_PRELOAD", preload);
            env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        }
        QProcess *proc = m_started.emplace_back(std::make_unique<QProcess>()).get();
        proc->setProcessEnvironment(env);
        proc->start(AUX_NVRAM_PATH, QStringList());
        proc->waitForStarted();
        return proc;
    }

    QString socketPath() const
    {
        return m_tmp.filePath("qtsingleapp-KalvoA-3578-" + QString::number(::getuid(), 16));
    }

    QTemporaryDir m_tmp; // one test, one directory
    std::vector<std::unique_ptr<QProcess>> m_started;
};

QTEST_GUILESS_MAIN(TestInstances)
#include "tst_instances.moc"
