#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "connection.h"
#include "nvramfile.h"
#include "serialtransport.h"
#include "styles.h"

#include <QCoreApplication>
#include <QFile>
#include <QMessageBox>
#include <QTextStream>
#include <QTimer>

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

// Last page number from page 0's value: base 10, 0 when it is no number
// or does not fit.
int lastPageFromValue(const QString &sValue)
{
    bool bOk = false;
    const int iValue = sValue.toInt(&bOk, 10);
    return bOk ? iValue : 0;
}

} // namespace

void MainWindow::onSaveFileSelected(QString sFileName)
{
    ui->editFromAuxPCB->setStyleSheet(sGreenEditStyle);
    ui->editFromAuxPCB->setText(sFileName);
    QCoreApplication::processEvents();
    readNvramToFile(sNvramDir + sFileName + sNvramExt);
}

void MainWindow::readNvramToFile(const QString &path)
{
    MainPollingTimer->stop();

    bool bWriteFailed = false;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        QTextStream stream(&file);
        stream << nvramHeaderLine() << Qt::endl;
        bWriteFailed = stream.status() != QTextStream::Ok;

        // The page counter stays below INT_MAX: the loop ends at iLastPage,
        // which is an int, before page + 1 could overflow.
        for (int page = 0; !bWriteFailed; ++page) {
            const QString pageText = formatPageNumber(page, 4);

            const QString sValueCommand = QStringLiteral("$A6") + pageText + QLatin1Char('%');
            sendCommand(sValueCommand, sValueCommand.length());
            readReply();
            const bool bValueAccepted = replyAnswers(sValueCommand);
            if (bValueAccepted)
                sPageValue = replyText();

            const QString sDescriptionCommand = QStringLiteral("$A7") + pageText + QLatin1Char('%');
            sendCommand(sDescriptionCommand, sDescriptionCommand.length());
            readReply();
            if (!replyAnswers(sDescriptionCommand))
                break;
            sPageDescription = replyText();

            if (!bValueAccepted)
                break;
            if (page == 0)
                iLastPage = lastPageFromValue(sPageValue);

            stream << pageText << sFieldSeparator << sPageValue << sFieldSeparator
                   << sPageDescription << Qt::endl;
            bWriteFailed = stream.status() != QTextStream::Ok;

            if (page >= iLastPage)
                break;
        }
        file.close();
    }

    MainPollingTimer->start(iPollingIntervalMs);
    ui->editFromAuxPCB->setStyleSheet(sYellowEditStyle);

    // A backup that silently lost pages would be trusted later; say so.
    if (bWriteFailed) {
        QMessageBox::warning(this, sMessageTitle,
                             QStringLiteral("Error: Could not write %1. The NVRAM dump is "
                                            "incomplete.")
                                     .arg(path),
                             QMessageBox::Ok, QMessageBox::NoButton);
    }
}
