#include "qtsingleapplication.h"
#include "qtlocalpeer.h"
// stub, replaced by the real implementation
QtSingleApplication::QtSingleApplication(const QString &id, int &argc, char **argv) : QApplication(argc, argv) { peer = new QtLocalPeer(this, id); }
QtSingleApplication::QtSingleApplication(int &argc, char **argv) : QtSingleApplication(QString(), argc, argv) {}
QtSingleApplication::~QtSingleApplication() = default;
bool QtSingleApplication::isAnotherInstanceRunning() { return peer->isSecondInstance(); }
QString QtSingleApplication::instanceId() const { return peer->applicationId(); }
void QtSingleApplication::setWindowToActivate(QWidget *w, bool) { actWin = w; }
QWidget *QtSingleApplication::windowToActivate() const { return actWin; }
bool QtSingleApplication::sendMessage(const QString &m, int t) { return peer->sendMessage(m, t); }
void QtSingleApplication::activateWindow() {}
