#include "qtsingleapplication.h"

#include "qtlocalpeer.h"

QtSingleApplication::QtSingleApplication(const QString &id, int &argc, char **argv)
    : QApplication(argc, argv)
{
    peer = new QtLocalPeer(this, id);
    connect(peer, SIGNAL(messageReceived(QString)), SIGNAL(messageReceived(QString)));
}

QtSingleApplication::~QtSingleApplication() = default;

bool QtSingleApplication::isAnotherInstanceRunning()
{
    return peer->isSecondInstance();
}
