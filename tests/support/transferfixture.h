#ifndef TRANSFERFIXTURE_H
#define TRANSFERFIXTURE_H

#include "boardlinkfixture.h"
#include "modalanswerer.h"
#include "nvramfile.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

// Dump files in the tool's own NVRAM directory under names unique to this
// test process, removed again at the end.
class DumpFiles
{
public:
    // The tests need the directory the tool really writes to; ./test.sh
    // creates it.
    static void requireDirectory()
    {
        QVERIFY2(QFileInfo(sNvramDir).isDir() && QFileInfo(sNvramDir).isWritable(),
                 qPrintable(sNvramDir
                            + QStringLiteral(" is missing or not writable; run ./test.sh, or "
                                             "create it with: sudo install -d -o \"$USER\" -g "
                                             "dialout -m 2775 ")
                            + sNvramDir));
    }

    QString newName()
    {
        const QString name =
                QStringLiteral("tst-%1-%2").arg(QCoreApplication::applicationPid()).arg(++m_count);
        m_paths << pathOf(name);
        return name;
    }

    static QString pathOf(const QString &name) { return sNvramDir + name + sNvramExt; }

    ~DumpFiles()
    {
        for (const QString &path : qAsConst(m_paths)) {
            QFile::remove(path);
            QFile::remove(path + sPartExt);
        }
    }

private:
    int m_count = 0;
    QStringList m_paths;
};

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Logged frames that belong to a transfer, with the time each arrived:
// everything but the greeting, farewell and keep-alive.
inline QList<BoardSimProcess::LogEntry> transferEntries(const BoardSimProcess &sim)
{
    QList<BoardSimProcess::LogEntry> entries;
    for (const BoardSimProcess::LogEntry &entry : sim.log()) {
        if (entry.frame != "$A9%" && entry.frame != "$C0%")
            entries << entry;
    }
    return entries;
}

inline QList<QByteArray> transferFrames(const BoardSimProcess &sim)
{
    QList<QByteArray> frames;
    for (const BoardSimProcess::LogEntry &entry : transferEntries(sim))
        frames << entry.frame;
    return frames;
}

// The watchdog is stopped between exchanges, so a running timer of the
// window is the polling timer.
inline bool pollingTimerRunning(MainWindow &window)
{
    for (QTimer *timer : window.findChildren<QTimer *>()) {
        if (timer->isActive())
            return true;
    }
    return false;
}

// CPU time of this process so far, in seconds: a busy-waiting transfer shows here.
inline double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Answers the file chooser by typing the path into its name field, as a user
// would, or cancels it for an empty path.
inline ModalAnswerer::DialogHandler chooseFile(const QString &path)
{
    return [path](QDialog *dialog) {
        auto *chooser = qobject_cast<QFileDialog *>(dialog);
        if (!chooser)
            return;
        if (path.isEmpty()) {
            chooser->reject();
            return;
        }
        chooser->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
        static_cast<QDialog *>(chooser)->accept(); // QFileDialog checks the choice
    };
}

#endif // TRANSFERFIXTURE_H
