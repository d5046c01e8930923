#ifndef PTYHARNESS_H
#define PTYHARNESS_H

#include "mainwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

// A main window whose serial port is the slave end of a pty that the
// harness holds the master of, connected through the window's own controls.
struct PtyWindow
{
    int master = -1;
    MainWindow *window = nullptr;

    void open()
    {
        static int argc = 1;
        static char name[] = "fuzz";
        static char *argv[] = { name, nullptr };
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new QApplication(argc, argv);

        int slave = -1;
        char path[256] = {};
        if (openpty(&master, &slave, path, nullptr, nullptr) != 0) {
            std::perror("openpty");
            std::abort();
        }
        termios raw {};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        // Keeping the slave open means the master never reads EIO.
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

        qputenv("AUX_NVRAM_EXTRA_PORTS", path);
        window = new MainWindow;
        auto *ports = window->findChild<QComboBox *>(QStringLiteral("comboBoxSerialPorts"));
        const int index = ports->findText(QString::fromLocal8Bit(path));
        if (index < 0) {
            std::fprintf(stderr, "pty %s not listed\n", path);
            std::abort();
        }
        ports->setCurrentIndex(index);
        QMetaObject::invokeMethod(ports, "textActivated", Q_ARG(QString, ports->itemText(index)));
        window->findChild<QPushButton *>(QStringLiteral("btnConnectPort"))->click();

        // A transfer's closing warning runs its own event loop; this closes it.
        auto *closer = new QTimer(qApp);
        QObject::connect(closer, &QTimer::timeout, [] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                box->accept();
        });
        closer->start(1);
    }

    // Reads whatever the tool has sent so far.
    QByteArray drain() const
    {
        QByteArray bytes;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(master, buffer, sizeof buffer)) > 0)
            bytes.append(buffer, n);
        return bytes;
    }
};

#endif // PTYHARNESS_H
