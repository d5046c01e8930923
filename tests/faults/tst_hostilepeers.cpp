// Hostile local clients against a running tool, and many starts at once.
// Everything runs against real aux-nvram processes with a private TMPDIR.

#include "instanceprobes.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <memory>
#include <vector>

#include <unistd.h>

namespace {

QString socketPathIn(const QTemporaryDir &dir)
{
    return dir.filePath(QStringLiteral("qtsingleapp-KalvoA-3578-")
                        + QString::number(::getuid(), 16));
}

QByteArray lengthPrefix(quint32 length)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(length, bytes.data());
    return bytes;
}

} // namespace

class TestHostilePeers : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void oversizedAnnouncementRefused_data();
    void oversizedAnnouncementRefused();
    void stalledClientHoldsOnlyUntilItCloses_data();
    void stalledClientHoldsOnlyUntilItCloses();
    void fiftyClientsAtOnce();
    void twentySimultaneousStarts();

private:
    QProcess *startTool();
    bool startPrimary();

    std::unique_ptr<QTemporaryDir> m_tmp;
    std::vector<std::unique_ptr<QProcess>> m_started;
    QProcess *m_primary = nullptr;
};

void TestHostilePeers::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
}

void TestHostilePeers::cleanup()
{
    for (auto &proc : m_started) {
        if (proc->state() != QProcess::NotRunning) {
            proc->kill();
            proc->waitForFinished(5000);
        }
    }
    m_started.clear();
    m_primary = nullptr;
    m_tmp.reset();
}

QProcess *TestHostilePeers::startTool()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), m_tmp->path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_tmp->path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    auto proc = std::make_unique<QProcess>();
    proc->setProcessEnvironment(env);
    proc->start(QStringLiteral(AUX_NVRAM_PATH), QStringList());
    m_started.push_back(std::move(proc));
    return m_started.back().get();
}

bool TestHostilePeers::startPrimary()
{
    m_primary = startTool();
    if (!m_primary->waitForStarted(5000))
        return false;
    const QString path = socketPathIn(*m_tmp);
    return QTest::qWaitFor(
                   [&] {
                       return m_primary->state() == QProcess::NotRunning
                               || (QFile::exists(path) && primaryAnswers(path));
                   },
                   20000)
            && m_primary->state() == QProcess::Running;
}

void TestHostilePeers::oversizedAnnouncementRefused_data()
{
    QTest::addColumn<quint32>("announced");
    QTest::newRow("4 GiB - 1") << quint32(0xFFFFFFFFu);
    QTest::newRow("2 GiB") << quint32(0x80000000u);
    QTest::newRow("just over 1 MiB") << quint32(1024 * 1024 + 1);
}

void TestHostilePeers::oversizedAnnouncementRefused()
{
    QFETCH(quint32, announced);
    QVERIFY(startPrimary());
    const qint64 peakBefore = peakRssKiB(m_primary->processId());

    QLocalSocket socket;
    socket.connectToServer(socketPathIn(*m_tmp));
    QVERIFY(socket.waitForConnected(2000));
    socket.write(lengthPrefix(announced));
    QVERIFY(socket.waitForBytesWritten(2000));
    // Refused at once: the connection is dropped without an "ack".
    QVERIFY(socket.state() == QLocalSocket::UnconnectedState || socket.waitForDisconnected(3000));
    QCOMPARE(socket.readAll(), QByteArray());

    QVERIFY(primaryAnswers(socketPathIn(*m_tmp)));
    QCOMPARE(m_primary->state(), QProcess::Running);
    const qint64 growthKiB = peakRssKiB(m_primary->processId()) - peakBefore;
    QVERIFY2(growthKiB < 4096,
             qPrintable(QStringLiteral("peak RSS grew by %1 KiB").arg(growthKiB)));
    QByteArray warnings;
    const bool warned = QTest::qWaitFor(
            [&] {
                warnings += m_primary->readAllStandardError();
                return warnings.contains("refused")
                        && warnings.contains(QByteArray::number(announced));
            },
            5000);
    QVERIFY2(warned, warnings.constData());
}

void TestHostilePeers::stalledClientHoldsOnlyUntilItCloses_data()
{
    QTest::addColumn<QByteArray>("sentBeforeStalling");
    QTest::newRow("nothing") << QByteArray();
    QTest::newRow("half a length") << QByteArray(2, '\0');
    QTest::newRow("part of a message") << lengthPrefix(10) + "abc";
}

