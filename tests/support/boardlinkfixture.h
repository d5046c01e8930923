#ifndef BOARDLINKFIXTURE_H
#define BOARDLINKFIXTURE_H

#include "boardsimprocess.h"
#include "mainwindow.h"
#include "windowdriver.h"

#include <QtTest>
#include <memory>

// A simulated board on a pty and a main window that lists it.
struct BoardLink
{
    BoardSimProcess sim;
    std::unique_ptr<MainWindow> window;

    bool start(const QStringList &simArguments)
    {
        if (!sim.start(simArguments))
            return false;
        qputenv("AUX_NVRAM_EXTRA_PORTS", sim.portName().toLocal8Bit());
        window = std::make_unique<MainWindow>();
        qunsetenv("AUX_NVRAM_EXTRA_PORTS");
        window->show();
        return QTest::qWaitForWindowExposed(window.get());
    }

    // Chooses the board's port and clicks the connect button; returns the
    // time of the click on the simulator's clock.
    double connect()
    {
        WindowDriver::choosePort(*window, sim.portName());
        const double clickedAt = BoardSimProcess::nowMs();
        WindowDriver::click(*window, "btnConnectPort");
        return clickedAt;
    }

    // Connects and waits for the greeting that enables the transfer buttons.
    bool connectAndGreet()
    {
        connect();
        QPushButton *toBoard = WindowDriver::button(*window, "btnToAuxPCB");
        QDeadlineTimer deadline(5000);
        while (!toBoard->isEnabled() && !deadline.hasExpired())
            QTest::qWait(10);
        return toBoard->isEnabled();
    }
};

#endif // BOARDLINKFIXTURE_H
