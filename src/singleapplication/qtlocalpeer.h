#ifndef QTLOCALPEER_H
#define QTLOCALPEER_H

#include "qtlockedfile.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class QLocalServer;

// Holds the per-user instance lock, listens in the primary instance and
// talks to the primary from a secondary one.
class QtLocalPeer : public QObject
{
    Q_OBJECT

public:
    explicit QtLocalPeer(QObject *parent = nullptr, const QString &appId = QString());

    bool isSecondInstance();
    bool sendMessage(const QString &message, int timeout);
    QString applicationId() const { return id; }
    // The socket's path, in $XDG_RUNTIME_DIR where it is set, else in the
    // temporary directory; the lock file's is the same with "-lockfile".
    QString socketName() const { return socketNameText; }
    // "qtsingleapp-", the id's first six letters, its CRC-16 and the user id,
    // both in hex; an empty id stands for the executable's path.
    static QString socketNameFor(const QString &appId, uint uid);

    // Longest message the primary accepts; a longer announcement is dropped.
    static constexpr quint32 MaxMessageLength = 1024 * 1024;

signals:
    void messageReceived(const QString &message);

protected slots:
    void receiveConnection();

private:
    QString id;
    QString socketNameText;
    QLocalServer *server = nullptr;
    QtLP_Private::QtLockedFile lockFile;
    static const char *ack;
};

#endif // QTLOCALPEER_H
