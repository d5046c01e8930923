#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "connection.h"
#include "nvramfile.h"
#include "styles.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
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
    ui->btnSendParams->hide();
    ui->btnSendParams->setEnabled(false);
}

void MainWindow::writeNvramFromFile(const QString &path)
{
    MainPollingTimer->stop();

    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        QTextStream stream(&file);
        stream.readLine(); // the header, whatever it holds
        QString sLine = stream.readLine();
        while (!(stream.atEnd() && sLine.isEmpty())) {
            const QStringList fields = sLine.isEmpty() ? QStringList() : splitNvramLine(sLine);
            if (fields.size() >= 2) {
                const QString sValueCommand =
                        QStringLiteral("$A4") + fields.at(0) + fields.at(1) + QLatin1Char('%');
                // Without a description field the board keeps its own.
                const bool bHasDescription = fields.size() >= 3;
                const QString sDescriptionCommand = bHasDescription
                        ? QStringLiteral("$A5") + fields.at(0) + fields.at(2) + QLatin1Char('%')
                        : QString();
                if (fitsLatin1(sValueCommand) && fitsLatin1(sDescriptionCommand)) {
                    sendCommand(sValueCommand, sValueCommand.length());
                    readReply();
                    if (bHasDescription) {
                        sendCommand(sDescriptionCommand, sDescriptionCommand.length());
                        readReply();
                    }
                }
            }
            sLine = stream.readLine();
        }
        file.close();

        const QString sSaveCommand = QStringLiteral("$A8%");
        sendCommand(sSaveCommand, 4);
        readReply();
    }

    MainPollingTimer->start(iPollingIntervalMs);
    ui->editToAuxPCB->setStyleSheet(sYellowEditStyle);
}
