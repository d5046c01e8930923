#include "lockholder.h"
#include "qtlocalpeer.h"
#include "qtsingleapplication.h"

#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMetaObject>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QWidget>
#include <QtEndian>

#include <atomic>
#include <memory>

#include <unistd.h>

namespace {

// CRC-16/X-25 worked out bit by bit, independent of qChecksum.
quint16 crcX25(const QByteArray &data)
{
    quint16 crc = 0xFFFF;
    for (const char c : data) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0x8408) : quint16(crc >> 1);
    }
    return crc ^ 0xFFFF;
}

QString uidHex()
{
    return QString::number(::getuid(), 16);
}

QByteArray lengthPrefix(quint32 length)
{
    QByteArray out(4, '\0');
    qToBigEndian(length, out.data());
    return out;
}

QByteArray frame(const QByteArray &payload)
{
    return lengthPrefix(quint32(payload.size())) + payload;
}

// Acknowledgements that raw clients have read, counted before they hang up.
std::atomic<int> acksRead { 0 };

// A raw client on a thread of its own: the primary answers on the main
// thread, and its waits block that thread while it receives.
class RawClient : public QThread
{
public:
    RawClient(const QString &server, const QByteArray &bytes, bool hangUp)
        : serverName(server), out(bytes), hangUpAfterSend(hangUp)
    {
    }

    QString serverName;
    QByteArray out;
    bool hangUpAfterSend;
    bool connected = false;
    QByteArray reply;

protected:
    void run() override
    {
        QLocalSocket socket;
        socket.connectToServer(serverName);
        connected = socket.waitForConnected(5000);
        if (!connected)
            return;
        if (!out.isEmpty()) {
            socket.write(out);
            socket.waitForBytesWritten(5000);
        }
        if (!hangUpAfterSend) {
            while (reply.size() < 3 && socket.waitForReadyRead(8000))
                reply += socket.readAll();
            if (reply == "ack")
                ++acksRead;
        }
        socket.disconnectFromServer();
    }
};

// Stands in for a primary: listens on the name and answers whatever it is told.
class FakePrimary : public QThread
{
public:
    FakePrimary(const QString &name, const QByteArray &answer) : serverName(name), reply(answer) { }

    QString serverName;
    QByteArray reply;
    QSemaphore ready;
    bool listening = false;
    QByteArray received;

protected:
    void run() override
    {
        QLocalServer server;
        listening = server.listen(serverName);
        ready.release();
        if (!listening || !server.waitForNewConnection(10000))
            return;
        QLocalSocket *socket = server.nextPendingConnection();
        for (;;) {
            received += socket->readAll();
            if (received.size() >= 4
                && received.size() >= 4 + qint64(qFromBigEndian<quint32>(received.constData())))
                break;
            if (!socket->waitForReadyRead(5000))
                break;
        }
        if (!reply.isEmpty()) {
            socket->write(reply);
            socket->waitForBytesWritten(2000);
        }
        socket->waitForDisconnected(5000);
    }
};

} // namespace

class TestLocalPeer : public QObject
{
    Q_OBJECT

public:
    explicit TestLocalPeer(QtSingleApplication *application) : app(application) { }

private slots:
    void initTestCase();
    void init();
    void derivedNames_data();
    void derivedNames();
    void receiveMessage_data();
    void receiveMessage();
    void messageFromSecondInstance();
    void primaryDoesNotSendToItself();
    void replyDecidesSendResult_data();
    void replyDecidesSendResult();
    void activationFollowsMessages();

private:
    QString sendRaw(const QByteArray &bytes, bool hangUp, QByteArray *reply);
    QtSingleApplication *app;
    QString primaryName;
};

void TestLocalPeer::initTestCase()
{
    QVERIFY(!app->isAnotherInstanceRunning());
    auto *peer = app->findChild<QtLocalPeer *>();
    QVERIFY(peer);
    primaryName = peer->socketName();
    QVERIFY(QFileInfo::exists(QDir::tempPath() + QLatin1Char('/') + primaryName));
}

void TestLocalPeer::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
}

void TestLocalPeer::derivedNames_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("expectedId");
    QTest::addColumn<QString>("expectedStart");

    QTest::newRow("tool id") << "Kalvo_AUX_NVRAM"
                             << "Kalvo_AUX_NVRAM"
                             << "qtsingleapp-KalvoA-3578-";
    QTest::newRow("crc check value") << "123456789"
                                     << "123456789"
                                     << "qtsingleapp--906e-";
    QTest::newRow("fewer than 6 letters") << "Ab1"
                                          << "Ab1"
                                          << "qtsingleapp-Ab-ec89-";
    QTest::newRow("no letters") << "2024-01_07"
                                << "2024-01_07"
                                << "qtsingleapp--1c3a-";
    QTest::newRow("only ASCII letters count")
            << QStringLiteral("Ärger_Überall") << QStringLiteral("Ärger_Überall")
            << "qtsingleapp-rgerbe-6796-";
    // The executable's path stands in; its file name tst_localpeer gives the letters.
    const QString exe = QCoreApplication::applicationFilePath();
    QTest::newRow("empty id") << QString() << exe
                              << QStringLiteral("qtsingleapp-tstloc-%1-")
                                         .arg(QString::number(crcX25(exe.toUtf8()), 16));
}

