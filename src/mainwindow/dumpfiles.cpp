#include "dumpfiles.h"
#include "nvramfile.h"
#include "systemreason.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What the group may do with every file a read leaves, whatever the umask.
constexpr mode_t groupMode = 0660;

QString fileKindRefusal(mode_t mode)
{
    if (S_ISLNK(mode))
        return QStringLiteral("is a symbolic link");
    if (!S_ISREG(mode))
        return QStringLiteral("is not a regular file");
    return QString();
}

// Writes all of bytes to fd; false with errno set when it cannot.
bool writeAll(int fd, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}

// Reads the whole regular file on fd; false with errno set when it cannot.
bool readAll(int fd, QByteArray &bytes)
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        bytes.append(buffer, n);
    }
}

QString ownerName(uid_t uid)
{
    const struct passwd *entry = ::getpwuid(uid);
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(uid);
}

// A name beside path, for a dead read's file that must not be lost:
// "X.nvr" + sExt becomes "X.<owner>-<when it was last written>.nvr" +
// sAsideExt, a file of a dump name that no read will choose by chance.
// Nothing is replaced; returns the new name, or empty with errno set.
QString moveAside(const QString &path, const QString &sExt, const QString &sAsideExt,
                  const struct stat &status)
{
    const QString sStem = path.chopped(sExt.size() + sNvramExt.size());
    const QString sAside = sStem + QLatin1Char('.') + ownerName(status.st_uid) + QLatin1Char('-')
            + QDateTime::fromSecsSinceEpoch(status.st_mtime)
                      .toString(QStringLiteral("yyyyMMdd-HHmmss"))
            + sNvramExt + sAsideExt;
    if (::renameat2(AT_FDCWD, QFile::encodeName(path).constData(), AT_FDCWD,
                    QFile::encodeName(sAside).constData(), RENAME_NOREPLACE)
        != 0)
        return QString();
    return sAside;
}

QString leftBy(const QString &path, const struct stat &status)
{
    return QStringLiteral("%1 was left by a read of %2 that no longer runs")
            .arg(path, ownerName(status.st_uid));
}

} // namespace

