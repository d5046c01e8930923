// Holds or probes a QtLockedFile lock from a process of its own: fcntl
// record locks only conflict between processes, never inside one.
//
//   lockhelper hold shared|exclusive FILE   prints "locked" or "busy"; a held
//                                           lock lasts until stdin closes
//   lockhelper try shared|exclusive FILE    exit 0 if the lock could be had, 1 if not

#include "qtlockedfile.h"

#include <cstdio>
#include <cstring>

using QtLP_Private::QtLockedFile;

int main(int argc, char **argv)
{
    if (argc != 4)
        return 2;
    const bool hold = std::strcmp(argv[1], "hold") == 0;
    const QtLockedFile::LockKind kind = std::strcmp(argv[2], "shared") == 0
            ? QtLockedFile::SharedLock
            : QtLockedFile::ExclusiveLock;

    QtLockedFile file(QString::fromLocal8Bit(argv[3]));
    if (!file.open(QIODevice::ReadWrite))
        return 3;
    const bool locked = file.lock(kind, false);
    if (!hold)
        return locked ? 0 : 1;

    std::puts(locked ? "locked" : "busy");
    std::fflush(stdout);
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
    }
    return 0;
}
