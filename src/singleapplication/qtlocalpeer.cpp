#include "qtlocalpeer.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
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

namespace {

// Where the lock and the socket live: the user's own runtime directory,
// where nobody else can put a file in their way; else the shared temporary
// directory.
QString instanceDir()
{
    const QString sRuntime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(sRuntime) && QFileInfo(sRuntime).isDir())
        return QDir::cleanPath(sRuntime);
    return QDir::cleanPath(QDir::tempPath());
}

} // namespace

QtLocalPeer::QtLocalPeer(QObject *parent, const QString &appId)
    : QObject(parent),
      id(appId.isEmpty() ? QCoreApplication::applicationFilePath() : appId),
      socketNameText(instanceDir() + QLatin1Char('/') + socketNameFor(appId, ::getuid()))
{
    server = new QLocalServer(this);

    const QString lockName = socketNameText + QLatin1String("-lockfile");
    lockFile.setFileName(lockName);
    // Only a plain file of this user's own is this user's lock: anyone may
    // put a file of that name in a shared directory, and a file others can
    // read, they can lock.
    struct stat named = {};
    struct stat opened = {};
    const QByteArray path = QFile::encodeName(lockName);
    const bool bLink = ::lstat(path.constData(), &named) == 0 && S_ISLNK(named.st_mode);
    if (!bLink && lockFile.open(QIODevice::ReadWrite) && ::fstat(lockFile.handle(), &opened) == 0
        && S_ISREG(opened.st_mode) && opened.st_uid == ::geteuid()
        && ::fchmod(lockFile.handle(), 0600) == 0)
        return;
    const QString sWhy = bLink             ? QStringLiteral("is a symbolic link")
            : !lockFile.isOpen()           ? lockFile.errorString()
            : !S_ISREG(opened.st_mode)     ? QStringLiteral("is not a regular file")
            : opened.st_uid != ::geteuid() ? QStringLiteral("belongs to another user")
                                           : QString::fromLocal8Bit(std::strerror(errno));
    lockFile.close();
    qWarning("%s",
             qPrintable(QStringLiteral("Another copy of this program for this user is not "
                                       "looked for: its lock file %1 %2. Starting all the "
                                       "same. Remove that file, or ask an administrator "
                                       "to.")
                                .arg(lockName, sWhy)));
}

bool QtLocalPeer::isSecondInstance()
{
    // Without a lock of its own this copy cannot tell; it runs rather than
    // leave its user without a window.
    if (lockFile.hasLock() || !lockFile.isOpen())
        return false;

    if (!lockFile.lock(QtLP_Private::QtLockedFile::ExclusiveLock, false))
        return true;

    bool listening = server->listen(socketNameText);
    if (!listening && server->serverError() == QAbstractSocket::AddressInUseError) {
        // We hold the lock, so the socket file is a leftover of a primary that died.
        QFile::remove(socketNameText);
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
