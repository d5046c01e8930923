#ifndef NVRAMLINES_H
#define NVRAMLINES_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// A line of a .nvr file as the write sees it: either sent, with its
// commands, or skipped, with the reason. Blank lines and the header are left
// out, but a header that looks like a page line is listed as skipped.
struct NvramFileLine
{
    int iNumber = 0;        // the header is line 1
    bool bPageLine = false; // two fields or more, sendable or not
    QString sPage;          // the fields as they stand in the file
    QString sValue;
    std::optional<QString> description; // none: the board keeps its own
    QStringList commands;               // in the order they go out; empty when skipped
    QString sSkipReason;                // empty when the line is sent
    QString sNote;                      // said of a line that is sent all the same
};

// Cuts a file's bytes into its lines, in file order, by the write's rules.
QList<NvramFileLine> readNvramFileLines(const QByteArray &bytes);

// Four or five upper-case hex digits, and five only from page 10000 on.
bool isPageField(const QString &sField);

#endif // NVRAMLINES_H
