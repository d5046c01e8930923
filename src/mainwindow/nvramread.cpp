#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "connection.h"
#include "nvramfile.h"
#include "nvramreport.h"
#include "serialtransport.h"
#include "styles.h"

#include <QCoreApplication>
#include <QFile>
#include <QMessageBox>
#include <QTextStream>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

QString replyText()
{
    QString sText = sReply;
    sText.remove(QLatin1Char('#'));
    return sText.mid(iReplyPrefixLength);
}

// Why a reply that does not answer its command ends the read.
QString refusal()
{
    if (bReadError)
        return QStringLiteral("the port could not be read");
    return sReply.isEmpty() ? QStringLiteral("the board did not answer")
                            : QStringLiteral("the board refused the page");
}

// A reply kept although it did not end with "#" holds only part of the text.
QString cutReason()
{
    if (sReply.endsWith(QLatin1Char('#')))
        return QString();
    return sReply.length() == SerialTransport::iMaxReplyChars
            ? QStringLiteral("reply cut at 201 characters")
            : QStringLiteral("reply ended without \"#\"");
}

// Last page number from page 0's value: base 10, 0 when it is no number
// or does not fit.
int lastPageFromValue(const QString &sValue)
{
    bool bOk = false;
    const int iValue = sValue.toInt(&bOk, 10);
    return bOk ? iValue : 0;
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
    if (sValue.contains(QLatin1Char('|')) || sDescription.contains(QLatin1Char('|')))
        reasons << QStringLiteral("holds \"|\"");
    // "$A4"/"$A5", the page, the text and "%".
    if (4 + pageText.length() + qMax(sValue.length(), sDescription.length())
        > SerialTransport::iMaxCommandBytes)
        reasons << QStringLiteral("too long to write back");
    return reasons;
}

} // namespace

void MainWindow::onSaveFileSelected(QString sFileName)
{
    ui->editFromAuxPCB->setStyleSheet(sGreenEditStyle);
    ui->editFromAuxPCB->setText(sFileName);
    QCoreApplication::processEvents();
    if (!isUsableDumpName(sFileName)) {
        ui->editFromAuxPCB->setStyleSheet(sYellowEditStyle);
        QMessageBox::warning(this, sMessageTitle, NvramReport::badNameText(sFileName),
                             QMessageBox::Ok, QMessageBox::NoButton);
        return;
    }
    readNvramToFile(sNvramDir + sFileName + sNvramExt);
}

void MainWindow::readNvramToFile(const QString &path)
{
    MainPollingTimer->stop();

    // The dump goes to a side file first: an existing dump of the same name
    // may be the only good backup of a board, so it is replaced only by a
    // complete one.
    const QString sPartPath = path + sPartExt;
    QString sWarning;
    QFile file(sPartPath);
    if (!file.open(QIODevice::WriteOnly)) {
        sWarning = NvramReport::cannotCreateText(sPartPath, file.errorString());
    } else {
        NvramReport report;
        readNvramPages(file, report);
        file.close();

        if (!report.complete()) {
            if (report.iPagesRead == 0)
                QFile::remove(sPartPath);
            sWarning = report.readStoppedText(path, sPartPath, QFile::exists(path));
        } else if (std::rename(QFile::encodeName(sPartPath).constData(),
                               QFile::encodeName(path).constData())
                   != 0) {
            // POSIX rename replaces the old dump in one step; QFile::rename would not.
            sWarning = NvramReport::cannotReplaceText(path, sPartPath,
                                                      QString::fromLocal8Bit(std::strerror(errno)));
        } else if (report.hasNotes()) {
            sWarning = report.readNotesText(path);
        }
    }

    MainPollingTimer->start(iPollingIntervalMs);
    ui->editFromAuxPCB->setStyleSheet(sYellowEditStyle);
    if (!sWarning.isEmpty())
        QMessageBox::warning(this, sMessageTitle, sWarning, QMessageBox::Ok, QMessageBox::NoButton);
}

void MainWindow::readNvramPages(QFile &file, NvramReport &report)
{
    QTextStream stream(&file);
    const auto writeFailed = [&](const QString &pageText, const QString &sReason) {
        if (sReason.isEmpty())
            return false;
        report.stopAt(pageText,
                      QStringLiteral("could not write %1: %2").arg(file.fileName(), sReason));
        return true;
    };
    const auto streamError = [&] {
        return stream.status() == QTextStream::Ok ? QString() : file.errorString();
    };

    stream << nvramHeaderLine() << Qt::endl;
    if (writeFailed(formatPageNumber(0, 4), streamError()))
        return;

    // The page counter stays below INT_MAX: the loop ends at iLastPage,
    // which is an int, before page + 1 could overflow.
    for (int page = 0;; ++page) {
        const QString pageText = formatPageNumber(page, 4);
        QStringList reasons;

        const QString sValueCommand = QStringLiteral("$A6") + pageText + QLatin1Char('%');
        sendCommand(sValueCommand, sValueCommand.length());
        readReply();
        const bool bValueAccepted = replyAnswers(sValueCommand);
        const QString sValueRefusal = refusal();
        if (bValueAccepted) {
            sPageValue = replyText();
            reasons << cutReason();
        }

        const QString sDescriptionCommand = QStringLiteral("$A7") + pageText + QLatin1Char('%');
        sendCommand(sDescriptionCommand, sDescriptionCommand.length());
        readReply();
        if (!replyAnswers(sDescriptionCommand)) {
            report.stopAt(pageText, refusal());
            return;
        }
        sPageDescription = replyText();
        reasons << cutReason();

        if (!bValueAccepted) {
            report.stopAt(pageText, sValueRefusal);
            return;
        }
        if (page == 0) {
            iLastPage = lastPageFromValue(sPageValue);
            report.iPagesExpected = qint64(qMax(iLastPage, 0)) + 1;
        }

        reasons << fitIntoLine(pageText, sPageValue, sPageDescription);
        stream << pageText << sFieldSeparator << sPageValue << sFieldSeparator << sPageDescription
               << Qt::endl;
        if (writeFailed(pageText, streamError()))
            return;
        ++report.iPagesRead;
        reasons.removeAll(QString());
        if (!reasons.isEmpty())
            report.note(QStringLiteral("page ") + pageText, reasons.join(QStringLiteral(", ")));

        if (page >= iLastPage) {
            // On disk before it replaces the old dump.
            if (::fsync(file.handle()) != 0)
                writeFailed(pageText, QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
    }
}
