#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "connection.h"
#include "nvramfile.h"
#include "nvramlines.h"
#include "nvramreport.h"
#include "serialtransport.h"
#include "styles.h"
#include "systemreason.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QMessageBox>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What a command of a file line writes, as a warning names it: "the value
// of line 4" for "$A4...", "the description of line 4" for "$A5...".
QString written(const QString &sCommand, const QString &sWhere)
{
    return (sCommand.startsWith(QLatin1String("$A4")) ? QStringLiteral("the value of ")
                                                      : QStringLiteral("the description of "))
            + sWhere;
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
    // SEND sends this file as it is now, not whatever takes its place.
    uploadStamp = fileStamp(sFileName);
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
    // come, and like the answers to the first two commands of its kind when
    // those were alike. A failed link, or a board that restarted, answers
    // nothing more; the caller stops there.
    QHash<QString, QStringList> firstAnswers;
    const auto exchange = [&](const QString &sCommand, const QString &sWhat) {
        const QString sCode = sCommand.left(3);
        QStringList &seen = firstAnswers[sCode];
        const QString sRule =
                seen.size() == 2 && seen.first() == seen.last() ? seen.first() : QString();
        // Only an answer known to differ from the keep-alive's is waited for past it.
        bPassKeepAliveAnswers = !sRule.isEmpty() && sRule != sKeepAliveAnswer;
        sendCommand(sCommand, sCommand.length());
        readReply();
        bPassKeepAliveAnswers = false;
        if (bReadError)
            return false;
        // A restarted board lost what it had not saved. Only a greeting
        // known to differ from the keep-alive's answer tells it: a board
        // may answer every command alike.
        if (!sGreetingAnswer.isEmpty() && sReply == sGreetingAnswer && !sKeepAliveAnswer.isEmpty()
            && sReply != sKeepAliveAnswer && sReply != sRule) {
            report.restartedAt(sWhat, sReply, sCode == QLatin1String("$A8"));
            return false;
        }
        if (!sReply.endsWith(QLatin1Char('#')) || !bLineSettledAtSend) {
            ++report.iUnanswered;
            report.note(sWhat, QStringLiteral("no complete reply"));
        } else if (!sRule.isEmpty() && sReply != sRule) {
            ++report.iUnanswered;
            report.note(sWhat,
                        QStringLiteral("no reply of its own: \"%1\" came, not \"%2\" as before")
                                .arg(sReply.left(24), sRule));
        } else if (seen.size() < 2) {
            seen << sReply;
        }
        return true;
    };
    const auto skip = [&](const QString &sWhere, const QString &sReason) {
        ++report.iLinesSkipped;
        report.note(sWhere, sReason);
    };

    // Only a plain file is read: a FIFO or a device put in the shared
    // directory under a .nvr name would hold the window for ever.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat status = {};
    QFile file;
    if (fd < 0) {
        sWarning = NvramReport::cannotOpenText(path, systemReason(errno));
    } else if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        sWarning = NvramReport::notRegularText(path);
    } else {
        file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
        // What is read must be the file chosen, unchanged before and after;
        // another file gives no line to send.
        const std::optional<FileStamp> stamp = fileStamp(file.handle());
        const QByteArray bytes = file.readAll();
        const bool bAsChosen = stamp && stamp == uploadStamp && fileStamp(file.handle()) == stamp;
        file.close();
        const QList<NvramFileLine> lines =
                bAsChosen ? readNvramFileLines(bytes) : QList<NvramFileLine>();
        int iLinesSent = 0;
        settleAfterSilence();
        for (const NvramFileLine &line : lines) {
            const QString sWhere = QStringLiteral("line %1").arg(line.iNumber);
            if (report.iFailedLine > 0) {
                ++report.iLinesLost;
            } else if (!line.sSkipReason.isEmpty()) {
                skip(sWhere, line.sSkipReason);
            } else {
                bool bLinkUp = !bReadError;
                for (int i = 0; bLinkUp && i < line.commands.size(); ++i)
                    bLinkUp = exchange(line.commands.at(i), written(line.commands.at(i), sWhere));
                if (!bLinkUp) {
                    report.iFailedLine = line.iNumber;
                } else {
                    ++iLinesSent;
                    if (!line.sNote.isEmpty()) {
                        ++report.iLinesInPart;
                        report.note(sWhere, line.sNote);
                    }
                }
            }
        }
        if (!bAsChosen) {
            sWarning = NvramReport::changedText(path);
        } else if (report.iFailedLine > 0) {
            sWarning = report.restarted() ? report.restartedText() : report.linkFailedText();
        } else {
            const QString sSave = QStringLiteral("$A8%");
            const bool bSaveAnswered = exchange(sSave, QStringLiteral("the closing save"));
            if (!bSaveAnswered && !report.restarted()) {
                ++report.iUnanswered;
                report.note(QStringLiteral("the closing save"),
                            QStringLiteral("no complete reply"));
            }
            // A file that sent no line is told so, beside its list or alone.
            if (report.restarted())
                sWarning = report.restartedText();
            else if (report.hasNotes())
                sWarning = report.writeText(iLinesSent > 0);
            else if (iLinesSent == 0)
                sWarning = NvramReport::noPageLineText(path);
        }
    }

    MainPollingTimer->start(iPollingIntervalMs);
    ui->editToAuxPCB->setStyleSheet(sYellowEditStyle);
    if (!sWarning.isEmpty())
        showTransferWarning(sWarning, report.details());
}
