#ifndef NVRAMLINES_H
#define NVRAMLINES_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// A line of a .nvr file as the write sees it: sent whole, sent in part (the
// value without the description), or skipped, with the reason. Blank lines
// and the header are left out, but a header that looks like a page line is
// listed as skipped.
struct NvramFileLine
{
    int iNumber = 0; // the header is line 1
    QString sPage;   // the fields as they stand in the file
    QString sValue;
    std::optional<QString> description; // none: the board keeps its own
    QStringList commands;               // in the order they go out; empty when skipped
    QString sSkipReason;                // empty when the line is sent
    QString sNote;                      // why a line that is sent is sent only in part
};

// Cuts a file's bytes into its lines, in file order, by the write's rules.
QList<NvramFileLine> readNvramFileLines(const QByteArray &bytes);

// A page number as a read writes it: four upper-case hex digits, five only
// from page 10000 on.
bool isPageField(const QString &sField);

// Which file a path led to, and in what state: a file put in its place, or
// changed, has another stamp.
struct FileStamp
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    bool operator==(const FileStamp &other) const;
    bool operator!=(const FileStamp &other) const { return !(*this == other); }
};

// None when the file cannot be looked at.
std::optional<FileStamp> fileStamp(const QString &path);
std::optional<FileStamp> fileStamp(int descriptor);

#endif // NVRAMLINES_H
