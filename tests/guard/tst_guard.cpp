// The one-instance guard inside one process: its lock against another
// process, the names it derives, and its message channel as raw sockets
// speak it.

#include "instanceprobes.h"
#include "nvramfile.h"
#include "qtlocalpeer.h"
#include "qtsingleapplication.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

using QtLP_Private::QtLockedFile;

// Another process holding a lock, until this ends: this test's executable
// run as "--hold shared|exclusive FILE" (fcntl locks only conflict between
// processes).
struct LockHolder
{
    QProcess helper;
    bool hold(const QString &kind, const QString &path)
    {
        helper.start(QCoreApplication::applicationFilePath(), { "--hold", kind, path });
        return helper.waitForReadyRead() && helper.readLine() == "locked\n";
    }
    ~LockHolder()
    {
        helper.closeWriteChannel();
        helper.waitForFinished();
    }
};

class TestGuard : public QObject
{
    Q_OBJECT

public:
    explicit TestGuard(QtSingleApplication *application) : app(application) { }

private slots:
    void initTestCase() { QVERIFY(!app->isAnotherInstanceRunning()); }
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }

    // The per-user part is the uid in hex: "3e8" for 1000, as for a first
    // ordinary account. Tests run as root, whose 0 reads alike in any base.
    // Beside them, the shipped tool's dump directory, which this test alone
    // links: every other links a private one.
    void fixedNames()
    {
        QCOMPARE(sNvramDir, QString("/opt/VYK_PLUS/NVRAM/AUXPCB/"));
        QCOMPARE(QtLocalPeer::socketNameFor("Kalvo_AUX_NVRAM", 1000),
                 QString("qtsingleapp-KalvoA-3578-3e8"));
        QCOMPARE(QtLocalPeer::socketNameFor("Ab1", 4660), QString("qtsingleapp-Ab-ec89-1234"));
    }

    void locks_data()
    {
        QTest::addColumn<QString>("theirs");
        QTest::addColumn<QtLockedFile::LockKind>("ours");
        QTest::newRow("shared beside shared") << "shared" << QtLockedFile::SharedLock;
        QTest::newRow("shared beside exclusive") << "exclusive" << QtLockedFile::SharedLock;
    }
    void locks()
    {
        QFETCH(QString, theirs);
        QFETCH(QtLockedFile::LockKind, ours);
        const QString path = QDir::tempPath() + "/lock-" + QTest::currentDataTag();
        LockHolder other;
        QVERIFY(other.hold(theirs, path));
        QtLockedFile file(path);
        // Truncating would wipe a file that another process holds locked.
        QTest::ignoreMessage(QtWarningMsg, "QtLockedFile::open(): Truncate mode not allowed.");
        QVERIFY(!file.open(QIODevice::ReadWrite | QIODevice::Truncate));
        QVERIFY(file.open(QIODevice::ReadWrite));
        // A refusal is an ordinary answer: false, and nothing on the warning channel.
        const bool granted = theirs == "shared" && ours == QtLockedFile::SharedLock;
        QCOMPARE(file.lock(ours, false), granted);
        QCOMPARE(file.currentLock(), granted ? ours : QtLockedFile::Unlocked);
    }

    void receive_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QString>("warning"); // the sender hangs up when there is one
        QTest::addColumn<QStringList>("received");

        const QString text = QStringLiteral("Grüße aus Köln ✓ 日本");
        const quint32 max = QtLocalPeer::MaxMessageLength;
        QTest::newRow("UTF-8 text") << framed(text.toUtf8()) << QString() << QStringList { text };
        // The sender stays connected but stops; after 2 s the primary keeps what came.
        QTest::newRow("sender stops early")
                << framed("abcd", 10) << QString() << QStringList { "abcd" };
        QTest::newRow("hang-up inside the length")
                << QByteArray(2, '\0') << "^QtLocalPeer: Peer disconnected$" << QStringList();
        QTest::newRow("just over the limit")
                << framed("abc", max + 1)
                << "^QtLocalPeer: Message of 1048577 bytes refused, the limit is 1048576 bytes$"
                << QStringList();
    }
    void receive()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QString, warning);
        QFETCH(QStringList, received);

        QSignalSpy spy(app, &QtSingleApplication::messageReceived);
        if (!warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));
        QCOMPARE(sendRaw(sent, warning.isEmpty()), QByteArray(warning.isEmpty() ? "ack" : ""));
        // Connections are served in turn: once this one is answered, the first is done with.
        QCOMPARE(sendRaw(framed("next")), QByteArray("ack"));
        QTRY_COMPARE(spy.count(), received.size() + 1);
        QStringList got;
        for (const QList<QVariant> &args : std::as_const(spy))
            got << args.at(0).toString();
        QCOMPARE(got, received << "next");
    }

    void send_data()
    {
        QTest::addColumn<int>("listenAfterMs");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("ack") << 0 << QByteArray("ack");
        QTest::newRow("other word") << 0 << QByteArray("nak");
        // The primary may be between taking the lock and listening. The retry
        // comes 250 ms after the first attempt: 200 ms to spare for a thread
        // that wakes late on a loaded machine.
        QTest::newRow("listening by the second attempt") << 50 << QByteArray("ack");
    }
    void send()
    {
        QFETCH(int, listenAfterMs);
        QFETCH(QByteArray, reply);

        QtLocalPeer peer(nullptr, QStringLiteral("fake primary %1").arg(QTest::currentDataTag()));
        // The lock is held by another process, so this peer counts as secondary.
        LockHolder primaryLock;
        QVERIFY(primaryLock.hold("exclusive", peer.socketName() + "-lockfile"));
        // Stands in for a primary: reads the 10 bytes of "grüß" and answers with reply.
        QByteArray received;
        std::unique_ptr<QThread> fake(QThread::create([&] {
            QThread::msleep(listenAfterMs);
            QLocalServer server;
            if (!server.listen(peer.socketName()) || !server.waitForNewConnection(10000))
                return;
            QLocalSocket *socket = server.nextPendingConnection();
            while (received.size() < 10 && socket->waitForReadyRead(5000))
                received += socket->readAll();
            socket->write(reply);
            socket->waitForBytesWritten();
            socket->waitForDisconnected();
        }));
        fake->start();
        QCOMPARE(peer.sendMessage(QStringLiteral("grüß"), 600), reply == "ack");
        QVERIFY(fake->wait(10000));
        // Big-endian count, then the UTF-8 bytes.
        QCOMPARE(received, framed("gr\xc3\xbc\xc3\x9f"));
    }

    void activation()
    {
        QWidget window;
        window.show();
        const Qt::WindowStates down = Qt::WindowMinimized | Qt::WindowMaximized;
        window.setWindowState(down);
        // Registered twice, the window is still raised once per message.
        app->setWindowToActivate(&window);
        app->setWindowToActivate(&window);
        QTest::ignoreMessage(QtWarningMsg, "This plugin does not support raise()");
        QCOMPARE(sendRaw(framed("show yourself")), QByteArray("ack"));
        // Only the minimized flag goes.
        QTRY_COMPARE(window.windowState(), Qt::WindowStates(Qt::WindowMaximized));
    }

