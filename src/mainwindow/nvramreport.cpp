#include "nvramreport.h"
#include "nvramfile.h"

#include <QStringList>

namespace {

// A warning lists this many places by name and counts the rest.
constexpr int iListedNotes = 5;

QString plural(qint64 count, const char *singular, const char *several)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? singular : several));
}

} // namespace

void NvramReport::note(const QString &sWhere, const QString &sReason)
{
    m_notes.append({ sWhere, sReason });
}

void NvramReport::stopAt(const QString &sPage, const QString &sReason)
{
    m_stopPage = sPage;
    m_stopReason = sReason;
}

QString NvramReport::details() const
{
    QStringList lines;
    for (const Note &note : m_notes)
        lines << note.sWhere + QStringLiteral(": ") + note.sReason;
    return lines.join(QLatin1Char('\n'));
}

QString NvramReport::listedNotes() const
{
    QStringList listed;
    for (qsizetype i = 0; i < m_notes.size() && i < iListedNotes; ++i)
        listed << m_notes.at(i).sWhere + QStringLiteral(": ") + m_notes.at(i).sReason;
    QString sText = listed.join(QStringLiteral("; "));
    if (m_notes.size() > iListedNotes)
        sText += QStringLiteral("; and %1 more").arg(m_notes.size() - iListedNotes);
    return sText + QLatin1Char('.');
}

namespace {

QString dumpUnchangedText(const QString &sDumpPath, bool bDumpExisted)
{
    return bDumpExisted ? QStringLiteral("The existing %1 was not changed.").arg(sDumpPath)
                        : QStringLiteral("No %1 was written.").arg(sDumpPath);
}

// Said when the .part no longer names the file this read wrote: the
// file under that name now is someone else's, never this read's pages.
QString lostText(const QString &sPartPath)
{
    return QStringLiteral(", but someone else removed or replaced %1 meanwhile, so the pages read "
                          "are lost. ")
            .arg(sPartPath);
}

} // namespace

QString NvramReport::readStoppedText(const QString &sDumpPath, const QString &sPartPath,
                                     bool bDumpExisted, bool bPartExists, bool bPartIntact) const
{
    QString sText = QStringLiteral("Error: The NVRAM read stopped at page %1: %2. ")
                            .arg(m_stopPage, m_stopReason);
    if (iPagesRead == 0 && bWriteFailed)
        sText += QStringLiteral("Page 0 was read but could not be written, so nothing was "
                                "kept. ");
    else if (iPagesRead == 0 && bPartExists)
        sText += QStringLiteral("No page was read; the existing %1 was not changed. ")
                         .arg(sPartPath);
    else if (iPagesRead == 0)
        sText += QStringLiteral("No page was read, so nothing was kept. ");
    else if (!bPartIntact)
        sText += plural(iPagesRead, "page was read", "pages were read") + lostText(sPartPath);
    else if (iPagesExpected == 0)
        sText += QStringLiteral("Page 0 is kept in %1, which is not offered for writing back. ")
                         .arg(sPartPath);
    else
        sText += QStringLiteral("%1 of %2 %3 read; they are kept in %4, which is not offered "
                                "for writing back. ")
                         .arg(iPagesRead)
                         .arg(iPagesExpected)
                         .arg(QLatin1String(iPagesRead == 1 ? "pages was" : "pages were"))
                         .arg(sPartPath);
    return sText + dumpUnchangedText(sDumpPath, bDumpExisted)
            + (bWriteFailed ? QStringLiteral(" Free space on the disk, then read again.")
                            : QStringLiteral(" Check the cable and the port, then read again."));
}

QString NvramReport::partLostText(const QString &sDumpPath, const QString &sPartPath,
                                  bool bDumpExisted)
{
    return QStringLiteral("Error: The NVRAM read got every page") + lostText(sPartPath)
            + dumpUnchangedText(sDumpPath, bDumpExisted)
            + QStringLiteral(" Read again, under another name if someone else uses this one.");
}

QString NvramReport::readNotesText(const QString &sDumpPath) const
{
    return QStringLiteral("Warning: The NVRAM dump %1 is complete, but %2 will not write back "
                          "unchanged: ")
                   .arg(sDumpPath, plural(m_notes.size(), "page", "pages"))
            + listedNotes() + QStringLiteral(" Check them by hand before writing this file back.");
}

QString NvramReport::badNameText(const QString &sName)
{
    return QStringLiteral("Error: \"%1\" cannot be used as a dump name. Nothing was read. Type a "
                          "name that is not empty, \".\" or \"..\", holds no \"/\" and no "
                          "control character, and takes at most %2 bytes.")
            .arg(sName)
            .arg(maxDumpNameBytes());
}

QString NvramReport::refusedText(const QString &sPath, const QString &sReason,
                                 const QString &sAdvice)
{
    return QStringLiteral("Error: %1 %2. Nothing was read. %3")
            .arg(sPath, sReason,
                 sAdvice.isEmpty() ? QStringLiteral("Look at it, then remove it or read under "
                                                    "another name.")
                                   : sAdvice);
}