void TestLocalPeer::derivedNames()
{
    QFETCH(QString, id);
    QFETCH(QString, expectedId);
    QFETCH(QString, expectedStart);

    QtLocalPeer peer(nullptr, id);
    QCOMPARE(peer.applicationId(), expectedId);
    QCOMPARE(peer.socketName(), expectedStart + uidHex());
    QCOMPARE(QString::number(crcX25(expectedId.toUtf8()), 16),
             expectedStart.section(QLatin1Char('-'), 2, 2));

    // The lock file is there, empty, from construction on, and stays after.
    const QString lockPath =
            QDir::tempPath() + QLatin1Char('/') + peer.socketName() + QStringLiteral("-lockfile");
    QVERIFY(QFileInfo(lockPath).isFile());
    QCOMPARE(QFileInfo(lockPath).size(), 0);
}

QString TestLocalPeer::sendRaw(const QByteArray &bytes, bool hangUp, QByteArray *reply)
{
    RawClient client(primaryName, bytes, hangUp);
    client.start();
    // Keep the primary's event loop going while the client talks.
    if (!QTest::qWaitFor([&] { return client.isFinished(); }, 15000))
        return QStringLiteral("client did not finish");
    if (!client.connected)
        return QStringLiteral("client could not connect");
    *reply = client.reply;
    return QString();
}

void TestLocalPeer::receiveMessage_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<bool>("hangUp");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QStringList>("received");
    QTest::addColumn<QByteArray>("reply");

    const QString text = QStringLiteral("Grüße aus Köln ✓ 日本");
    QTest::newRow("UTF-8 text") << frame(text.toUtf8()) << false << QString()
                                << QStringList { text } << QByteArray("ack");
    QTest::newRow("empty message") << frame(QByteArray()) << false << QString()
                                   << QStringList { QString() } << QByteArray("ack");
    QTest::newRow("largest message")
            << frame(QByteArray(int(QtLocalPeer::MaxMessageLength), 'x')) << false << QString()
            << QStringList { QString(int(QtLocalPeer::MaxMessageLength), QLatin1Char('x')) }
            << QByteArray("ack");
    // The sender stays connected but stops; the receiver gives up after its
    // 2 s wait and keeps what came.
    QTest::newRow("sender stops early")
            << lengthPrefix(10) + "abcd" << false << QString()
            << QStringList { QStringLiteral("abcd") } << QByteArray("ack");
    QTest::newRow("sender hangs up early")
            << lengthPrefix(10) + "abcd" << true << QString()
            << QStringList { QStringLiteral("abcd") } << QByteArray();
    QTest::newRow("hang-up without a byte")
            << QByteArray() << true << QStringLiteral("^QtLocalPeer: Peer disconnected$")
            << QStringList() << QByteArray();
    QTest::newRow("hang-up inside the length")
            << QByteArray("\0\0", 2) << true << QStringLiteral("^QtLocalPeer: Peer disconnected$")
            << QStringList() << QByteArray();
    QTest::newRow("just over the limit")
            << lengthPrefix(QtLocalPeer::MaxMessageLength + 1) << false
            << QStringLiteral("^QtLocalPeer: ") << QStringList() << QByteArray();
    QTest::newRow("4 GiB announced")
            << lengthPrefix(0xFFFFFFFFu) + "abc" << false << QStringLiteral("^QtLocalPeer: ")
            << QStringList() << QByteArray();
}

void TestLocalPeer::receiveMessage()
{
    QFETCH(QByteArray, sent);
    QFETCH(bool, hangUp);
    QFETCH(QString, warning);
    QFETCH(QStringList, received);
    QFETCH(QByteArray, reply);

    QSignalSpy spy(app, &QtSingleApplication::messageReceived);
    // How many clients had their "ack" at the moment of each signal.
    QList<int> acksAtSignal;
    const int acksBefore = acksRead;
    const QMetaObject::Connection watch = connect(app, &QtSingleApplication::messageReceived, this,
                                                  [&] { acksAtSignal << acksRead - acksBefore; });
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));

    QByteArray answer;
    QString problem = sendRaw(sent, hangUp, &answer);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(answer, reply);

    // Connections are served in order, so once this follow-up is in, the
    // first connection is done with and every signal it caused is in the spy.
    problem = sendRaw(frame("next"), false, &answer);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(answer, QByteArray("ack"));
    QTRY_COMPARE(spy.count(), received.size() + 1);

    QStringList got;
    for (const QList<QVariant> &args : std::as_const(spy))
        got << args.at(0).toString();
    QCOMPARE(got, received + QStringList { QStringLiteral("next") });

    // The signal comes only after the sender has its answer, so a slow slot
    // never keeps a sender waiting.
    disconnect(watch);
    const int firstAck = reply == "ack" ? 1 : 0;
    const QList<int> expected =
            received.isEmpty() ? QList<int> { 1 } : QList<int> { firstAck, firstAck + 1 };
    QCOMPARE(acksAtSignal, expected);
}

