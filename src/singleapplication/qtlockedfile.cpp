#include "qtlockedfile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace QtLP_Private {

QtLockedFile::QtLockedFile() = default;

QtLockedFile::QtLockedFile(const QString &name) : QFile(name)
{
}

QtLockedFile::~QtLockedFile()
{
    if (isOpen())
        unlock();
}

bool QtLockedFile::open(OpenMode mode)
{
    // Truncating would wipe a file that another process may hold locked.
    if (mode & QIODevice::Truncate) {
        qWarning("QtLockedFile::open(): Truncate mode not allowed.");
        return false;
    }
    return QFile::open(mode);
}

bool QtLockedFile::lock(LockKind kind, bool wait)
{
    if (!isOpen()) {
        qWarning("QtLockedFile::lock(): file is not opened");
        return false;
    }

    if (kind == Unlocked)
        return unlock();

    if (kind == m_lockKind)
        return true;

    // fcntl cannot convert a lock atomically here; the old one goes first.
    if (m_lockKind != Unlocked)
        unlock();

    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0; // to the end of the file, however far it grows
    fl.l_type = (kind == SharedLock) ? F_RDLCK : F_WRLCK;
    const int cmd = wait ? F_SETLKW : F_SETLK;
    if (::fcntl(handle(), cmd, &fl) == -1) {
        // EAGAIN is the ordinary "someone else holds it" answer of F_SETLK.
        if (errno != EINTR && errno != EAGAIN)
            qWarning("QtLockedFile::lock(): fcntl: %s", std::strerror(errno));
        return false;
    }

    m_lockKind = kind;
    return true;
}

bool QtLockedFile::unlock()
{
    if (!isOpen()) {
        qWarning("QtLockedFile::unlock(): file is not opened");
        return false;
    }

    if (!hasLock())
        return true;

    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    fl.l_type = F_UNLCK;
    if (::fcntl(handle(), F_SETLKW, &fl) == -1) {
        qWarning("QtLockedFile::lock(): fcntl: %s", std::strerror(errno));
        return false;
    }

    m_lockKind = Unlocked;
    return true;
}

bool QtLockedFile::hasLock() const
{
    return m_lockKind != Unlocked;
}

QtLockedFile::LockKind QtLockedFile::currentLock() const
{
    return LockKind(m_lockKind);
}

} // namespace QtLP_Private
