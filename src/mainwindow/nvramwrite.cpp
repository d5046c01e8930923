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
#include <QStringDecoder>
#include <QTextStream>
#include <QTimer>

namespace {

// The board takes the page from the command's first characters, so a page
// field such as "12", or "00011" (page 0001 and a value starting with "1"),
// would write another page.
bool isPageField(const QString &sField)
{
    static const QRegularExpression pagePattern(
            QStringLiteral("^([0-9A-F]{4}|[1-9A-F][0-9A-F]{4})$"));
    return pagePattern.match(sField).hasMatch();
}

bool isPageLine(const QStringList &fields)
{
    return fields.size() >= 2 && isPageField(fields.at(0));
}

// Why a line's commands cannot go to the board whole and unmistakable
// (empty when they can). texts are the fields the line would send.
QString unsendableReason(const QString &sPage, const QStringList &texts,
                         const QStringList &commands, bool bValidUtf8)
{
    if (!isPageField(sPage)) {
        static const QRegularExpression fiveHexDigits(QStringLiteral("^[0-9A-F]{5}$"));
        return fiveHexDigits.match(sPage).hasMatch()
                ? QStringLiteral("five-digit page field \"%1\" starts with \"0\"").arg(sPage)
                : QStringLiteral("page field \"%1\" is not 4 or 5 upper-case hex digits")
                          .arg(sPage);
    }
    for (const QString &sText : texts) {
        for (const QChar character : sText) {
            // Each character must go out as one Latin-1 byte; a "?" in its
            // place would write a wrong value.
            if (character.unicode() > 0xFF)
                return bValidUtf8 ? QStringLiteral("character with no Latin-1 byte")
                                  : QStringLiteral("not valid UTF-8");
            // "%" would end the command early and "$" start a new one. A
            // "#" would end every later reply of this page early, so each
            // read would shift the pages' texts.
            if (character == QLatin1Char('%') || character == QLatin1Char('$')
                || character == QLatin1Char('#'))
                return QStringLiteral("holds \"%1\"").arg(character);
            if (character == QLatin1Char('\r'))
                return QStringLiteral("holds a carriage return");
        }
    }
    for (const QString &sCommand : commands) {
        if (sCommand.length() > SerialTransport::iMaxCommandBytes)
            return QStringLiteral("command longer than 90 bytes");
    }
    return QString();
}

bool isValidUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8);
    const QString sDecoded = decoder(bytes);
    Q_UNUSED(sDecoded);
    return !decoder.hasError();
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
    // A cancelled chooser leaves nothing to send.
    if (sUploadPath.isEmpty()) {
        hideSendButton();
        return;
    }
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
    QString sWarning;
    // A command counts as answered only by a reply of its own: one that
    // ended with "#", on a line where no earlier reply's tail could still
    // come. A failed link answers nothing more; the caller stops there.
    const auto exchange = [&](const QString &sCommand, const QString &sWhere) {
        sendCommand(sCommand, sCommand.length());
        readReply();
        if (bReadError)
            return false;
        if (!sReply.endsWith(QLatin1Char('#')) || !bLineSettledAtSend) {
            ++report.iUnanswered;
            report.note(sWhere,
                        QStringLiteral("no complete reply to \"%1\"").arg(sCommand.left(3)));
        }
        return true;
    };
    const auto skip = [&](const QString &sWhere, const QString &sReason) {
        ++report.iLinesSkipped;
        report.note(sWhere, sReason);
    };

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        sWarning = NvramReport::cannotOpenText(path, file.errorString());
    } else {
        const QByteArray bytes = file.readAll();
        file.close();
        QTextStream stream(bytes);
        // The first line is the header whatever it holds; a page line there is lost.
        if (isPageLine(splitNvramLine(stream.readLine())))
            skip(QStringLiteral("line 1"), QStringLiteral("taken for the header"));
        const bool bValidUtf8 = isValidUtf8(bytes);
        int iLineNumber = 2;
        int iLinesSent = 0;
        QString sLine = stream.readLine();
        while (!(stream.atEnd() && sLine.isEmpty())) {
            const QStringList fields = sLine.isEmpty() ? QStringList() : splitNvramLine(sLine);
            const QString sWhere = QStringLiteral("line %1").arg(iLineNumber);
            if (fields.size() >= 2 && report.iFailedLine > 0) {
                ++report.iLinesLost;
            } else if (fields.size() >= 2) {
                // Without a description field the board keeps its own.
                const QStringList texts = fields.mid(1, 2);
                QStringList commands;
                commands << QStringLiteral("$A4") + fields.at(0) + fields.at(1) + QLatin1Char('%');
                if (texts.size() == 2)
                    commands << QStringLiteral("$A5") + fields.at(0) + fields.at(2)
                                    + QLatin1Char('%');
                const QString sProblem =
                        unsendableReason(fields.at(0), texts, commands, bValidUtf8);
                if (!sProblem.isEmpty()) {
                    skip(sWhere, sProblem);
                } else {
                    bool bLinkUp = !bReadError;
                    for (int i = 0; bLinkUp && i < commands.size(); ++i)
                        bLinkUp = exchange(commands.at(i), sWhere);
                    if (!bLinkUp) {
                        report.iFailedLine = iLineNumber;
                        ++report.iLinesLost;
                    } else {
                        ++iLinesSent;
                        if (fields.size() > 3)
                            report.note(sWhere, QStringLiteral("more than three fields: the "
                                                               "rest was not sent"));
                    }
                }
            } else if (!sLine.trimmed().isEmpty()) {
                skip(sWhere, QStringLiteral("fewer than two fields"));
            }
            sLine = stream.readLine();
            ++iLineNumber;
        }
        if (report.iFailedLine > 0) {
            sWarning = report.linkFailedText();
        } else {
            // Beside lines that were not sent, an empty file is one more
            // problem; on its own it has a plain text of its own.
            if (iLinesSent == 0 && report.hasNotes())
                report.note(QStringLiteral("the file"),
                            QStringLiteral("holds no page line to send"));
            const QString sSave = QStringLiteral("$A8%");
            if (!exchange(sSave, QStringLiteral("the closing save"))) {
                ++report.iUnanswered;
                report.note(QStringLiteral("the closing save"),
                            QStringLiteral("no complete reply to \"$A8\""));
            }
            if (report.hasNotes())
                sWarning = report.writeText();
            else if (iLinesSent == 0)
                sWarning = NvramReport::noPageLineText(path);
        }
    }

    MainPollingTimer->start(iPollingIntervalMs);
    ui->editToAuxPCB->setStyleSheet(sYellowEditStyle);
    if (!sWarning.isEmpty())
        showTransferWarning(sWarning, report.details());
}
