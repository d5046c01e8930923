#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "connection.h"
#include "dumpfiles.h"
#include "nvramfile.h"
#include "nvramreport.h"
#include "prefixrule.h"
#include "serialtransport.h"
#include "styles.h"
#include "systemreason.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QScopedValueRollback>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <unistd.h>

QString sPageValue;
QString sPageDescription;
int iLastPage = 0;

namespace {

// Number of leading reply characters that are the board's own framing.
constexpr int iReplyPrefixLength = 7;

// A reply counts only when it is longer than the command that asked for it.
bool replyAnswers(const QString &sCommand)
{
    return sReply.length() > sCommand.length();
}

QString withoutHashes(const QString &sAnswer)
{
    QString sText = sAnswer;
    return sText.remove(QLatin1Char('#'));
}

// A board's answer as a message quotes it: shortly.
QString quoted(const QString &sAnswer)
{
    return QLatin1Char('"')
            + (sAnswer.length() > 24 ? sAnswer.left(24) + QStringLiteral("...") : sAnswer)
            + QLatin1Char('"');
}

// How often an answer that breaks the board's own rule is asked for again.
constexpr int iReasks = 3;

// The greeting's answer in place of a page's: the board started anew. A
// board that answers the keep-alive alike tells nothing by it.
bool isGreetingAnswer(const QString &sAnswer)
{
    return !sGreetingAnswer.isEmpty() && sAnswer == sGreetingAnswer
            && sGreetingAnswer != sKeepAliveAnswer;
}

// One answer of the board, taken from sReply when it came.
struct PageAnswer
{
    QString sReply;
    bool bHadNul = false;
    bool bHadFlowControl = false;
    QString sProblem;      // why it is no answer, as the read has always judged it
    bool bStopNow = false; // nothing more is to be asked of the board
};

const QString sBrokenOff = QStringLiteral("the reply stopped before its \"#\"");

// Why a reply ends the read, or empty when it does not. A reply that
// stopped short of its "#" before the cap was cut by a stall or a hang-up,
// so the text it holds is not the page's.
QString replyProblem(const QString &sCommand)
{
    if (bReadError)
        return QStringLiteral("the port could not be read");
    if (sReply.isEmpty())
        return QStringLiteral("the board did not answer");
    if (!sReply.endsWith(QLatin1Char('#')) && sReply.length() < SerialTransport::iMaxReplyChars)
        return sBrokenOff;
    if (!replyAnswers(sCommand))
        return QStringLiteral("the board refused the page");
    return QString();
}

// A reply kept although it did not end with "#" was cut at the cap.
QString cutReason(const QString &sAnswer)
{
    return sAnswer.endsWith(QLatin1Char('#')) ? QString()
                                              : QStringLiteral("reply cut at 201 characters");
}

// Last page number from page 0's value: decimal digits only, within the
// page counter's range; -1 when the value is no such number.
int lastPageFromValue(const QString &sValue)
{
    for (const QChar character : sValue) {
        if (character < QLatin1Char('0') || character > QLatin1Char('9'))
            return -1;
    }
    bool bOk = false;
    const int iValue = sValue.toInt(&bOk, 10);
    return bOk ? iValue : -1;
}

// Makes a page's texts fit one file line, and says why the line will not
// write the board's texts back as they were.
QStringList fitIntoLine(const QString &pageText, QString &sValue, QString &sDescription)
{
    QStringList reasons;
    bool bLineBreak = false;
    for (QString *sText : { &sValue, &sDescription }) {
        for (QChar &character : *sText) {
            if (character == QLatin1Char('\n') || character == QLatin1Char('\r')) {
                character = QLatin1Char(' ');
                bLineBreak = true;
            }
        }
    }
    if (bLineBreak)
        reasons << QStringLiteral("line break written as a space");
    // "|" splits the field when the file is read back; "%" and "$" would
    // end or restart the write-back command inside the text.
    for (const QChar character : { QLatin1Char('|'), QLatin1Char('%'), QLatin1Char('$') }) {
        if (sValue.contains(character) || sDescription.contains(character))
            reasons << QStringLiteral("holds \"%1\"").arg(character);
    }
    // "$A4"/"$A5", the page, the text and "%".
    if (4 + pageText.length() + qMax(sValue.length(), sDescription.length())
        > SerialTransport::iMaxCommandBytes)
        reasons << QStringLiteral("too long to write back");
    return reasons;
}

// Puts a complete dump in place of the old one, which is first kept as its
// backup so that it is never in neither place. A copy, not a hard link:
// the system refuses to link a dump that another user of the directory
// wrote. Returns why it failed, or empty.
QString replaceDump(const QString &sPartPath, const QString &path)
{
    const QString sBackupPath = path + sBackupExt;
    const QString sError = DumpFiles::keepBackup(path, sBackupPath);
    if (!sError.isEmpty())
        return QStringLiteral("could not keep it as %1: %2").arg(sBackupPath, sError);
    // POSIX rename replaces the old dump in one step; QFile::rename would not.
    if (std::rename(QFile::encodeName(sPartPath).constData(), QFile::encodeName(path).constData())
        != 0)
        return systemReason(errno);
    return QString();
}

} // namespace

