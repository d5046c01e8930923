#ifndef INSTANCEPROBES_H
#define INSTANCEPROBES_H

#include <QByteArray>
#include <QFile>
#include <QLocalSocket>
#include <QString>
#include <QtEndian>

// Probes of a running tool from outside and the channel's framing, shared by
// the guard and instance tests and the benchmark.

// A message as the guard's channel carries it: a big-endian length, then
// the bytes. The length may be given to lie about them.
inline QByteArray framed(const QByteArray &payload, quint32 length = ~0u)
{
    QByteArray out(4, '\0');
    qToBigEndian(length == ~0u ? quint32(payload.size()) : length, out.data());
    return out + payload;
}

// Hands the primary an empty message, as any later start could; true when
// "ack" comes back.
inline bool primaryAnswers(const QString &socketPath, int replyTimeoutMs = 3000)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(1000))
        return false;
    socket.write(framed(QByteArray()));
    QByteArray reply;
    while (reply.size() < 3 && socket.waitForReadyRead(replyTimeoutMs))
        reply += socket.readAll();
    return reply == "ack";
}

// Resident set of a process in KiB, from /proc: "VmHWM:" its peak, "VmRSS:" now; -1 if unknown.
inline qint64 residentKiB(qint64 pid, const char *field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

#endif // INSTANCEPROBES_H
