#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "connection.h"
#include "styles.h"

#include <QMessageBox>
#include <QSerialPortInfo>
#include <QTimer>

namespace {

// Device paths that the system's port list cannot show (pseudo-terminals,
// for instance the simulated board), taken from the environment.
QStringList extraPortNames()
{
    const QString sList = qEnvironmentVariable(sExtraPortsVariable);
    return sList.split(QLatin1Char(':'), Qt::SkipEmptyParts);
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent),
      ui(new Ui::MainWindow),
      bDisconnectRequested(false),
      bWatchdogExpired(false)
{
    ui->setupUi(this);

    ui->btnFromAuxPCB->setStyleSheet(sGreenButtonStyle);
    ui->btnToAuxPCB->setStyleSheet(sGreenButtonStyle);

    ui->btnConnectPort->hide();

    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    ui->comboBoxSerialPorts->addItem(QString());
    for (const QSerialPortInfo &port : ports)
        ui->comboBoxSerialPorts->addItem(port.portName());
    for (const QString &sPortName : extraPortNames())
        ui->comboBoxSerialPorts->addItem(sPortName);

    serialPort.setParity(QSerialPort::NoParity);
    serialPort.setStopBits(QSerialPort::OneStop);
    serialPort.setDataBits(QSerialPort::Data8);
    serialPort.setBaudRate(QSerialPort::Baud57600, QSerialPort::AllDirections);
    // A line that fails between exchanges is let go at once; the port may
    // report it only once. Queued: the port must not be closed inside its
    // own read handler.
    connect(
            &serialPort, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) {
                if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError)
                    closeLostPort();
            },
            Qt::QueuedConnection);

    connect(&dlgUpload, SIGNAL(saveFileSelected(QString)), this, SLOT(onSaveFileSelected(QString)));
    connect(this, SIGNAL(readFileSelected(QString)), this, SLOT(onReadFileSelected(QString)));

    // Precise timers keep the keep-alive cadence and the watchdog at their
    // nominal intervals; coarse ones drift by up to 5 % per period.
    MainPollingTimer = new QTimer(this);
    MainPollingTimer->setTimerType(Qt::PreciseTimer);
    connect(MainPollingTimer, SIGNAL(timeout()), this, SLOT(MainPollingTimerElapsed()));
    serialWatchdogTimer = new QTimer(this);
    serialWatchdogTimer->setTimerType(Qt::PreciseTimer);
    connect(serialWatchdogTimer, SIGNAL(timeout()), this, SLOT(serialWatchdogTimerElapsed()));

    ui->btnSendParams->setVisible(false);
    ui->btnSendParams->setEnabled(false);
}

MainWindow::~MainWindow()
{
    delete ui;
    delete MainPollingTimer;
    delete serialWatchdogTimer;
    lowLatency.restore(serialPort.handle());
    // Closing the window drops the link without a farewell to the board.
    serialPort.close();
}

// The warning box of QMessageBox::warning, with a single OK button, and
// sDetails, when there are any, behind its "Show Details..." button. The box
// wraps its text only between words, so a word too long for a line of a
// 1024-pixel screen (a deep path, a rejected name) is shortened in its
// middle; the details give it whole.
void MainWindow::showTransferWarning(const QString &sText, const QString &sDetails)
{
    constexpr int iLongestWord = 100;
    constexpr int iKeptEachSide = 45;
    QStringList words = sText.split(QLatin1Char(' '));
    QStringList details = sDetails.isEmpty() ? QStringList() : QStringList { sDetails };
    for (QString &sWord : words) {
        if (sWord.length() > iLongestWord) {
            details << sWord;
            sWord = sWord.left(iKeptEachSide) + QChar(0x2026) + sWord.right(iKeptEachSide);
        }
    }
    QMessageBox box(QMessageBox::Warning, sMessageTitle, words.join(QLatin1Char(' ')),
                    QMessageBox::NoButton, this);
    box.setDefaultButton(box.addButton(QMessageBox::Ok));
    box.setDetailedText(details.join(QLatin1Char('\n')));
    box.exec();
}

void MainWindow::on_btnFromAuxPCB_clicked()
{
    dlgUpload.show();
}