void TestHostilePeers::stalledClientHoldsOnlyUntilItCloses()
{
    QFETCH(QByteArray, sentBeforeStalling);
    QVERIFY(startPrimary());
    const QString path = socketPathIn(*m_tmp);

    QLocalSocket stalled;
    stalled.connectToServer(path);
    QVERIFY(stalled.waitForConnected(2000));
    if (!sentBeforeStalling.isEmpty()) {
        stalled.write(sentBeforeStalling);
        QVERIFY(stalled.waitForBytesWritten(2000));
    }

    QLocalSocket next;
    next.connectToServer(path);
    QVERIFY(next.waitForConnected(2000));
    next.write(lengthPrefix(0));
    QVERIFY(next.waitForBytesWritten(2000));
    // The primary is busy with the stalled client, so the next one waits.
    QVERIFY(!next.waitForReadyRead(500));

    QElapsedTimer sinceClose;
    stalled.disconnectFromServer();
    sinceClose.start();
    QVERIFY(next.waitForReadyRead(5000));
    QCOMPARE(next.readAll(), QByteArray("ack"));
    // Released by the close: neither the 30-s length wait nor the 2-s body
    // wait runs out.
    QVERIFY2(sinceClose.elapsed() < 1500, qPrintable(QString::number(sinceClose.elapsed())));
    QCOMPARE(m_primary->state(), QProcess::Running);
}

void TestHostilePeers::fiftyClientsAtOnce()
{
    QVERIFY(startPrimary());
    const QString path = socketPathIn(*m_tmp);
    constexpr int iClients = 50;

    std::vector<std::unique_ptr<QLocalSocket>> clients;
    int acked = 0;
    for (int i = 0; i < iClients; ++i) {
        auto socket = std::make_unique<QLocalSocket>();
        QLocalSocket *s = socket.get();
        const QByteArray message = QByteArray("client ") + QByteArray::number(i);
        connect(s, &QLocalSocket::connected, s,
                [s, message] { s->write(lengthPrefix(quint32(message.size())) + message); });
        // Each client hangs up as soon as it is answered, as a sender does.
        connect(s, &QLocalSocket::readyRead, s, [s, &acked] {
            if (s->bytesAvailable() >= 3 && s->read(3) == "ack") {
                ++acked;
                s->disconnectFromServer();
            }
        });
        clients.push_back(std::move(socket));
    }
    for (auto &client : clients)
        client->connectToServer(path);

    const bool settled = QTest::qWaitFor(
            [&] {
                for (auto &client : clients) {
                    if (client->state() != QLocalSocket::UnconnectedState)
                        return false;
                }
                return true;
            },
            30000);
    QVERIFY2(settled,
             qPrintable(QStringLiteral("%1 acknowledged, the rest still open").arg(acked)));
    // Every client ended: answered, or turned away without being left hanging.
    QVERIFY2(acked > 0, qPrintable(QStringLiteral("%1 acknowledged").arg(acked)));
    qInfo("%d of %d clients acknowledged", acked, iClients);
    QCOMPARE(m_primary->state(), QProcess::Running);
    QVERIFY(primaryAnswers(path));
}

void TestHostilePeers::twentySimultaneousStarts()
{
    constexpr int iStarts = 20;
    std::vector<QProcess *> starts;
    for (int i = 0; i < iStarts; ++i)
        starts.push_back(startTool());

    auto running = [&] {
        int count = 0;
        for (QProcess *proc : starts)
            count += proc->state() != QProcess::NotRunning;
        return count;
    };
    // All but one leave on their own; the one that holds the lock stays.
    QVERIFY2(QTest::qWaitFor([&] { return running() <= 1; }, 45000),
             qPrintable(QStringLiteral("%1 still running").arg(running())));
    QCOMPARE(running(), 1);
    for (QProcess *proc : starts) {
        if (proc->state() != QProcess::NotRunning)
            continue;
        QCOMPARE(proc->exitStatus(), QProcess::NormalExit);
        QCOMPARE(proc->exitCode(), 0);
    }
    QVERIFY(primaryAnswers(socketPathIn(*m_tmp)));
}

QTEST_MAIN(TestHostilePeers)
#include "tst_hostilepeers.moc"
