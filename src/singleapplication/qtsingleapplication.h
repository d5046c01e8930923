#ifndef QTSINGLEAPPLICATION_H
#define QTSINGLEAPPLICATION_H

#include <QApplication>

class QtLocalPeer;

// QApplication that knows whether another instance of the same user runs
// and can pass text messages to it.
class QtSingleApplication : public QApplication
{
    Q_OBJECT

public:
    QtSingleApplication(const QString &id, int &argc, char **argv);
    QtSingleApplication(int &argc, char **argv);
    ~QtSingleApplication() override;

    bool isAnotherInstanceRunning();
    QString instanceId() const;

    void setWindowToActivate(QWidget *window, bool raiseOnMessage = true);
    QWidget *windowToActivate() const;

public slots:
    bool sendMessage(const QString &message, int timeout = 5000);
    void activateWindow();

signals:
    void messageReceived(const QString &message);

private:
    QtLocalPeer *peer = nullptr;
    QWidget *actWin = nullptr;
};

#endif // QTSINGLEAPPLICATION_H
