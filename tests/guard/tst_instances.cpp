// The one-instance rule between real tool processes, each run with a private
// TMPDIR, and a running tool against hostile local clients.

#include "instanceprobes.h"

#include <QLocalSocket>
#include <QProcess>
#include <QtTest>

#include <memory>
#include <unistd.h>

class TestInstances : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_tmp = std::make_unique<QTemporaryDir>(); }
    void cleanup()
    {
        for (auto &proc : m_started) {
            proc->kill();
            proc->waitForFinished();
        }
        m_started.clear();
    }

    void windowClosedEndsWithZero()
    {
        QProcess *tool = startTool(CLOSE_WINDOW_PATH);
        QVERIFY(tool->waitForFinished(15000));
        QCOMPARE(tool->readAllStandardOutput(), QByteArray("AUX NVRAM - 01.00.2\n"));
        QCOMPARE(tool->exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool->exitCode(), 0);
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
        // next start takes over quietly.
        cleanup();
        QVERIFY(QFileInfo::exists(socketPath()) && !primaryAnswers(socketPath()));
        QProcess *next = startPrimary();
        QVERIFY(next);
        // The offscreen platform's note about the window is none of the tool's.
        QCOMPARE(next->readAllStandardError().replace(
                         "This plugin does not support propagateSizeHints()\n", ""),
                 QByteArray());
    }

    void fiftyClientsAtOnce()
    {
        QVERIFY(startPrimary());
        std::vector<std::unique_ptr<QLocalSocket>> clients;
        int acked = 0;
        for (int i = 0; i < 50; ++i) {
            QLocalSocket *s = clients.emplace_back(std::make_unique<QLocalSocket>()).get();
            connect(s, &QLocalSocket::connected, s, [s] { s->write(framed("c")); });
            // Each client hangs up once answered, as a sender does.
            connect(s, &QLocalSocket::readyRead, s, [s, &acked] {
                acked += s->readAll() == "ack";
                s->disconnectFromServer();
            });
            s->connectToServer(socketPath());
        }
        QTRY_COMPARE_WITH_TIMEOUT(acked, 50, 30000);
    }

    void oversizedMessageRefused()
    {
        QProcess *primary = startPrimary();
        QVERIFY(primary);
        const qint64 peakBefore = residentKiB(primary->processId(), "VmHWM:");
        // Sent whole: a buffer taken for it would fill and show in the resident set.
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        socket.write(framed(QByteArray(48 << 20, 'x')));
        // Refused at once: the connection is dropped without an "ack".
        QVERIFY(QTest::qWaitFor([&] { return socket.state() == QLocalSocket::UnconnectedState; }));
        QCOMPARE(socket.readAll(), QByteArray());
        QVERIFY(primaryAnswers(socketPath()));
        const qint64 growthKiB = residentKiB(primary->processId(), "VmHWM:") - peakBefore;
        QVERIFY2(growthKiB < 4096, qPrintable(QString::number(growthKiB)));
        QByteArray errors;
        QTRY_VERIFY((errors += primary->readAllStandardError())
                            .contains("Message of 50331648 bytes refused"));
    }

private:
    QProcess *startTool(const QString &preload = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", m_tmp->path());
        env.insert("XDG_RUNTIME_DIR", m_tmp->path());
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

    // Starts the tool and waits until it answers on its socket; null if it never does.
    QProcess *startPrimary()
    {
        QProcess *proc = startTool();
        const bool up = QTest::qWaitFor(
                [&] { return primaryAnswers(socketPath()) || !proc->state(); }, 15000);
        return up && proc->state() == QProcess::Running ? proc : nullptr;
    }

    QString socketPath() const
    {
        return m_tmp->filePath("qtsingleapp-KalvoA-3578-" + QString::number(::getuid(), 16));
    }

    std::unique_ptr<QTemporaryDir> m_tmp;
    std::vector<std::unique_ptr<QProcess>> m_started;
};

QTEST_GUILESS_MAIN(TestInstances)
#include "tst_instances.moc"
