// The primary's message receiver fed arbitrary bytes by a local client that
// then hangs up, so no input waits for the receiver's time-outs. The
// receiver must end every connection with exactly one outcome: the message
// relayed as sent (cut where the sender stopped), or a warning.

#include "qtlocalpeer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QtEndian>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

static QtLocalPeer *peer;
static QString socketPath;
static int messages;
static int warnings;
static QString lastMessage;

static void countWarnings(QtMsgType type, const QMessageLogContext &, const QString &)
{
    if (type == QtWarningMsg)
        ++warnings;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char dir[] = "/tmp/fuzz-localpeer-XXXXXX";
    if (!mkdtemp(dir))
        std::abort();
    qputenv("TMPDIR", dir);
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = { name, nullptr };
    new QCoreApplication(argc, argv);
    peer = new QtLocalPeer(nullptr, QStringLiteral("fuzz-localpeer"));
    if (peer->isSecondInstance())
        std::abort();
    socketPath = QDir::tempPath() + QLatin1Char('/') + peer->socketName();
    QObject::connect(peer, &QtLocalPeer::messageReceived, [](const QString &message) {
        ++messages;
        lastMessage = message;
    });
    qInstallMessageHandler(countWarnings);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(socketPath);
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        std::abort();
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            std::abort();
        done += size_t(n);
    }
    ::close(fd);

    messages = 0;
    warnings = 0;
    QDeadlineTimer deadline(5000);
    while (messages + warnings == 0) {
        if (deadline.hasExpired()) {
            std::fprintf(stderr, "the receiver did not finish a closed connection in 5 s\n");
            std::abort();
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }

    bool ok = messages + warnings == 1;
    if (size >= 4) {
        const quint32 announced = qFromBigEndian<quint32>(data);
        if (announced > QtLocalPeer::MaxMessageLength) {
            ok = ok && messages == 0;
        } else {
            const size_t sent = qMin<size_t>(announced, size - 4);
            const QString expected =
                    QString::fromUtf8(reinterpret_cast<const char *>(data) + 4, qsizetype(sent));
            ok = ok && messages == 1 && lastMessage == expected;
        }
    } else {
        ok = ok && messages == 0;
    }
    if (!ok) {
        std::fprintf(stderr, "%d messages, %d warnings for %zu bytes\n", messages, warnings, size);
        std::abort();
    }
    return 0;
}
