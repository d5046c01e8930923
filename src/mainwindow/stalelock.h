#ifndef STALELOCK_H
#define STALELOCK_H

#include <QString>

// A serial port's lock file ("LCK..ttyUSB0") left by a program that no
// longer runs, which this user may not remove (another user's, in a sticky
// lock directory): a sentence naming it, its owner and what to do. Empty
// when there is no such file.
QString staleLockText(const QString &sPortName);

#endif // STALELOCK_H
