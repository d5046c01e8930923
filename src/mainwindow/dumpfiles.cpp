#include "dumpfiles.h"
#include "nvramfile.h"
#include "systemreason.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString sAnotherUsers =
        QStringLiteral("belongs to another user, whose read of that name may be running");

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

} // namespace

namespace DumpFiles {

QString refusal(const QString &path)
{
    struct stat status = {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return QString();
    return fileKindRefusal(status.st_mode);
}

int openPart(const QString &sPartPath, QString &sError, bool &bRefused)
{
    bRefused = false;
    const QByteArray name = QFile::encodeName(sPartPath);
    int fd = ::open(name.constData(),
                    O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0)
        return fd;
    if (errno == EEXIST)
        fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat status = {};
    if (fd < 0) {
        // Another user's .part may be closed to this one by its mode; it is
        // theirs all the same, whatever the system says.
        const int openError = errno;
        bRefused = openError == ELOOP
                || (::lstat(name.constData(), &status) == 0 && status.st_uid != ::geteuid());
        sError = openError == ELOOP ? fileKindRefusal(S_IFLNK)
                : bRefused          ? sAnotherUsers
                                    : systemReason(openError);
        return -1;
    }
    if (::fstat(fd, &status) != 0) {
        sError = systemReason(errno);
        ::close(fd);
        return -1;
    }
    bRefused = true;
    sError = fileKindRefusal(status.st_mode);
    if (sError.isEmpty() && status.st_uid != ::geteuid())
        sError = sAnotherUsers;
    if (sError.isEmpty() && status.st_nlink != 1)
        sError = QStringLiteral("has another name (a hard link)");
    if (sError.isEmpty())
        return fd;
    ::close(fd);
    return -1;
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
    // The copy has no name until it is whole, and this one only for the
    // instant before it replaces the backup. A read killed in that instant
    // leaves it behind; the next complete read of the dump removes it.
    const QByteArray newName = QFile::encodeName(sBackupPath + sNewBackupExt);
    struct stat status = {};
    if (::lstat(newName.constData(), &status) == 0 && S_ISREG(status.st_mode)
        && status.st_uid == ::geteuid())
        ::unlink(newName.constData());

    const int source = ::open(QFile::encodeName(sDumpPath).constData(),
                              O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (source < 0 && errno == ENOENT)
        return QString();
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
    // No more readable than the dump it keeps.
    const bool bWritten = ::fchmod(copy, status.st_mode & 0666) == 0 && writeAll(copy, bytes)
            && ::fsync(copy) == 0
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
