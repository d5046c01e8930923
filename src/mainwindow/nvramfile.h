#ifndef NVRAMFILE_H
#define NVRAMFILE_H

#include <QString>
#include <QStringList>

// The .nvr dump file: a header line, then "page | value | description" per page.
// The dump directory is defined apart from the library (nvramdir.cpp), so
// that the tests can link a private one in its place.
extern const QString sNvramDir;
extern const QString sNvramExt;
extern const QString sFieldSeparator;
// A read writes here first and renames it to the dump only when complete.
extern const QString sPartExt;
// A complete read keeps the dump it replaces under this suffix, one generation.
extern const QString sBackupExt;
// The new backup's name for the instant before it replaces the old one.
extern const QString sNewBackupExt;

QString nvramHeaderLine();

// A typed dump name must stay a plain file name inside the NVRAM directory,
// short enough for its side files.
bool isUsableDumpName(const QString &sName);
int maxDumpNameBytes();

// Cuts one line of a dump file into its fields: " | " folds to "|", every "|"
// splits, empty fields are kept and nothing is trimmed.
QStringList splitNvramLine(const QString &sLine);

#endif // NVRAMFILE_H