private:
    // Sends bytes from a raw client, which runs on a thread of its own as the
    // primary blocks this one while it receives, and returns what came back.
    QByteArray sendRaw(const QByteArray &bytes, bool awaitReply = true)
    {
        QByteArray reply;
        std::unique_ptr<QThread> client(QThread::create([&] {
            QLocalSocket socket;
            socket.connectToServer(app->findChild<QtLocalPeer *>()->socketName());
            socket.write(bytes);
            socket.waitForBytesWritten();
            while (awaitReply && reply.size() < 3 && socket.waitForReadyRead(8000))
                reply += socket.readAll();
        }));
        client->start();
        if (!QTest::qWaitFor([&] { return client->isFinished(); }, 15000))
            qFatal("client thread did not finish");
        return reply;
    }

    QtSingleApplication *app;
};

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--hold") == 0) {
        QtLockedFile file(QString::fromLocal8Bit(argv[3]));
        const bool shared = qstrcmp(argv[2], "shared") == 0;
        const bool locked = file.open(QIODevice::ReadWrite)
                && file.lock(shared ? QtLockedFile::SharedLock : QtLockedFile::ExclusiveLock,
                             false);
        std::printf(locked ? "locked\n" : "busy\n");
        std::fflush(stdout);
        while (std::getchar() != EOF) {
        }
        return 0;
    }
    // The guard's socket and lock file go to the temporary directory: this
    // run gets its own, away from any tool running on this machine.
    QTemporaryDir tmp;
    qputenv("TMPDIR", QFile::encodeName(tmp.path()));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(tmp.path()));
    QtSingleApplication app(QStringLiteral("tst_guard %1").arg(::getpid()), argc, argv);
    TestGuard test(&app);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_guard.moc"
