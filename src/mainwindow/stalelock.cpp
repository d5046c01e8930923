#include "stalelock.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

QString staleLockText(const QString &sPortName)
{
    const QString sFile = QStringLiteral("LCK..")
            + QString(sPortName).replace(QLatin1Char('/'), QLatin1Char('_'));
    // Where serial port locks are kept; the first that holds one counts.
    for (const char *dir : { "/var/lock", "/run/lock", "/tmp" }) {
        const QString sPath = QString::fromLatin1(dir) + QLatin1Char('/') + sFile;
        struct stat lock = {};
        struct stat parent = {};
        if (::lstat(QFile::encodeName(sPath).constData(), &lock) != 0 || !S_ISREG(lock.st_mode)
            || ::stat(dir, &parent) != 0)
            continue;
        // Its first line is the holder's process id.
        QFile file(sPath);
        const long pid = file.open(QIODevice::ReadOnly) ? file.readLine().trimmed().toLong() : 0;
        const bool bHolderRuns = pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
        const bool bRemovable = ::access(dir, W_OK | X_OK) == 0
                && (!(parent.st_mode & S_ISVTX) || lock.st_uid == ::geteuid()
                    || parent.st_uid == ::geteuid());
        if (bHolderRuns || bRemovable)
            return QString();
        const struct passwd *owner = ::getpwuid(lock.st_uid);
        return QStringLiteral("Its lock file %1 was left by %2, whose program no longer runs: ask "
                              "an administrator to remove %1.")
                .arg(QFileInfo(sPath).canonicalFilePath(),
                     owner ? QString::fromLocal8Bit(owner->pw_name) : QString::number(lock.st_uid));
    }
    return QString();
}
