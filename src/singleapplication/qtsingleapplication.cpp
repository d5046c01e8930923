#include "qtsingleapplication.h"

#include "qtlocalpeer.h"

#include <QWidget>

QtSingleApplication::QtSingleApplication(const QString &id, int &argc, char **argv)
    : QApplication(argc, argv)
{
    actWin = nullptr;
    peer = new QtLocalPeer(this, id);
    connect(peer, SIGNAL(messageReceived(QString)), SIGNAL(messageReceived(QString)));
}

QtSingleApplication::QtSingleApplication(int &argc, char **argv)
    : QtSingleApplication(QString(), argc, argv)
{
}

QtSingleApplication::~QtSingleApplication() = default;

bool QtSingleApplication::isAnotherInstanceRunning()
{
    return peer->isSecondInstance();
}

QString QtSingleApplication::instanceId() const
{
    return peer->applicationId();
}

bool QtSingleApplication::sendMessage(const QString &message, int timeout)
{
    return peer->sendMessage(message, timeout);
}

void QtSingleApplication::setWindowToActivate(QWidget *window, bool raiseOnMessage)
{
    actWin = window;
    // Unique, so that registering a window twice still raises it once per message.
    if (raiseOnMessage)
        connect(peer, SIGNAL(messageReceived(QString)), this, SLOT(activateWindow()),
                Qt::UniqueConnection);
    else
        disconnect(peer, SIGNAL(messageReceived(QString)), this, SLOT(activateWindow()));
}

QWidget *QtSingleApplication::windowToActivate() const
{
    return actWin;
}

void QtSingleApplication::activateWindow()
{
    if (!actWin)
        return;
    actWin->setWindowState(actWin->windowState() & ~Qt::WindowMinimized);
    actWin->raise();
    actWin->activateWindow();
}
