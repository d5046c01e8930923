#ifndef LOCKHOLDER_H
#define LOCKHOLDER_H

#include <QProcess>
#include <QString>
#include <QStringList>

// Another process holding a lock on a file, through the lock helper.
class LockHolder
{
public:
    ~LockHolder() { release(); }

    // True once the helper reports that it holds the lock.
    bool hold(const QString &kind, const QString &path)
    {
        proc.start(QStringLiteral(LOCK_HELPER_PATH), { QStringLiteral("hold"), kind, path });
        if (!proc.waitForStarted(5000))
            return false;
        while (!proc.canReadLine()) {
            if (!proc.waitForReadyRead(5000))
                return false;
        }
        return proc.readLine().trimmed() == "locked";
    }

    // The helper drops its lock and exits when its stdin closes.
    void release()
    {
        if (proc.state() == QProcess::NotRunning)
            return;
        proc.closeWriteChannel();
        proc.waitForFinished(5000);
    }

    QProcess proc;
};

// Whether a fresh process can take the lock right now, without waiting.
inline bool otherProcessCanLock(const QString &kind, const QString &path)
{
    QProcess p;
    p.start(QStringLiteral(LOCK_HELPER_PATH), { QStringLiteral("try"), kind, path });
    return p.waitForFinished(5000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

#endif // LOCKHOLDER_H
