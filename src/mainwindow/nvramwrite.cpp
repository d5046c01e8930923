#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "connection.h"
#include "nvramfile.h"
#include "nvramreport.h"
#include "serialtransport.h"
#include "styles.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTextStream>
#include <QTimer>

namespace {

// Each character must go out as one Latin-1 byte; a hand-edited file may hold
// one that has none, and a "?" in its place would write a wrong value.
bool fitsLatin1(const QString &sText)
{
    for (const QChar character : sText) {
        if (character.unicode() > 0xFF)
            return false;
    }
    return true;
}

// Why a line's commands cannot go to the board whole and unmistakable
// (empty when they can). The board takes the page from the command's first
// characters, so a page field such as "12" would write another page.
QString unsendableReason(const QString &sPage, const QString &sValueCommand,
                         const QString &sDescriptionCommand)
{
    static const QRegularExpression pagePattern(QStringLiteral("^[0-9A-F]{4,5}$"));
    if (!pagePattern.match(sPage).hasMatch())
        return QStringLiteral("page field is not 4 or 5 upper-case hex digits");
    if (!fitsLatin1(sValueCommand) || !fitsLatin1(sDescriptionCommand))
        return QStringLiteral("character with no Latin-1 byte");
    if (qMax(sValueCommand.length(), sDescriptionCommand.length())
        > SerialTransport::iMaxCommandBytes)
        return QStringLiteral("command longer than 90 bytes");
    return QString();
}

} // namespace

void MainWindow::on_btnToAuxPCB_clicked()
{
    const QString sFileName = QFileDialog::getOpenFileName(this, tr("Select NVRAM File"), sNvramDir,
                                                           QStringLiteral("NVRAM (*.nvr)"));
    QCoreApplication::processEvents();
    emit readFileSelected(sFileName);
}

void MainWindow::onReadFileSelected(QString sFileName)
{
    sUploadPath = sFileName;
    const QString sName = QFileInfo(sFileName).fileName();
    QCoreApplication::processEvents();
    ui->editToAuxPCB->setText(sName.mid(0, sName.length() - 4));
    QCoreApplication::processEvents();
    ui->btnSendParams->show();
    ui->btnSendParams->setEnabled(true);
}

void MainWindow::on_btnSendParams_clicked()
{
    ui->editToAuxPCB->setStyleSheet(sGreenEditStyle);
    QCoreApplication::processEvents();
    writeNvramFromFile(sUploadPath);
    hideSendButton();
}

void MainWindow::hideSendButton()
{
    ui->btnSendParams->hide();
    ui->btnSendParams->setEnabled(false);
}

void MainWindow::writeNvramFromFile(const QString &path)
{
    MainPollingTimer->stop();

    NvramReport report;
    // A command that got not a single byte back may not have reached the board;
    // what a failed read stored is no byte from it.
    const auto exchange = [&](const QString &sCommand, const QString &sWhere) {
        sendCommand(sCommand, sCommand.length());
        if (readReply() == 0 || bReadError) {
            ++report.iUnanswered;
            report.note(sWhere, QStringLiteral("no reply to \"%1\"").arg(sCommand.left(3)));
        }
    };

    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        QTextStream stream(&file);
        stream.readLine(); // the header, whatever it holds
        int iLineNumber = 2;
        QString sLine = stream.readLine();
        while (!(stream.atEnd() && sLine.isEmpty())) {
            const QStringList fields = sLine.isEmpty() ? QStringList() : splitNvramLine(sLine);
            if (fields.size() >= 2) {
                const QString sWhere = QStringLiteral("line %1").arg(iLineNumber);
                const QString sValueCommand =
                        QStringLiteral("$A4") + fields.at(0) + fields.at(1) + QLatin1Char('%');
                // Without a description field the board keeps its own.
                const bool bHasDescription = fields.size() >= 3;
                const QString sDescriptionCommand = bHasDescription
                        ? QStringLiteral("$A5") + fields.at(0) + fields.at(2) + QLatin1Char('%')
                        : QString();
                const QString sProblem =
                        unsendableReason(fields.at(0), sValueCommand, sDescriptionCommand);
                if (!sProblem.isEmpty()) {
                    ++report.iLinesSkipped;
                    report.note(sWhere, sProblem);
                } else {
                    exchange(sValueCommand, sWhere);
                    if (bHasDescription)
                        exchange(sDescriptionCommand, sWhere);
                }
            }
            sLine = stream.readLine();
            ++iLineNumber;
        }
        file.close();

        exchange(QStringLiteral("$A8%"), QStringLiteral("the closing save"));
    }

    MainPollingTimer->start(iPollingIntervalMs);
    ui->editToAuxPCB->setStyleSheet(sYellowEditStyle);
    if (report.hasNotes())
        QMessageBox::warning(this, sMessageTitle, report.writeText(), QMessageBox::Ok,
                             QMessageBox::NoButton);
}
