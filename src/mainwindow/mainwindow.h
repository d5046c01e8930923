#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "dlguploadnvram.h"
#include "lowlatency.h"
#include "nvramlines.h"

#include <QMainWindow>
#include <QSerialPort>
#include <QString>

QT_BEGIN_NAMESPACE
namespace Ui {
class MainWindow;
}
class QFile;
class QTimer;
QT_END_NAMESPACE
class NvramReport;

// The tool's only window. It owns the serial port, the two timers and the
// file-name dialog; the board link and the NVRAM transfers are its methods,
// each group in a source file of its own.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Board link (serialtransport.cpp): one exchange is sendCommand, then readReply.
    void sendCommand(const QString &sCommand, int iLength);
    int readReply();
    // Before a transfer's first command: waits for a late answer to an
    // exchange that got none, so that it cannot pass for the transfer's.
    void settleAfterSilence();

    // NVRAM transfers (nvramread.cpp, nvramwrite.cpp).
    QString formatPageNumber(int page, int width) const;
    void readNvramToFile(const QString &path);
    void writeNvramFromFile(const QString &path);

signals:
    void readFileSelected(QString name);

private slots:
    void on_btnConnectPort_clicked();
    void on_comboBoxSerialPorts_textActivated(const QString &arg1);
    void on_btnFromAuxPCB_clicked();
    void on_btnToAuxPCB_clicked();
    void onSaveFileSelected(QString sFileName);
    void onReadFileSelected(QString sFileName);
    void MainPollingTimerElapsed();
    void serialWatchdogTimerElapsed();
    void on_btnSendParams_clicked();

private:
    bool openSerialPort();
    int collectReply();
    int readSerialByte();
    bool serialPortFailed() const;
    void waitForSerialData(int msecs);
    bool drainLine(bool bAwaitHash);
    void closeLostPort();
    void hideSendButton();
    void showTransferWarning(const QString &sText, const QString &sDetails);

    void readNvramPages(QFile &file, const QString &sPartPath, NvramReport &report);

    void auxHandshake();
    void sendKeepAlive();
    void pollConnection();
    void resetConnectionUi();

    Ui::MainWindow *ui;
    bool bDisconnectRequested;
    bool bWatchdogExpired;
    // The port was closed because its line failed; until COMMS is clicked
    // the window still counts as connected.
    bool bPortLost = false;
    QSerialPort serialPort;
    LowLatencyRequest lowLatency; // of serialPort while it is open
    dlgUploadNVRAM dlgUpload;
    QTimer *MainPollingTimer = nullptr;
    QTimer *serialWatchdogTimer = nullptr;
    QString sUploadPath;
    std::optional<FileStamp> uploadStamp; // of sUploadPath when it was chosen
};

#endif // MAINWINDOW_H
