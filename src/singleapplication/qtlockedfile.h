#ifndef QTLOCKEDFILE_H
#define QTLOCKEDFILE_H

#include <QFile>

namespace QtLP_Private {

// A QFile with POSIX advisory record locks over the whole file.
class QtLockedFile : public QFile
{
public:
    enum LockKind { Unlocked = 0, SharedLock = 1, ExclusiveLock = 2 };

    QtLockedFile();
    explicit QtLockedFile(const QString &name);
    ~QtLockedFile() override;

    bool open(OpenMode mode) override;

    bool lock(LockKind kind, bool wait = true);
    bool unlock();
    bool hasLock() const;
    LockKind currentLock() const;

private:
    qint32 m_lockKind = Unlocked;
};

} // namespace QtLP_Private

#endif // QTLOCKEDFILE_H