void MainWindow::onSaveFileSelected(QString sFileName)
{
    ui->editFromAuxPCB->setStyleSheet(sGreenEditStyle);
    ui->editFromAuxPCB->setText(sFileName);
    QCoreApplication::processEvents();
    if (!isUsableDumpName(sFileName)) {
        ui->editFromAuxPCB->setStyleSheet(sYellowEditStyle);
        showTransferWarning(NvramReport::badNameText(sFileName), QString());
        return;
    }
    readNvramToFile(sNvramDir + sFileName + sNvramExt);
}

void MainWindow::readNvramToFile(const QString &path)
{
    MainPollingTimer->stop();

    // The dump goes to a side file first: an existing dump of the same name
    // may be the only good backup of a board, so it is replaced only by a
    // complete one. The side file may hold an earlier read's pages, so it is
    // opened without emptying it; the read empties it once it has a page.
    const QString sPartPath = path + sPartExt;
    QString sWarning;
    QString sDetails;
    for (const QString &sPath : { path, path + sBackupExt, sPartPath }) {
        const QString sRefusal = DumpFiles::refusal(sPath);
        if (!sRefusal.isEmpty() && sWarning.isEmpty())
            sWarning = NvramReport::refusedText(sPath, sRefusal, QString());
    }
    QString sError;
    DumpFiles::PartOpening part;
    if (sWarning.isEmpty())
        part = DumpFiles::openPart(sPartPath);
    if (part.fd < 0 && sWarning.isEmpty()) {
        sWarning = part.bRefused ? NvramReport::refusedText(sPartPath, part.sError, part.sAdvice)
                                 : NvramReport::cannotCreateText(sPartPath, part.sError);
    }
    if (part.fd >= 0) {
        // The descriptor holds the .part's lock: it stays open until the
        // dump is in place, so that no other read takes this one for dead.
        QFile file;
        file.open(part.fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered,
                  QFileDevice::DontCloseHandle);
        NvramReport report;
        readNvramPages(file, sPartPath, report);
        // The directory is shared: what is renamed or removed under the
        // .part's name, or named as this read's pages, must still be the
        // file this read wrote.
        const bool bPartIntact = DumpFiles::namesFile(sPartPath, part.fd);

        if (!report.complete()) {
            // An earlier .part stays, unless this read emptied it for a page
            // that it then could not write.
            if (bPartIntact && report.iPagesRead == 0
                && (part.bCreated || (report.bWriteFailed && file.size() == 0)))
                QFile::remove(sPartPath);
            sWarning = report.readStoppedText(path, sPartPath, QFile::exists(path),
                                              QFile::exists(sPartPath), bPartIntact);
        } else if (!bPartIntact) {
            sWarning = NvramReport::partLostText(path, sPartPath, QFile::exists(path));
        } else if (!(sError = replaceDump(sPartPath, path)).isEmpty()) {
            sWarning = NvramReport::cannotReplaceText(path, sPartPath, sError);
        } else if (report.hasNotes()) {
            sWarning = report.readNotesText(path);
            sDetails = report.details();
        }
        file.close();
        ::close(part.fd);
    }
    if (!part.sAside.isEmpty()) {
        const QString sNote = NvramReport::movedAsideText(sPartPath, part.sAsideOwner, part.sAside);
        sWarning = sWarning.isEmpty() ? sNote : sWarning + QLatin1Char(' ') + sNote;
    }

    MainPollingTimer->start(iPollingIntervalMs);
    ui->editFromAuxPCB->setStyleSheet(sYellowEditStyle);
    if (!sWarning.isEmpty())
        showTransferWarning(sWarning, sDetails);
}

