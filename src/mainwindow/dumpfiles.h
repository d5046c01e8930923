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

// Opens the .part for appending without following a link: created new, or
// an earlier one that is a plain file of this user with no other name.
// Returns the descriptor, or -1 with sError set: the system's reason, or,
// with bRefused set, why the file there is not used ("belongs to another
// user, ...", also when it cannot be opened).
int openPart(const QString &sPartPath, QString &sError, bool &bRefused);

// Whether path still names the file open on fd.
bool namesFile(const QString &path, int fd);

// Copies the dump at sDumpPath, not following a link, to a new file in the
// same directory, synced, and renames that over sBackupPath: an older
// backup is replaced only by a whole new one. The copy is named only for
// the instant before that rename (sBackupPath + ".new"); such a name that a
// killed read of this user left is removed first. No dump, nothing to keep.
// Returns the reason for a failure, or empty.
QString keepBackup(const QString &sDumpPath, const QString &sBackupPath);

} // namespace DumpFiles

#endif // DUMPFILES_H
