#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "connection.h"
#include "serialtransport.h"
#include "stalelock.h"
#include "styles.h"

#include <QMessageBox>
#include <QTimer>

int iConnectionState = 0;
int iKeepAliveCountdown = 1;

namespace {
const QString sNoBoardText = QStringLiteral("------------------");
const QString &sHelloCommand = SerialTransport::sGreetingCommand;
const QString &sKeepAliveCommand = SerialTransport::sKeepAliveCommand;
} // namespace

void MainWindow::on_comboBoxSerialPorts_textActivated(const QString &arg1)
{
    if (arg1.isEmpty())
        return;
    ui->btnConnectPort->setStyleSheet(sRedButtonStyle);
    ui->btnConnectPort->show();
    // An open port keeps its old name; the new one counts from the next open.
    serialPort.setPortName(arg1);
}

void MainWindow::on_btnConnectPort_clicked()
{
    if (serialPort.isOpen() || bPortLost) {
        // The next tick says goodbye and closes the port.
        bDisconnectRequested = true;
        return;
    }

    if (openSerialPort()) {
        ui->btnConnectPort->setStyleSheet(sGreenButtonStyle);
        iConnectionState = 1;
        MainPollingTimer->start(iPollingIntervalMs);
        return;
    }

    QString sMessage = QStringLiteral("Can't open %1, error code %2")
                               .arg(serialPort.portName())
                               .arg(static_cast<int>(serialPort.error()))
            + QLatin1Char(' ') + serialPort.errorString();
    const QString sStaleLock = staleLockText(serialPort.portName());
    if (!sStaleLock.isEmpty())
        sMessage += QStringLiteral(". ") + sStaleLock;
    QMessageBox::warning(this, sMessageTitle, sMessage, QMessageBox::Ok, QMessageBox::NoButton);
    resetConnectionUi();
}

void MainWindow::MainPollingTimerElapsed()
{
    // A tick that comes while the read-error warning of an exchange is open
    // must not start an exchange of its own, nor close the port under it.
    if (bExchangeRunning)
        return;
    if (bDisconnectRequested) {
        // A port let go after its line failed can neither take the farewell
        // nor answer it: waiting out the watchdog would only freeze the window.
        if (serialPort.isOpen()) {
            sendCommand(sHelloCommand, sHelloCommand.length());
            readReply();
        }
        lowLatency.restore(serialPort.handle());
        serialPort.close();
        bPortLost = false;
        bDisconnectRequested = false;
        iConnectionState = 3;
    }
    pollConnection();
}

void MainWindow::pollConnection()
{
    switch (iConnectionState) {
    case 1:
        auxHandshake();
        iConnectionState = 2;
        break;
    case 2:
        if (iKeepAliveCountdown > 0) {
            --iKeepAliveCountdown;
        } else {
            sendKeepAlive();
            iKeepAliveCountdown = 1;
        }
        break;
    case 3:
        resetConnectionUi();
        iConnectionState = 0;
        break;
    default:
        break;
    }
}

void MainWindow::auxHandshake()
{
    // The greeting's reply is not examined: a silent board counts as connected.
    sendCommand(sHelloCommand, sHelloCommand.length());
    readReply();
    ui->editFromAuxPCB->setText(QStringLiteral("AuxParams"));
    ui->editToAuxPCB->setText(QString());
    ui->btnFromAuxPCB->setEnabled(true);
    ui->btnToAuxPCB->setEnabled(true);
}

void MainWindow::sendKeepAlive()
{
    sendCommand(sKeepAliveCommand, sKeepAliveCommand.length());
    readReply();
}

void MainWindow::resetConnectionUi()
{
    ui->btnConnectPort->setStyleSheet(sRedButtonStyle);
    ui->editFromAuxPCB->setText(sNoBoardText);
    ui->editToAuxPCB->setText(sNoBoardText);
    ui->btnFromAuxPCB->setEnabled(false);
    ui->btnToAuxPCB->setEnabled(false);
    iConnectionState = 0;
    MainPollingTimer->stop();
    // A file chosen for this link is not sent over the next one unasked.
    hideSendButton();
}
