// The tests' dump directory, linked in place of the tool's: made fresh for
// each test process and removed with everything in it when the process
// ends, so that no test writes where the technicians keep their dumps, and
// nothing there can make a test fail. A file the tool would write one level
// up (a name with "../") still lands inside the private directory.

#include "nvramfile.h"

#include <QDir>
#include <QFile>

#include <cstdlib>

namespace {
struct PrivateDir
{
    QByteArray root = QFile::encodeName(QDir::tempPath()) + "/aux-nvram-test-XXXXXX";
    PrivateDir()
    {
        if (!::mkdtemp(root.data()) || !QDir(QFile::decodeName(root)).mkdir("AUXPCB"))
            qFatal("Cannot make a dump directory in %s", qPrintable(QDir::tempPath()));
    }
    ~PrivateDir() { QDir(QFile::decodeName(root)).removeRecursively(); }
} privateDir;
} // namespace

const QString sNvramDir = QFile::decodeName(privateDir.root) + "/AUXPCB/";
