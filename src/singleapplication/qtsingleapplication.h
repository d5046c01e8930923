#ifndef QTSINGLEAPPLICATION_H
#define QTSINGLEAPPLICATION_H

#include <QApplication>

class QtLocalPeer;

// QApplication that knows whether another instance of the same user runs.
// The first one listens for messages; a later start only ends.
class QtSingleApplication : public QApplication
{
    Q_OBJECT

public:
    QtSingleApplication(const QString &id, int &argc, char **argv);
    ~QtSingleApplication() override;

    bool isAnotherInstanceRunning();

signals:
    void messageReceived(const QString &message);

private:
    QtLocalPeer *peer = nullptr;
};

#endif // QTSINGLEAPPLICATION_H
