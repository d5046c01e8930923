#include "boardsimprocess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTest>

#include <time.h>

namespace {

QString logPathIn(const QTemporaryDir &dir)
{
    return dir.filePath(QStringLiteral("frames.log"));
}

// The simulator writes a line feed in a frame as "\n" and a backslash as "\\".
QByteArray unescape(const QByteArray &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
            out += text[i] == 'n' ? '\n' : text[i];
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

BoardSimProcess::BoardSimProcess()
{
    // The simulator's complaints belong in the test output.
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

BoardSimProcess::~BoardSimProcess()
{
    stop();
}

bool BoardSimProcess::start(const QStringList &args, int timeoutMs)
{
    stop();
    m_portName.clear();
    if (!m_dir.isValid())
        return false;
    QFile::remove(logPathIn(m_dir));
    m_process.start(programPath(),
                    QStringList(args) << QStringLiteral("--log") << logPathIn(m_dir));
    QDeadlineTimer deadline(timeoutMs);
    if (!m_process.waitForStarted(timeoutMs))
        return false;
    while (!m_process.canReadLine()) {
        if (deadline.hasExpired() || !m_process.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    m_portName = QString::fromLocal8Bit(m_process.readLine().trimmed());
    return !m_portName.isEmpty();
}

QString BoardSimProcess::portName() const
{
    return m_portName;
}

QList<BoardSimProcess::LogEntry> BoardSimProcess::log() const
{
    static const QByteArray incompleteMark(" INCOMPLETE");
    QList<LogEntry> entries;
    QFile file(logPathIn(m_dir));
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const qsizetype space = line.indexOf(' ');
        if (space < 0)
            continue; // the empty piece after the last line feed
        LogEntry entry;
        entry.ms = line.left(space).toDouble();
        QByteArray frame = line.mid(space + 1);
        // A complete frame ends in '%', so the mark cannot be frame text.
        entry.incomplete = frame.endsWith(incompleteMark);
        if (entry.incomplete)
            frame.chop(incompleteMark.size());
        entry.frame = unescape(frame);
        entries.append(entry);
    }
    return entries;
}

QList<QByteArray> BoardSimProcess::frames() const
{
    QList<QByteArray> result;
    for (const LogEntry &entry : log())
        result.append(entry.frame);
    return result;
}

bool BoardSimProcess::waitForFrames(int count, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return log().size() >= count; }, timeoutMs);
}

void BoardSimProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool BoardSimProcess::waitForFinished(int timeoutMs)
{
    return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(timeoutMs);
}

bool BoardSimProcess::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

int BoardSimProcess::exitCode() const
{
    return m_process.exitCode();
}

QProcess::ExitStatus BoardSimProcess::exitStatus() const
{
    return m_process.exitStatus();
}

qint64 BoardSimProcess::processId() const
{
    return m_process.processId();
}

QString BoardSimProcess::programPath()
{
    return QStringLiteral(AUX_BOARD_SIM_PATH);
}

double BoardSimProcess::nowMs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}
