#include "qtlocalpeer.h"
// stub, replaced by the real implementation
const char *QtLocalPeer::ack = "ack";
QtLocalPeer::QtLocalPeer(QObject *parent, const QString &appId) : QObject(parent), id(appId) {}
bool QtLocalPeer::isSecondInstance() { return false; }
bool QtLocalPeer::sendMessage(const QString &, int) { return false; }
void QtLocalPeer::receiveConnection() {}
