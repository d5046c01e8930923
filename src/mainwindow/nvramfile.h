#ifndef NVRAMFILE_H
#define NVRAMFILE_H

#include <QString>
#include <QStringList>

// The .nvr dump file: a header line, then "page | value | description" per page.
extern const QString sNvramDir;
extern const QString sNvramExt;
extern const QString sFieldSeparator;

QString nvramHeaderLine();

// Cuts one line of a dump file into its fields: " | " folds to "|", every "|"
// splits, empty fields are kept and nothing is trimmed.
QStringList splitNvramLine(const QString &sLine);

#endif // NVRAMFILE_H
