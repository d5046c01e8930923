#include "mainwindow.h"
#include "quitsignals.h"
#include "qtsingleapplication.h"

int main(int argc, char *argv[])
{
    const QString sAppId = QStringLiteral("Kalvo_AUX_NVRAM");
    QtSingleApplication app(sAppId, argc, argv);

    // A second start by the same user ends here, before any window or port exists.
    if (app.isAnotherInstanceRunning())
        return 0;

    // A logout or shutdown ends the tool as its close button does.
    QuitSignals quitSignals;
    MainWindow w;
    w.setWindowTitle(QStringLiteral("AUX NVRAM - ") + QStringLiteral("01.00.2"));
    w.show();
    return app.exec();
}
