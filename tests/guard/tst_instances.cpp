// The one-instance rule between real tool processes, each run with a private
// TMPDIR. A message too long for the channel is refused in tst_guard.

#include "instanceprobes.h"

#include <QProcess>
#include <QtTest>

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
        // ends it with status 0.
        cleanup();
        QVERIFY(QFileInfo::exists(socketPath()) && !primaryAnswers(socketPath()));
        QProcess *next = startTool(CLOSE_WINDOW_PATH);
        QVERIFY(next->waitForFinished(15000));
        QCOMPARE(next->readAllStandardOutput(), QByteArray("AUX NVRAM - 01.00.2\n"));
        QCOMPARE(next->exitStatus() == QProcess::NormalExit ? next->exitCode() : -1, 0);
        // The offscreen platform's note about the window is none of the tool's.
        QCOMPARE(next->readAllStandardError().replace(
                         "This plugin does not support propagateSizeHints()\n", ""),
                 QByteArray());
    }

private:
    QProcess *startTool(const QString &preload = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", m_tmp.path());
        env.insert("XDG_RUNTIME_DIR", m_tmp.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
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
