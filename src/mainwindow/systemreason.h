#ifndef SYSTEMREASON_H
#define SYSTEMREASON_H

#include <QString>

// The system's reason for an errno value, in English whatever the locale:
// the tool's texts are English, and strerror would give the locale's
// language in its own encoding ("Système de fichiers..." in Latin-1).
QString systemReason(int error);

#endif // SYSTEMREASON_H
