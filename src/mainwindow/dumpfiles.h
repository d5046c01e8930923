#ifndef DUMPFILES_H
#define DUMPFILES_H

#include <QString>

// The read's files in the dump directory. Every technician of the machine
// may create, rename and delete entries there, so nothing in it is followed
// through a link, and nothing is written into that this user did not make.
namespace DumpFiles {

// Why a read must not touch path: "is a symbolic link", "is not a regular
// file"; empty when it is a plain file or absent.
QString refusal(const QString &path);

// The .part of a read, opened for appending without following a link and
// locked for as long as fd stays open: the lock tells a running read from
// a dead one. Created new, or an earlier one of this user's dead read, a
// plain file with no other name. Another user's dead read's .part is moved
// aside first (sAside, sAsideOwner), never emptied.
struct PartOpening
{
    int fd = -1;
    bool bCreated = false;
    // Set with sError when the file there is not used (a running read's, a
    // link, ...); otherwise sError is the system's reason.
    bool bRefused = false;
    QString sError;
    QString sAdvice; // what to do about a refusal, when not the usual
    QString sAside;
    QString sAsideOwner;
};
PartOpening openPart(const QString &sPartPath);

// Whether path still names the file open on fd.
bool namesFile(const QString &path, int fd);

// Copies the dump at sDumpPath, not following a link, to a new file in the
// same directory, synced, and renames that over sBackupPath: an older
// backup is replaced only by a whole new one. The copy is named only for
// the instant before that rename (sBackupPath + ".new"); such a name that a
// dead read of any user left is removed first when it holds this dump,
// else moved aside. A dump this user may not read is renamed to the backup
// instead. No dump, nothing to keep. The caller holds the .part's lock.
// Returns the reason for a failure, or empty.
QString keepBackup(const QString &sDumpPath, const QString &sBackupPath);

} // namespace DumpFiles

#endif // DUMPFILES_H
