#ifndef QUITSIGNALS_H
#define QUITSIGNALS_H

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGHUP and SIGINT (a logout, a shutdown, Ctrl+C) end the
// application's event loops, so that it closes its port and drops its locks
// on the way out as its close button does. A transfer in progress finishes
// first: only event loops end, and a transfer is not one. One instance per
// process.
class QuitSignals : public QObject
{
    Q_OBJECT

public:
    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override;

private:
    void quit();

    QSocketNotifier *m_notifier = nullptr;
};

#endif // QUITSIGNALS_H
