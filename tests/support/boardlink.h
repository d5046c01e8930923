#ifndef BOARDLINK_H
#define BOARDLINK_H

#include "mainwindow.h"
#include "nvramfile.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include <functional>
#include <memory>
#include <ctime>

// Runs aux-board-sim, the simulated AUX PCB, for one test. It logs every
// frame it receives, as "<CLOCK_MONOTONIC ms> <frame>", into a file of a
// temporary directory of this object.
class BoardSimProcess
{
public:
    // A logged frame's time and bytes; a line feed in it reads "\n".
    using LogEntry = QPair<double, QByteArray>;

    BoardSimProcess() { m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel); }
    ~BoardSimProcess()
    {
        m_process.terminate();
        m_process.waitForFinished();
    }

    // Starts the simulator and waits for its pseudo-terminal's path.
    bool start(const QStringList &args = {})
    {
        m_process.start(AUX_BOARD_SIM_PATH, QStringList(args) << "--log" << m_dir.filePath("log"));
        while (m_process.waitForStarted() && !m_process.canReadLine()
               && m_process.waitForReadyRead()) {
        }
        m_portName = QString::fromLocal8Bit(m_process.readLine().trimmed());
        return !m_portName.isEmpty();
    }
    QString portName() const { return m_portName; }

    QList<LogEntry> log() const
    {
        QFile file(m_dir.filePath("log"));
        QList<LogEntry> entries;
        for (const QByteArray &line :
             (file.open(QIODevice::ReadOnly) ? file.readAll() : "").split('\n')) {
            if (line.contains(' '))
                entries.append({ line.left(line.indexOf(' ')).toDouble(),
                                 line.mid(line.indexOf(' ') + 1).replace(" INCOMPLETE", "") });
        }
        return entries;
    }
    QList<QByteArray> frames() const
    {
        QList<QByteArray> frames;
        for (const LogEntry &entry : log())
            frames << entry.second;
        return frames;
    }
    // Now on the clock of the log's time stamps.
    static double nowMs() { return double(QDeadlineTimer::current().deadlineNSecs()) / 1e6; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_portName;
};

// Drives the window the way a technician does.
namespace WindowDriver {
inline QPushButton *button(QWidget &window, const char *name)
{
    return window.findChild<QPushButton *>(QLatin1String(name));
}
inline QLineEdit *edit(QWidget &window, const char *name)
{
    return window.findChild<QLineEdit *>(QLatin1String(name));
}
inline void click(QWidget &window, const char *name)
{
    QTest::mouseClick(button(window, name), Qt::LeftButton);
}
// Steps through the port list with the arrow keys; each step activates an entry.
inline bool choosePort(QWidget &window, const QString &port)
{
    auto *combo = window.findChild<QComboBox *>("comboBoxSerialPorts");
    const int target = combo->findText(port);
    combo->setFocus();
    if (target >= 0 && combo->currentIndex() == target)
        QTest::keyClick(combo, Qt::Key_Up);
    while (target >= 0 && combo->currentIndex() != target)
        QTest::keyClick(combo, combo->currentIndex() < target ? Qt::Key_Down : Qt::Key_Up);
    return target >= 0;
}
// Not connected: a red COMMS button, dashes in both fields, nothing to
// click but COMMS, and no timer running.
inline void verifyDisconnectedLook(QWidget &window)
{
    QVERIFY(button(window, "btnConnectPort")->styleSheet().contains("background-color: red"));
    QCOMPARE(edit(window, "editFromAuxPCB")->text(), QStringLiteral("------------------"));
    QCOMPARE(edit(window, "editToAuxPCB")->text(), QStringLiteral("------------------"));
    QVERIFY(!button(window, "btnFromAuxPCB")->isEnabled());
    QVERIFY(!button(window, "btnToAuxPCB")->isEnabled());
    QVERIFY(!button(window, "btnSendParams")->isVisible());
    for (QTimer *timer : window.findChildren<QTimer *>())
        QVERIFY(!timer->isActive());
}
} // namespace WindowDriver

// CPU time of this process so far, in seconds: a busy wait shows here.
inline double cpuSeconds()
{
    return double(std::clock()) / CLOCKS_PER_SEC;
}

