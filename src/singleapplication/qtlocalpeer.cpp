#include "qtlocalpeer.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>

#include <ctime>
#include <unistd.h>

const char *QtLocalPeer::ack = "ack";

namespace {

// Longest a peer may take to announce its message length, in total.
constexpr int LengthWaitMs = 30000;
// Pause after each chunk of message bytes before the sender counts as stopped.
constexpr int BodyWaitMs = 2000;
constexpr int AckWaitMs = 1000;
constexpr long RetryPauseNs = 250L * 1000 * 1000;

} // namespace

QString QtLocalPeer::socketNameFor(const QString &appId, uint uid)
{
    QString id = appId;
    QString prefix = appId;
    if (id.isEmpty()) {
        id = QCoreApplication::applicationFilePath();
        prefix = id.section(QLatin1Char('/'), -1);
    }
    prefix.remove(QRegularExpression(QStringLiteral("[^a-zA-Z]")));
    prefix.truncate(6);

    const QByteArray idBytes = id.toUtf8();
    const quint16 idNum = qChecksum(QByteArrayView(idBytes), Qt::ChecksumIso3309);
    // Per user, so that two accounts on one machine each get their own instance.
    return QLatin1String("qtsingleapp-") + prefix + QLatin1Char('-') + QString::number(idNum, 16)
            + QLatin1Char('-') + QString::number(uid, 16);
}

QtLocalPeer::QtLocalPeer(QObject *parent, const QString &appId)
    : QObject(parent),
      id(appId.isEmpty() ? QCoreApplication::applicationFilePath() : appId),
      socketNameText(socketNameFor(appId, ::getuid()))
{
    server = new QLocalServer(this);

    const QString lockName = QDir(QDir::tempPath()).absolutePath() + QLatin1Char('/')
            + socketNameText + QLatin1String("-lockfile");
    lockFile.setFileName(lockName);
    // A failure shows up in isSecondInstance(), where the lock cannot be taken.
    lockFile.open(QIODevice::ReadWrite);
}

bool QtLocalPeer::isSecondInstance()
{
    if (lockFile.hasLock())
        return false;

    if (!lockFile.lock(QtLP_Private::QtLockedFile::ExclusiveLock, false))
        return true;

    bool listening = server->listen(socketNameText);
    if (!listening && server->serverError() == QAbstractSocket::AddressInUseError) {
        // We hold the lock, so the socket file is a leftover of a primary that died.
        QFile::remove(QDir::cleanPath(QDir::tempPath()) + QLatin1Char('/') + socketNameText);
        listening = server->listen(socketNameText);
    }
    if (!listening)
        qWarning("QtSingleCoreApplication: listen on local socket failed, %s",
                 qPrintable(server->errorString()));

    connect(server, SIGNAL(newConnection()), SLOT(receiveConnection()));
    return false;
}

bool QtLocalPeer::sendMessage(const QString &message, int timeout)
{
    if (!isSecondInstance())
        return false;

    QLocalSocket socket;
    bool connected = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        socket.connectToServer(socketNameText, QIODevice::ReadWrite);
        connected = socket.waitForConnected(timeout / 2);
        if (connected || attempt == 1)
            break;
        // The primary may be between taking the lock and listening.
        struct timespec pause = { 0, RetryPauseNs };
        ::nanosleep(&pause, nullptr);
    }
    if (!connected)
        return false;

    const QByteArray bytes = message.toUtf8();
    QDataStream ds(&socket);
    ds.writeBytes(bytes.constData(), uint(bytes.size()));
    if (!socket.waitForBytesWritten(timeout))
        return false;
    if (!socket.waitForReadyRead(timeout))
        return false;
    return socket.read(qstrlen(ack)) == ack;
}

void QtLocalPeer::receiveConnection()
{
    QLocalSocket *socket = server->nextPendingConnection();
    if (!socket)
        return;

    // One budget for the whole length, so a silent peer cannot hold the
    // event loop for longer than that.
    QDeadlineTimer lengthDeadline(LengthWaitMs);
    for (;;) {
        if (socket->state() == QLocalSocket::UnconnectedState) {
            qWarning("QtLocalPeer: Peer disconnected");
            delete socket;
            return;
        }
        if (socket->bytesAvailable() >= qint64(sizeof(quint32)))
            break;
        if (lengthDeadline.hasExpired()
            || (!socket->waitForReadyRead(int(lengthDeadline.remainingTime()))
                && socket->state() != QLocalSocket::UnconnectedState)) {
            qWarning("QtLocalPeer: Message reception failed %s",
                     socket->errorString().toLatin1().constData());
            delete socket;
            return;
        }
    }

    QDataStream ds(socket);
    quint32 remaining = 0;
    ds >> remaining;
    if (remaining > MaxMessageLength) {
        // Refused before allocating, so a stray peer cannot make us reserve 4 GiB.
        qWarning("QtLocalPeer: Message of %u bytes refused, the limit is %u bytes", remaining,
                 MaxMessageLength);
        delete socket;
        return;
    }

    QByteArray bytes(int(remaining), Qt::Uninitialized);
    int got = 0;
    bool readFailed = false;
    while (got < bytes.size()) {
        const int n = ds.readRawData(bytes.data() + got, bytes.size() - got);
        if (n < 0) {
            readFailed = true;
            break;
        }
        got += n;
        if (got < bytes.size() && socket->bytesAvailable() == 0
            && !socket->waitForReadyRead(BodyWaitMs) && socket->bytesAvailable() == 0)
            break;
    }
    if (readFailed) {
        qWarning("QtLocalPeer: Message reception failed %s",
                 socket->errorString().toLatin1().constData());
        delete socket;
        return;
    }
    // A sender that stopped early gets what it managed to send, nothing padded.
    bytes.truncate(got);

    const QString message = QString::fromUtf8(bytes);
    // A sender that already hung up gets no answer; its message still counts.
    if (socket->state() == QLocalSocket::ConnectedState) {
        socket->write(ack, qstrlen(ack));
        socket->waitForBytesWritten(AckWaitMs);
    }
    if (socket->state() != QLocalSocket::UnconnectedState)
        socket->waitForDisconnected(AckWaitMs);
    delete socket;

    emit messageReceived(message);
}
