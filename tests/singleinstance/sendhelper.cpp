// A second start of a QtSingleApplication that hands a message to the primary.
//
//   sendhelper ID MESSAGE    exit 0: delivered and acknowledged, 1: not delivered,
//                            2: no primary was running, this process became it

#include "qtsingleapplication.h"

int main(int argc, char **argv)
{
    if (argc != 3)
        return 3;
    const QString id = QString::fromUtf8(argv[1]);
    const QString message = QString::fromUtf8(argv[2]);
    QtSingleApplication app(id, argc, argv);
    if (!app.isAnotherInstanceRunning())
        return 2;
    return app.sendMessage(message) ? 0 : 1;
}
