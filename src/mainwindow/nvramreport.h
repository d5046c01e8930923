#ifndef NVRAMREPORT_H
#define NVRAMREPORT_H

#include <QList>
#include <QString>

// What a transfer could not do as asked. It is filled while the transfer
// runs and told to the user in one warning at its end; every warning text of
// the two transfers is composed here.
class NvramReport
{
public:
    // A page of a dump that will not write back as it stands ("page 0003"),
    // or a line or command of a file that did not reach the board ("line 5").
    void note(const QString &sWhere, const QString &sReason);
    bool hasNotes() const { return !m_notes.isEmpty(); }
    // Every note, one a line: the warning itself lists only the first few.
    QString details() const;

    // Read: the first page that could not be read, and why.
    void stopAt(const QString &sPage, const QString &sReason);
    bool stopped() const { return !m_stopReason.isEmpty(); }
    // Complete: page 0 was read and every page it announced after it.
    bool complete() const { return !stopped() && iPagesRead > 0; }

    int iPagesRead = 0;
    qint64 iPagesExpected = 0; // known once page 0 is read
    int iLinesSkipped = 0;
    int iLinesInPart = 0; // sent without their description
    int iUnanswered = 0;
    int iFailedLine = 0;       // the line of a write where the link failed
    int iLinesLost = 0;        // the lines after it
    bool bWriteFailed = false; // a page was read but could not be written

    // Warnings of the read (sDumpPath is the .nvr, sPartPath its .part;
    // bPartIntact: the .part is still the file this read wrote).
    QString readStoppedText(const QString &sDumpPath, const QString &sPartPath, bool bDumpExisted,
                            bool bPartExists, bool bPartIntact) const;
    static QString partLostText(const QString &sDumpPath, const QString &sPartPath,
                                bool bDumpExisted);
    QString readNotesText(const QString &sDumpPath) const;
    static QString badNameText(const QString &sName);
    // sAdvice: what to do; empty for the usual "look at it".
    static QString refusedText(const QString &sPath, const QString &sReason,
                               const QString &sAdvice);
    static QString movedAsideText(const QString &sPartPath, const QString &sOwner,
                                  const QString &sAside);
    static QString cannotCreateText(const QString &sPath, const QString &sReason);
    static QString cannotReplaceText(const QString &sDumpPath, const QString &sPartPath,
                                     const QString &sReason);

    // Write: the board answered sWhat ("the value of line 4", "the closing
    // save") with its greeting, so it restarted.
    void restartedAt(const QString &sWhat, const QString &sGreeting, bool bAtSave);
    bool restarted() const { return !m_restartWhat.isEmpty(); }

    // Warnings of the write.
    QString writeText(bool bLineSent) const;
    QString linkFailedText() const;
    QString restartedText() const;
    static QString noPageLineText(const QString &sPath);
    static QString cannotOpenText(const QString &sPath, const QString &sReason);
    static QString changedText(const QString &sPath);
    static QString notRegularText(const QString &sPath);

private:
    struct Note
    {
        QString sWhere;
        QString sReason;
    };
    QString listedNotes() const;
    QString writeCounts() const;

    QList<Note> m_notes;
    QString m_stopPage;
    QString m_stopReason;
    QString m_restartWhat;
    QString m_restartGreeting;
    bool m_bRestartAtSave = false;
};

#endif // NVRAMREPORT_H