namespace DumpFiles {

QString refusal(const QString &path)
{
    struct stat status = {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return QString();
    return fileKindRefusal(status.st_mode);
}

PartOpening openPart(const QString &sPartPath)
{
    PartOpening part;
    const QByteArray name = QFile::encodeName(sPartPath);
    // Another read may move or remove the file between its opening here and
    // its lock, so the name is looked at again until it holds still.
    for (int round = 0; round < 4; ++round) {
        int fd = ::open(name.constData(),
                        O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0664);
        part.bCreated = fd >= 0;
        if (fd < 0 && errno == EEXIST) {
            fd = ::open(name.constData(),
                        O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            // Enough to see whether a read still holds it.
            if (fd < 0 && errno == EACCES)
                fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        }
        const int openError = errno;
        struct stat status = {};
        if (fd < 0 && openError == ENOENT)
            continue;
        part.bRefused = openError == ELOOP;
        if (fd < 0 && openError == ELOOP)
            part.sError = fileKindRefusal(S_IFLNK);
        // Closed even to the group: made before reads held a lock and
        // widened the mode, by a read that cannot be running any more.
        const bool bClosed = fd < 0 && openError == EACCES
                && ::lstat(name.constData(), &status) == 0 && S_ISREG(status.st_mode)
                && status.st_uid != ::geteuid();
        if (fd < 0 && !bClosed) {
            if (part.sError.isEmpty())
                part.sError = systemReason(openError);
            return part;
        }
        if (fd >= 0 && ::fstat(fd, &status) != 0) {
            part.sError = systemReason(errno);
            ::close(fd);
            return part;
        }
        part.bRefused = true;
        part.sError = fileKindRefusal(status.st_mode);
        if (part.sError.isEmpty() && status.st_nlink != 1)
            part.sError = QStringLiteral("has another name (a hard link)");
        // The lock dies with the read that holds it, however that ends.
        // One made just now may be held for an instant by another read that
        // looks whether it is dead; nothing else holds it.
        if (part.sError.isEmpty() && fd >= 0
            && ::flock(fd, part.bCreated ? LOCK_EX : LOCK_EX | LOCK_NB) != 0) {
            part.sError = errno == EWOULDBLOCK
                    ? QStringLiteral("belongs to a read of that name by %1 that is running now")
                              .arg(ownerName(status.st_uid))
                    : systemReason(errno);
            part.sAdvice = QStringLiteral("Wait until that read ends, or read under another name.");
        }
        if (!part.sError.isEmpty()) {
            if (fd >= 0)
                ::close(fd);
            return part;
        }
        part.bRefused = false;
        // Moved or removed before the lock was taken: the name is free again.
        if (fd >= 0 && !namesFile(sPartPath, fd)) {
            ::close(fd);
            continue;
        }
        if (status.st_uid == ::geteuid()) {
            if (::fchmod(fd, 0664) != 0) {
                part.sError = systemReason(errno);
                ::close(fd);
                return part;
            }
            part.fd = fd;
            return part;
        }
        // Another user's dead read: its pages are nowhere else. An empty
        // file holds none.
        const bool bEmpty = status.st_size == 0;
        if (!bEmpty)
            part.sAside = moveAside(sPartPath, sPartExt, sPartExt, status);
        const bool bGone = bEmpty ? ::unlink(name.constData()) == 0 : !part.sAside.isEmpty();
        const int moveError = errno;
        if (fd >= 0)
            ::close(fd);
        part.sAsideOwner = ownerName(status.st_uid);
        if (!bGone) {
            part.bRefused = true;
            part.sError = QStringLiteral("was left by a read of %1 that no longer runs, and could "
                                         "not be moved out of the way: %2")
                                  .arg(part.sAsideOwner, systemReason(moveError));
            part.sAdvice = QStringLiteral("Ask %1 or an administrator to remove it, or read under "
                                          "another name.")
                                   .arg(part.sAsideOwner);
            return part;
        }
    }
    part.sError = QStringLiteral("another read keeps replacing it");
    return part;
}

bool namesFile(const QString &path, int fd)
{
    struct stat named = {};
    struct stat open = {};
    return ::lstat(QFile::encodeName(path).constData(), &named) == 0 && ::fstat(fd, &open) == 0
            && named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

QString keepBackup(const QString &sDumpPath, const QString &sBackupPath)
{
    const QByteArray dumpName = QFile::encodeName(sDumpPath);
    const QByteArray newName = QFile::encodeName(sBackupPath + sNewBackupExt);
    struct stat status = {};
    const int source = ::open(dumpName.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (source < 0 && errno == ENOENT)
        return QString();
    // A dump closed to this user, made before every dump was the group's,
    // is kept by its rename: that needs only the directory.
    if (source < 0 && errno == EACCES)
        return std::rename(dumpName.constData(), QFile::encodeName(sBackupPath).constData()) == 0
                ? QString()
                : systemReason(errno);
    if (source < 0)
        return errno == ELOOP ? sDumpPath + QLatin1Char(' ') + fileKindRefusal(S_IFLNK)
                              : systemReason(errno);
    QByteArray bytes;
    QString sError;
    if (::fstat(source, &status) != 0)
        sError = systemReason(errno);
    else if (!S_ISREG(status.st_mode))
        sError = sDumpPath + QLatin1Char(' ') + fileKindRefusal(status.st_mode);
    else if (!readAll(source, bytes))
        sError = systemReason(errno);
    ::close(source);
    if (!sError.isEmpty())
        return sError;

    // The copy has a name only for the instant before it replaces the
    // backup. Whoever holds the .part's lock knows that the read which left
    // such a name is dead: a copy of this very dump is removed, anything
    // else moved aside.
    struct stat left = {};
    if (::lstat(newName.constData(), &left) == 0) {
        QByteArray leftBytes;
        const int leftFd =
                ::open(newName.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        const bool bSame = leftFd >= 0 && S_ISREG(left.st_mode) && readAll(leftFd, leftBytes)
                && leftBytes == bytes;
        if (leftFd >= 0)
            ::close(leftFd);
        const QString sNewPath = sBackupPath + sNewBackupExt;
        if (bSame ? ::unlink(newName.constData()) != 0
                  : moveAside(sNewPath, sBackupExt + sNewBackupExt, sBackupExt, left).isEmpty())
            return leftBy(sNewPath, left) + QStringLiteral(", and it could not be ")
                    + (bSame ? QStringLiteral("removed: ") : QStringLiteral("moved aside: "))
                    + systemReason(errno);
    }

    // In the same directory, so that the rename is one step. A file system
    // without unnamed files gets the copy under the new name from the start.
    int copy = ::open(QFile::encodeName(QFileInfo(sBackupPath).path()).constData(),
                      O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    const bool bUnnamed = copy >= 0;
    if (!bUnnamed && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL))
        copy = ::open(newName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      0600);
    if (copy < 0)
        return systemReason(errno);
    // The dump's mode, and the group's whatever it was.
    const bool bWritten = ::fchmod(copy, (status.st_mode & 0666) | groupMode) == 0
            && writeAll(copy, bytes) && ::fsync(copy) == 0
            && (!bUnnamed
                || ::linkat(AT_FDCWD, ("/proc/self/fd/" + QByteArray::number(copy)).constData(),
                            AT_FDCWD, newName.constData(), AT_SYMLINK_FOLLOW)
                        == 0);
    const int writeError = errno;
    ::close(copy);
    if (!bWritten) {
        if (!bUnnamed)
            ::unlink(newName.constData());
        return systemReason(writeError);
    }
    if (::rename(newName.constData(), QFile::encodeName(sBackupPath).constData()) != 0) {
        const int renameError = errno;
        ::unlink(newName.constData());
        return systemReason(renameError);
    }
    return QString();
}

} // namespace DumpFiles
