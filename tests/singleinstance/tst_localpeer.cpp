#include "lockholder.h"
#include "qtlocalpeer.h"
#include "qtsingleapplication.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
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

} // namespace

class TestLocalPeer : public QObject
{
    Q_OBJECT

public:
    explicit TestLocalPeer(QtSingleApplication *application) : app(application) { }

private slots:
    void initTestCase()
    {
        QVERIFY(!app->isAnotherInstanceRunning());
        auto *peer = app->findChild<QtLocalPeer *>();
        QVERIFY(peer);
        primaryName = peer->socketName();
        QVERIFY(QFileInfo::exists(QDir::tempPath() + QLatin1Char('/') + primaryName));
    }

    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void derivedNames_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("expectedStart");

        QTest::newRow("tool id") << "Kalvo_AUX_NVRAM" << QStringLiteral("qtsingleapp-KalvoA-3578-");
        QTest::newRow("no letters") << "123456789" << QStringLiteral("qtsingleapp--906e-");
        QTest::newRow("fewer than 6 letters") << "Ab1" << QStringLiteral("qtsingleapp-Ab-ec89-");
        // The executable's path stands in; its file name tst_localpeer gives the letters.
        const QByteArray exe = QCoreApplication::applicationFilePath().toUtf8();
        QTest::newRow("empty id")
                << QString()
                << QStringLiteral("qtsingleapp-tstloc-%1-").arg(QString::number(crcX25(exe), 16));
    }

    void derivedNames()
    {
        QFETCH(QString, id);
        QFETCH(QString, expectedStart);

        QtLocalPeer peer(nullptr, id);
        QCOMPARE(peer.socketName(), expectedStart + QString::number(::getuid(), 16));
        // The lock file is there, empty, from construction on.
        const QFileInfo lockFile(QDir::tempPath() + QLatin1Char('/') + peer.socketName()
                                 + "-lockfile");
        QVERIFY(lockFile.isFile());
        QCOMPARE(lockFile.size(), 0);
    }


    void receiveMessage_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<bool>("hangUp");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<QStringList>("received");
        QTest::addColumn<QByteArray>("reply");

        const QString text = QStringLiteral("Grüße aus Köln ✓ 日本");
        const quint32 max = QtLocalPeer::MaxMessageLength;
        QTest::newRow("UTF-8 text") << frame(text.toUtf8()) << false << QString()
                                    << QStringList { text } << QByteArray("ack");
        QTest::newRow("empty message") << frame(QByteArray()) << false << QString()
                                       << QStringList { QString() } << QByteArray("ack");
        QTest::newRow("largest message")
                << frame(QByteArray(int(max), 'x')) << false << QString()
                << QStringList { QString(int(max), QLatin1Char('x')) } << QByteArray("ack");
        // The sender stays connected but stops; the receiver gives up after its
        // 2 s wait and keeps what came.
        QTest::newRow("sender stops early")
                << lengthPrefix(10) + "abcd" << false << QString()
                << QStringList { QStringLiteral("abcd") } << QByteArray("ack");
        QTest::newRow("hang-up inside the length")
                << QByteArray("\0\0", 2) << true
                << QStringLiteral("^QtLocalPeer: Peer disconnected$") << QStringList()
                << QByteArray();
        QTest::newRow("just over the limit")
                << lengthPrefix(max + 1) + "abc" << false << QStringLiteral("^QtLocalPeer: ")
                << QStringList() << QByteArray();
    }

    void receiveMessage()
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
        const QMetaObject::Connection watch =
                connect(app, &QtSingleApplication::messageReceived, this,
                        [&] { acksAtSignal << acksRead - acksBefore; });
        if (!warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));

        QCOMPARE(sendRaw(sent, hangUp), reply);
        // Connections are served in order, so once this follow-up is in, the
        // first connection is done with and every signal it caused is in the spy.
        QCOMPARE(sendRaw(frame("next")), QByteArray("ack"));
        QTRY_COMPARE(spy.count(), received.size() + 1);
        disconnect(watch);
        QStringList got;
        for (const QList<QVariant> &args : std::as_const(spy))
            got << args.at(0).toString();
        QCOMPARE(got, received + QStringList { QStringLiteral("next") });

        // The signal comes only after the sender has its answer, so a slow slot
        // never keeps a sender waiting.
        const int firstAck = reply == "ack" ? 1 : 0;
        const QList<int> expected =
                received.isEmpty() ? QList<int> { 1 } : QList<int> { firstAck, firstAck + 1 };
        QCOMPARE(acksAtSignal, expected);
    }

    void primaryDoesNotSendToItself()
    {
        QSignalSpy spy(app, &QtSingleApplication::messageReceived);
        // Talking to itself would hang until the reply timed out, as the primary
        // cannot answer while it waits; refusing must be immediate.
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!app->sendMessage(QStringLiteral("me?")));
        // Callers by name, with the timeout left out, reach the same refusal.
        bool result = true;
        QVERIFY(QMetaObject::invokeMethod(app, "sendMessage", Q_RETURN_ARG(bool, result),
                                          Q_ARG(QString, QStringLiteral("me?"))));
        QVERIFY(!result);
        QVERIFY(clock.elapsed() < 1000);
        QCOMPARE(spy.count(), 0);
    }

    void replyDecidesSendResult_data()
    {
        QTest::addColumn<bool>("serve");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("delivered");

        QTest::newRow("ack") << true << QByteArray("ack") << true;
        QTest::newRow("other word") << true << QByteArray("nak") << false;
        QTest::newRow("too short") << true << QByteArray("ac") << false;
        QTest::newRow("nobody listening") << false << QByteArray() << false;
    }

    void replyDecidesSendResult()
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
                                         + "-lockfile"));

        // Stands in for a primary: reads one message and answers with reply.
        const QString name = peer.socketName();
        QByteArray received;
        QSemaphore ready;
        bool listening = false;
        std::unique_ptr<QThread> fake(QThread::create([&] {
            QLocalServer server;
            listening = server.listen(name);
            ready.release();
            if (!listening || !server.waitForNewConnection(10000))
                return;
            QLocalSocket *socket = server.nextPendingConnection();
            while ((received.size() < 4
                    || received.size() < 4 + qint64(qFromBigEndian<quint32>(received.constData())))
                   && (socket->bytesAvailable() || socket->waitForReadyRead(5000)))
                received += socket->readAll();
            socket->write(reply);
            socket->waitForBytesWritten(2000);
            socket->waitForDisconnected(5000);
        }));
        if (serve) {
            fake->start();
            ready.acquire();
            QVERIFY(listening);
        }

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(peer.sendMessage(QStringLiteral("grüß"), 600), delivered);
        if (serve) {
            QVERIFY(fake->wait(10000));
            // Big-endian count, then the UTF-8 bytes, nothing else.
            QCOMPARE(received, QByteArray("\0\0\0\x06gr\xc3\xbc\xc3\x9f", 10));
        } else {
            // Two refused attempts with the pause between them.
            QVERIFY2(clock.elapsed() >= 245, QByteArray::number(clock.elapsed()).constData());
        }
    }

    void activationFollowsMessages()
    {
        QWidget window;
        window.show();
        const Qt::WindowStates down = Qt::WindowMinimized | Qt::WindowMaximized;
        window.setWindowState(down);

        app->setWindowToActivate(&window);
        // The offscreen platform says so when raise() reaches it.
        if (QGuiApplication::platformName() == QLatin1String("offscreen"))
            QTest::ignoreMessage(QtWarningMsg, "This plugin does not support raise()");
        QCOMPARE(sendRaw(frame("show yourself")), QByteArray("ack"));
        // Only the minimized flag goes; the rest of the state is kept.
        QTRY_COMPARE(window.windowState(), Qt::WindowStates(Qt::WindowMaximized));

        app->setWindowToActivate(&window, false);
        window.setWindowState(down);
        QSignalSpy spy(app, &QtSingleApplication::messageReceived);
        QCOMPARE(sendRaw(frame("stay down")), QByteArray("ack"));
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(window.windowState(), down);
    }

private:
    // Sends bytes from a raw client and returns what came back. The client runs on
    // a thread of its own, as the primary answers on this one and blocks it while
    // it receives; the event loop keeps going meanwhile.
    QByteArray sendRaw(const QByteArray &bytes, bool hangUp = false)
    {
        QByteArray reply;
        bool connected = false;
        std::unique_ptr<QThread> client(QThread::create([&] {
            QLocalSocket socket;
            socket.connectToServer(primaryName);
            if (!(connected = socket.waitForConnected(5000)))
                return;
            if (!bytes.isEmpty()) {
                socket.write(bytes);
                socket.waitForBytesWritten(5000);
            }
            while (!hangUp && reply.size() < 3 && socket.waitForReadyRead(8000))
                reply += socket.readAll();
            if (reply == "ack")
                ++acksRead;
        }));
        client->start();
        if (!QTest::qWaitFor([&] { return client->isFinished(); }, 15000))
            qFatal("raw client did not finish");
        return connected ? reply : QByteArray("(could not connect)");
    }

    QtSingleApplication *app;
    QString primaryName;
};

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