QString NvramReport::movedAsideText(const QString &sPartPath, const QString &sOwner,
                                    const QString &sAside)
{
    return QStringLiteral("Note: %1 was left by a read of %2 that no longer runs; its pages "
                          "were moved to %3. Ask %2 whether they are still wanted.")
            .arg(sPartPath, sOwner, sAside);
}

QString NvramReport::cannotCreateText(const QString &sPath, const QString &sReason)
{
    return QStringLiteral("Error: Could not create %1: %2. Nothing was read. Make sure the dump "
                          "directory exists and you may write to it, then read again.")
            .arg(sPath, sReason);
}

QString NvramReport::cannotReplaceText(const QString &sDumpPath, const QString &sPartPath,
                                       const QString &sReason)
{
    return QStringLiteral("Error: The NVRAM dump is complete, but %1 could not be replaced: %2. "
                          "The dump is kept in %3. Fix the cause, then read again or rename "
                          "that file by hand.")
            .arg(sDumpPath, sReason, sPartPath);
}

// Each listed line or command is counted once, under what happened to it;
// what did not happen is not mentioned.
QString NvramReport::writeCounts() const
{
    QStringList counts;
    if (iLinesSkipped > 0)
        counts << plural(iLinesSkipped, "line was not sent", "lines were not sent");
    if (iLinesInPart > 0)
        counts << plural(iLinesInPart, "line was sent in part", "lines were sent in part");
    if (iUnanswered > 0)
        counts << plural(iUnanswered, "command got no complete reply",
                         "commands got no complete reply");
    const QString sLast = counts.isEmpty() ? QString() : counts.takeLast();
    return counts.isEmpty() ? sLast
                            : counts.join(QStringLiteral(", ")) + QStringLiteral(" and ") + sLast;
}

QString NvramReport::writeText(bool bLineSent) const
{
    return QStringLiteral("Error: %1, so %2: ")
                   .arg(writeCounts(),
                        bLineSent ? QStringLiteral("the board may not hold the file's values")
                                  : QStringLiteral("only the closing save (\"$A8%\") went to "
                                                   "the board"))
            + listedNotes() + QStringLiteral(" Fix the listed lines or the link, then send again.");
}

QString NvramReport::linkFailedText() const
{
    QString sText = QStringLiteral("Error: The link to the board failed at line %1, which may "
                                   "have reached the board in part; ")
                            .arg(iFailedLine);
    if (iLinesLost > 0)
        sText += plural(iLinesLost, "line after it was", "lines after it were")
                + QStringLiteral(" not sent, and the board");
    else
        sText += QStringLiteral("the board");
    sText += QStringLiteral(" was not told to save (\"$A8%\").");
    if (hasNotes())
        sText += QStringLiteral(" Before that, %1: ").arg(writeCounts()) + listedNotes();
    return sText + QStringLiteral(" Reconnect, then send the file again.");
}

void NvramReport::restartedAt(const QString &sWhat, const QString &sGreeting, bool bAtSave)
{
    m_restartWhat = sWhat;
    m_restartGreeting = sGreeting;
    m_bRestartAtSave = bAtSave;
}

// The write stops at a restart: the board has lost what it had not saved,
// and saving the rest of the file would leave it a mix of old and new.
QString NvramReport::restartedText() const
{
    QString sText = QStringLiteral("Error: The board restarted at %1: its greeting \"%2\" came in "
                                   "place of its answer. What it had not saved may be lost; ")
                            .arg(m_restartWhat, m_restartGreeting);
    if (iLinesLost != 0)
        sText += plural(iLinesLost, "line after it was", "lines after it were")
                + QStringLiteral(" not sent, and ");
    sText += m_bRestartAtSave ? QStringLiteral("its save may not have been done. ")
                              : QStringLiteral("the board was not told to save (\"$A8%\"). ");
    if (hasNotes())
        sText += QStringLiteral("Before that, %1: ").arg(writeCounts()) + listedNotes()
                + QLatin1Char(' ');
    return sText + QStringLiteral("Send the whole file again.");
}

QString NvramReport::noPageLineText(const QString &sPath)
{
    return QStringLiteral("Error: %1 holds no page line, so only the closing save (\"$A8%\") "
                          "was sent. Choose a file with page lines, then send again.")
            .arg(sPath);
}

QString NvramReport::cannotOpenText(const QString &sPath, const QString &sReason)
{
    return QStringLiteral("Error: Could not open %1: %2. Nothing was sent. Choose the file again.")
            .arg(sPath, sReason);
}

QString NvramReport::changedText(const QString &sPath)
{
    return QStringLiteral("Error: %1 changed after it was chosen. Nothing was sent; choose it "
                          "again.")
            .arg(sPath);
}

QString NvramReport::notRegularText(const QString &sPath)
{
    return QStringLiteral("Error: %1 is not a regular file. Nothing was sent. Choose a .nvr file.")
            .arg(sPath);
}
