// Preloaded into the real tool (LD_PRELOAD): once its event loop runs, this
// prints the main window's title and closes the window as its close button
// does, so that a test sees the tool's own title and exit status.

#include <QApplication>
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
                window->close();
            }
        }
    });
}
Q_COREAPP_STARTUP_FUNCTION(closeMainWindowOnceRunning)
