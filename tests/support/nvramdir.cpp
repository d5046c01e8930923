// The tests' dump directory, linked in place of the tool's: made fresh for
// each test process and removed with everything in it when the process
// ends, so that no test writes where the technicians keep their dumps, and
// nothing there can make a test fail. A file the tool would write one level
// up (a name with "../") still lands inside the private directory.

#include "nvramfile.h"

#include <QDir>
#include <QTemporaryDir>

static QTemporaryDir privateDir(QDir::tempPath() + "/aux-nvram-test-XXXXXX");

static QString privateDumpDir()
{
    if (!privateDir.isValid() || !QDir(privateDir.path()).mkdir("AUXPCB"))
        qFatal("Cannot make a dump directory in %s", qPrintable(QDir::tempPath()));
    return privateDir.path() + "/AUXPCB/";
}

const QString sNvramDir = privateDumpDir();
