#include "nvramfile.h"

// On its own, outside the library: the tests and the benchmark link a
// private directory in its place, so that they never write where the
// technicians keep their dumps.
const QString sNvramDir = QStringLiteral("/opt/VYK_PLUS/NVRAM/AUXPCB/");
