#ifndef FAULTFIXTURE_H
#define FAULTFIXTURE_H

#include "transferfixture.h"

namespace Faults {

// What a transfer against a misbehaving board looked like from outside.
struct TransferRun
{
    QList<BoardSimProcess::LogEntry> frames;
    double startMs = 0;
    double endMs = 0;
    double cpuSeconds = 0;
    QStringList messages;

    double wallMs() const { return endMs - startMs; }

    // Time from each transfer frame's arrival to the next one (the last one:
    // to the end of the transfer), in ms.
    QList<double> segmentsMs() const
    {
        QList<double> segments;
        for (qsizetype i = 0; i < frames.size(); ++i)
            segments << (i + 1 < frames.size() ? frames[i + 1].ms : endMs) - frames[i].ms;
        return segments;
    }

    QList<QByteArray> frameTexts() const
    {
        QList<QByteArray> texts;
        for (const auto &entry : frames)
            texts << entry.frame;
        return texts;
    }
};

// Upper bound on the work of one exchange with a board that answers at once,
// generous enough for sanitizer builds on a loaded machine.
constexpr double iQuickExchangeMs = 600;
// Tolerance on a wait that the watchdog or the character gap ends.
constexpr double iBoundLateMs = 600;
constexpr double iBoundMs = 2000;

// Checks the segments against the predicted number of 2-s bounds in each.
inline bool segmentsAsPredicted(const TransferRun &run, const QList<int> &bounds, QString &why)
{
    const QList<double> segments = run.segmentsMs();
    if (segments.size() != bounds.size()) {
        why = QStringLiteral("%1 segments, predicted %2").arg(segments.size()).arg(bounds.size());
        return false;
    }
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const double low = bounds[i] * iBoundMs - 50;
        const double high = bounds[i] * (iBoundMs + iBoundLateMs) + iQuickExchangeMs;
        if (segments[i] < low || segments[i] > high) {
            why = QStringLiteral("segment %1 after %2 took %3 ms, predicted %4 x 2 s")
                          .arg(i)
                          .arg(QString::fromLatin1(run.frames[i].frame))
                          .arg(segments[i], 0, 'f', 0)
                          .arg(bounds[i]);
            return false;
        }
    }
    return true;
}

// A window connected to a simulated board with the given fault. The greeting
// is left out on purpose: the transfer starts before the first polling tick,
// so every frame the board logs belongs to the transfer and a silent board
// costs no extra watchdog wait before it.
class FaultyBoard
{
public:
    bool start(const QStringList &simArguments)
    {
        if (!link.start(simArguments))
            return false;
        WindowDriver::choosePort(*link.window, link.sim.portName());
        return true;
    }

    // Reads the board into the dump file `name` in the NVRAM directory.
    TransferRun read(const QString &name)
    {
        ModalAnswerer answerer;
        TransferRun run;
        WindowDriver::click(*link.window, "btnConnectPort");
        WindowDriver::button(*link.window, "btnFromAuxPCB")->setEnabled(true);
        WindowDriver::click(*link.window, "btnFromAuxPCB");
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog || dialog->objectName() != QStringLiteral("dlgUploadNVRAM"))
            return run;
        dialog->findChild<QLineEdit *>(QStringLiteral("lineEditFileName"))->setText(name);
        const double cpuBefore = cpuSeconds();
        run.startMs = BoardSimProcess::nowMs();
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("btnOK")),
                          Qt::LeftButton);
        run.endMs = BoardSimProcess::nowMs();
        run.cpuSeconds = cpuSeconds() - cpuBefore;
        run.frames = transferEntries(link.sim);
        run.messages = answerer.messages();
        return run;
    }

    // Chooses the file first, then connects and sends it at once.
    TransferRun write(const QString &path)
    {
        ModalAnswerer answerer(chooseFile(path));
        TransferRun run;
        WindowDriver::button(*link.window, "btnToAuxPCB")->setEnabled(true);
        WindowDriver::click(*link.window, "btnToAuxPCB");
        WindowDriver::click(*link.window, "btnConnectPort");
        const double cpuBefore = cpuSeconds();
        run.startMs = BoardSimProcess::nowMs();
        WindowDriver::click(*link.window, "btnSendParams");
        run.endMs = BoardSimProcess::nowMs();
        run.cpuSeconds = cpuSeconds() - cpuBefore;
        run.frames = transferEntries(link.sim);
        run.messages = answerer.messages();
        return run;
    }

    BoardLink link;
};

using Dumps = DumpFiles;

} // namespace Faults

#endif // FAULTFIXTURE_H