// Answers modal message boxes (recorded as "title|text", closed with OK)
// and file choosers (given path typed in, or cancelled when it is empty)
// from a timer that runs inside their event loops. A box shown while the
// name dialog is still open is recorded as such: the dialog must be gone
// before the read that ends in the box.
class ModalAnswerer
{
public:
    explicit ModalAnswerer(const QString &chosenFile = QString()) : m_file(chosenFile)
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { answer(); });
        m_timer.start(20);
    }
    QStringList messages() const { return m_messages; }
    QStringList details() const { return m_details; } // of the boxes that have them
    // The last chooser's directory and filters, as "dir|filter;filter".
    QString chooser() const { return m_chooser; }
    // Keeps the first message box open for ms; heldMs tells for how long it
    // was open, once it is closed.
    void holdFirstBox(int ms) { m_holdMs = ms; }
    qint64 heldMs = -1;

private:
    void answer()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            if (m_holdMs > 0 && !m_held.isValid())
                m_held.start();
            if (m_holdMs > 0 && m_held.elapsed() < m_holdMs)
                return;
            if (std::exchange(m_holdMs, 0) > 0)
                heldMs = m_held.elapsed();
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                if (widget->isVisible() && widget->inherits("dlgUploadNVRAM"))
                    m_messages << "name dialog still open";
            }
            // Every box must fit the narrowest screen the tool runs on.
            if (box->frameGeometry().width() > 1024)
                m_messages << "box wider than 1024 pixels";
            m_messages << box->windowTitle() + '|' + box->text();
            if (!box->detailedText().isEmpty())
                m_details << box->detailedText();
            box->button(QMessageBox::Ok)->click();
        } else if (auto *chooser = qobject_cast<QFileDialog *>(modal)) {
            m_chooser = chooser->directory().path() + '|' + chooser->nameFilters().join(';');
            chooser->findChild<QLineEdit *>("fileNameEdit")->setText(m_file);
            // QFileDialog's own accept() checks the choice.
            m_file.isEmpty() ? chooser->reject() : static_cast<QDialog *>(chooser)->accept();
        }
    }

    QTimer m_timer;
    int m_holdMs = 0;
    QElapsedTimer m_held;
    QString m_file;
    QString m_chooser;
    QStringList m_messages;
    QStringList m_details;
};

// A simulated board on a pty and a main window that lists its port.
struct BoardLink
{
    BoardSimProcess sim;
    std::unique_ptr<MainWindow> window;

    bool start(const QStringList &simArguments)
    {
        if (!sim.start(simArguments))
            return false;
        // Ports a test has named come after the board's.
        qputenv("AUX_NVRAM_EXTRA_PORTS",
                sim.portName().toLocal8Bit() + ':' + qgetenv("AUX_NVRAM_EXTRA_PORTS"));
        window = std::make_unique<MainWindow>();
        qunsetenv("AUX_NVRAM_EXTRA_PORTS");
        window->show();
        return QTest::qWaitForWindowExposed(window.get());
    }
    // Chooses the board's port and clicks connect; returns the click's time.
    double connect()
    {
        WindowDriver::choosePort(*window, sim.portName());
        const double clickedAt = BoardSimProcess::nowMs();
        WindowDriver::click(*window, "btnConnectPort");
        return clickedAt;
    }
    // Connects and greets the board at once, as the first tick would 750 ms
    // later: the ticks' timing is the connection test's concern, not every
    // transfer's.
    bool connectAndGreet()
    {
        connect();
        QMetaObject::invokeMethod(window.get(), "MainPollingTimerElapsed");
        return WindowDriver::button(*window, "btnToAuxPCB")->isEnabled();
    }
    // Clicks "Enter", types the name and clicks the dialog's button: the
    // read runs inside that click.
    void readInto(const QString &name, const char *dialogButton = "btnOK")
    {
        WindowDriver::click(*window, "btnFromAuxPCB");
        QWidget *dialog = QApplication::activeModalWidget();
        WindowDriver::edit(*dialog, "lineEditFileName")->setText(name);
        WindowDriver::click(*dialog, dialogButton);
    }
};

// Reads at most 16 MiB: a device such as /dev/full never ends.
inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(16 << 20) : QByteArray();
}

inline bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

#endif // BOARDLINK_H