void MainWindow::readNvramPages(QFile &file, const QString &sPartPath, NvramReport &report)
{
    // The file is unbuffered, so a failed write leaves nothing behind to be
    // written later.
    qint64 iWholeLines = 0;
    const auto writeFailed = [&](const QString &pageText, const QString &sReason) {
        report.stopAt(pageText, QStringLiteral("could not write %1: %2").arg(sPartPath, sReason));
        report.bWriteFailed = true;
        // A line cut short is no page; the lines before it are.
        file.resize(iWholeLines);
    };
    const auto writeLine = [&](const QString &pageText, const QString &sLine) {
        const QByteArray bytes = (sLine + QLatin1Char('\n')).toUtf8();
        // A short write tells no reason; the write of the rest that fails does.
        for (qint64 iDone = 0; iDone < bytes.size();) {
            const qint64 iWritten = file.write(bytes.constData() + iDone, bytes.size() - iDone);
            if (iWritten <= 0) {
                writeFailed(pageText, systemReason(errno));
                return false;
            }
            iDone += iWritten;
        }
        iWholeLines += bytes.size();
        return true;
    };

    // Late or repeated keep-alive answers are no page's.
    const QScopedValueRollback<bool> passing(bPassKeepAliveAnswers, true);
    settleAfterSilence();
    PrefixRule valueRule;
    PrefixRule descriptionRule;
    const auto exchange = [&](const QString &sCommand) {
        sendCommand(sCommand, sCommand.length());
        readReply();
        return PageAnswer { sReply, bReplyHadNul, bReplyHadFlowControl, replyProblem(sCommand),
                            false };
    };
    // One text of a page. An answer whose first seven characters break the
    // rule this board's answers of the kind follow is asked for again: a
    // read changes nothing on the board.
    const auto ask = [&](const QString &sCode, PrefixRule &rule, int page,
                         const QString &pageText) {
        const QString sCommand = sCode + pageText + QLatin1Char('%');
        PageAnswer answer = exchange(sCommand);
        for (int iAsked = 1;; ++iAsked) {
            if (answer.sProblem == sBrokenOff) {
                answer.bStopNow = true;
                return answer;
            }
            // A restarted board may have lost what it had not saved: the
            // pages read before may not match those after.
            if (isGreetingAnswer(answer.sReply)) {
                answer.sProblem = QStringLiteral("the board restarted: its greeting %1 came in "
                                                 "place of the answer to \"%2\"")
                                          .arg(quoted(answer.sReply), sCommand);
                answer.bStopNow = true;
                return answer;
            }
            if (!answer.sProblem.isEmpty()
                || rule.fits(withoutHashes(answer.sReply).left(iReplyPrefixLength), pageText)) {
                if (page == 0)
                    rule.sPageZeroAnswer = answer.sReply;
                return answer;
            }
            // Page 1 disagrees with page 0: either page 0's answer was not
            // page 0's, or page 1's is not page 1's, or the board follows
            // no rule. Page 0 asked again tells the first from the others.
            if (!rule.learned() && page == 1 && iAsked == 1) {
                const QString sPageZeroCommand = sCode + formatPageNumber(0, 4) + QLatin1Char('%');
                const PageAnswer again = exchange(sPageZeroCommand);
                if (again.sReply != rule.sPageZeroAnswer) {
                    answer.sProblem =
                            QStringLiteral("the board answered \"%1\" with %2, then with %3, so "
                                           "page 0 may not be its page 0")
                                    .arg(sPageZeroCommand, quoted(rule.sPageZeroAnswer),
                                         quoted(again.sReply));
                    answer.bStopNow = true;
                    return answer;
                }
            }
            if (iAsked <= iReasks) {
                answer = exchange(sCommand);
                continue;
            }
            if (!rule.learned() && page == 1) {
                rule.giveUp();
                return answer;
            }
            answer.sProblem = QStringLiteral("the board's answer to \"%1\" did not belong to "
                                             "that page, asked %2 times (the last: %3)")
                                      .arg(sCommand)
                                      .arg(iAsked)
                                      .arg(quoted(answer.sReply));
            answer.bStopNow = true;
            return answer;
        }
    };

    // The page counter stays below INT_MAX: the loop ends at iLastPage,
    // which is an int, before page + 1 could overflow.
    for (int page = 0;; ++page) {
        const QString pageText = formatPageNumber(page, 4);
        QStringList reasons;

        const PageAnswer value = ask(QStringLiteral("$A6"), valueRule, page, pageText);
        // What a stalled reply holds is not the page's value, and its tail
        // may still be on the way: nothing more is asked.
        if (value.bStopNow) {
            report.stopAt(pageText, value.sProblem);
            return;
        }
        const bool bValueTerminated = value.sReply.endsWith(QLatin1Char('#'));
        if (value.sProblem.isEmpty()) {
            sPageValue = withoutHashes(value.sReply).mid(iReplyPrefixLength);
            reasons << cutReason(value.sReply);
        }

        const PageAnswer description = ask(QStringLiteral("$A7"), descriptionRule, page, pageText);
        if (!value.sProblem.isEmpty() || !description.sProblem.isEmpty()) {
            report.stopAt(pageText,
                          value.sProblem.isEmpty() ? description.sProblem : value.sProblem);
            return;
        }
        sPageDescription = withoutHashes(description.sReply).mid(iReplyPrefixLength);
        reasons << cutReason(description.sReply);
        if (value.bHadNul || description.bHadNul)
            reasons << QStringLiteral("NUL bytes dropped");
        if (value.bHadFlowControl || description.bHadFlowControl)
            reasons << QStringLiteral("XON/XOFF bytes dropped");
        // The board takes a written page from four digits.
        if (pageText.length() > 4)
            reasons << QStringLiteral("five-digit page: SEND does not write it back");

        reasons << fitIntoLine(pageText, sPageValue, sPageDescription);
        QString sLines =
                pageText + sFieldSeparator + sPageValue + sFieldSeparator + sPageDescription;
        if (page == 0) {
            // The .part is emptied only now that this read has a page for
            // it, and gets the header and page 0 in one write.
            if (!file.resize(0)) {
                writeFailed(pageText, systemReason(errno));
                return;
            }
            sLines.prepend(nvramHeaderLine() + QLatin1Char('\n'));
        }
        if (!writeLine(pageText, sLines))
            return;
        ++report.iPagesRead;
        reasons.removeAll(QString());
        reasons.removeDuplicates();
        if (!reasons.isEmpty())
            report.note(QStringLiteral("page ") + pageText, reasons.join(QStringLiteral(", ")));

        if (page == 0) {
            // A value that is no page count, or one cut short, must not pass
            // for "last page 0": that would make a one-page dump complete.
            iLastPage = bValueTerminated ? lastPageFromValue(sPageValue) : -1;
            if (iLastPage < 0) {
                report.stopAt(pageText, QStringLiteral("its value is not a page count"));
                return;
            }
            report.iPagesExpected = qint64(iLastPage) + 1;
        }

        if (page >= iLastPage) {
            // On disk before it replaces the old dump.
            if (::fsync(file.handle()) != 0)
                writeFailed(pageText, systemReason(errno));
            return;
        }
    }
}
