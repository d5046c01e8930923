// Preloaded into the real tool (LD_PRELOAD): once its event loop runs, this
// prints the main window's title and closes the window as its close button
// does, so that a test sees the tool's own title and exit status. Given a
// port (AUX_NVRAM_EXTRA_PORTS), it connects to it instead and leaves the
// tool running.

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <cstdio>

static void closeMainWindowOnceRunning()
{
    QTimer::singleShot(0, [] {
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (window->inherits("MainWindow") && window->isVisible()) {
                std::printf("%s\n", qPrintable(window->windowTitle()));
                std::fflush(stdout);
                const QString port = qEnvironmentVariable("AUX_NVRAM_EXTRA_PORTS");
                if (port.isEmpty()) {
                    window->close();
                    continue;
                }
                emit window->findChild<QComboBox *>()->textActivated(port);
                window->findChild<QPushButton *>("btnConnectPort")->click();
            }
        }
    });
}
Q_COREAPP_STARTUP_FUNCTION(closeMainWindowOnceRunning)