void TestLocalPeer::messageFromSecondInstance()
{
    QSignalSpy spy(app, &QtSingleApplication::messageReceived);
    const QString text = QStringLiteral("von nebenan ✓");

    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(SEND_HELPER_PATH), { app->instanceId(), text });
    QVERIFY(second.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 15000);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), text);
}

void TestLocalPeer::primaryDoesNotSendToItself()
{
    QSignalSpy spy(app, &QtSingleApplication::messageReceived);
    // Talking to itself would hang until the reply timed out, as the primary
    // cannot answer while it waits; refusing must be immediate.
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!app->sendMessage(QStringLiteral("me?")));
    QVERIFY(clock.elapsed() < 1000);

    const QMetaObject *meta = app->metaObject();
    QVERIFY(meta->indexOfMethod("sendMessage(QString)") >= 0);
    QVERIFY(meta->indexOfMethod("sendMessage(QString,int)") >= 0);
    bool result = true;
    clock.restart();
    QVERIFY(QMetaObject::invokeMethod(app, "sendMessage", Q_RETURN_ARG(bool, result),
                                      Q_ARG(QString, QStringLiteral("me?"))));
    QVERIFY(!result);
    QVERIFY(clock.elapsed() < 1000);
    QCOMPARE(spy.count(), 0);
}

void TestLocalPeer::replyDecidesSendResult_data()
{
    QTest::addColumn<bool>("serve");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("delivered");

    QTest::newRow("ack") << true << QByteArray("ack") << true;
    QTest::newRow("other word") << true << QByteArray("nak") << false;
    QTest::newRow("upper case") << true << QByteArray("ACK") << false;
    QTest::newRow("too short") << true << QByteArray("ac") << false;
    QTest::newRow("no reply") << true << QByteArray() << false;
    QTest::newRow("nobody listening") << false << QByteArray() << false;
}

void TestLocalPeer::replyDecidesSendResult()
{
    QFETCH(bool, serve);
    QFETCH(QByteArray, reply);
    QFETCH(bool, delivered);

    const QString id = QStringLiteral("fake primary %1 %2")
                               .arg(QCoreApplication::applicationPid())
                               .arg(QLatin1String(QTest::currentDataTag()));
    QtLocalPeer peer(nullptr, id);
    // The lock is held by another process, so this peer counts as secondary.
    LockHolder primaryLock;
    QVERIFY(primaryLock.hold(QStringLiteral("exclusive"),
                             QDir::tempPath() + QLatin1Char('/') + peer.socketName()
                                     + QStringLiteral("-lockfile")));

    std::unique_ptr<FakePrimary> fake;
    if (serve) {
        fake = std::make_unique<FakePrimary>(peer.socketName(), reply);
        fake->start();
        fake->ready.acquire();
        QVERIFY(fake->listening);
    }

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(peer.sendMessage(QStringLiteral("grüß"), 600), delivered);
    const qint64 elapsed = clock.elapsed();

    if (fake) {
        QVERIFY(fake->wait(10000));
        // Big-endian count, then the UTF-8 bytes, nothing else.
        QCOMPARE(fake->received, QByteArray("\0\0\0\x06gr\xc3\xbc\xc3\x9f", 10));
    } else {
        // Two refused attempts with the pause between them.
        QVERIFY2(elapsed >= 245, QByteArray::number(elapsed).constData());
    }
}

void TestLocalPeer::activationFollowsMessages()
{
    QWidget window;
    window.show();
    const Qt::WindowStates down = Qt::WindowMinimized | Qt::WindowMaximized;
    window.setWindowState(down);

    app->setWindowToActivate(&window);
    QCOMPARE(app->windowToActivate(), &window);
    // The offscreen platform says so when raise() reaches it.
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        QTest::ignoreMessage(QtWarningMsg, "This plugin does not support raise()");
    QByteArray answer;
    QString problem = sendRaw(frame("show yourself"), false, &answer);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    // Only the minimized flag goes; the rest of the state is kept.
    QTRY_COMPARE(window.windowState(), Qt::WindowStates(Qt::WindowMaximized));

    app->setWindowToActivate(&window, false);
    window.setWindowState(down);
    QSignalSpy spy(app, &QtSingleApplication::messageReceived);
    problem = sendRaw(frame("stay down"), false, &answer);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QTRY_COMPARE(spy.count(), 1);
    QCOMPARE(window.windowState(), down);

    // With no window stored, activation has nothing to act on.
    app->setWindowToActivate(nullptr);
    app->activateWindow();
    QCOMPARE(window.windowState(), down);
}

int main(int argc, char **argv)
{
    // The guard puts its socket and lock file in the temporary directory:
    // keep this run's own, away from any tool that runs on this machine.
    QTemporaryDir tmp;
    if (!tmp.isValid())
        return 1;
    qputenv("TMPDIR", QFile::encodeName(tmp.path()));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(tmp.path()));

    const QString id = QStringLiteral("tst_localpeer %1").arg(::getpid());
    QtSingleApplication app(id, argc, argv);
    TestLocalPeer test(&app);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_localpeer.moc"
