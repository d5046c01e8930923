#ifndef TRANSFERFIXTURE_H
#define TRANSFERFIXTURE_H

#include "boardlinkfixture.h"
#include "nvramfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

// Dump files in the tool's own NVRAM directory under names unique to this
// test process, removed again at the end.
class DumpFiles
{
public:
    bool ready()
    {
        return QDir().mkpath(sNvramDir) && QFileInfo(sNvramDir).isWritable();
    }

    QString newName()
    {
        const QString name = QStringLiteral("tst-%1-%2").arg(QCoreApplication::applicationPid()).arg(++m_count);
        m_paths << pathOf(name);
        return name;
    }

    static QString pathOf(const QString &name) { return sNvramDir + name + sNvramExt; }

    ~DumpFiles()
    {
        for (const QString &path : qAsConst(m_paths))
            QFile::remove(path);
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

// The frames of a transfer: everything but the greeting, farewell and keep-alive.
inline QList<QByteArray> transferFrames(const BoardSimProcess &sim)
{
    QList<QByteArray> frames;
    for (const QByteArray &frame : sim.frames()) {
        if (frame != "$A9%" && frame != "$C0%")
            frames << frame;
    }
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

#endif // TRANSFERFIXTURE_H
