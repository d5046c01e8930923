// A board that hangs up: the read failure is reported once per run and every
// later exchange is silenced, without burning the CPU.

#include "modalanswerer.h"
#include "transferfixture.h"
#include "serialtransport.h"

#include <QElapsedTimer>

class TestReadError : public QObject
{
    Q_OBJECT

private slots:
    void hungUpPortReportedOnceThenLatched();
};

static int exchange(MainWindow &window, const QString &command)
{
    window.sendCommand(command, command.length());
    return window.readReply();
}

void TestReadError::hungUpPortReportedOnceThenLatched()
{
    ModalAnswerer answerer;
    {
        BoardLink link;
        QVERIFY(link.start({ QStringLiteral("--baud"), QStringLiteral("0"),
                             QStringLiteral("--fault"), QStringLiteral("hangup-after=1") }));
        link.connect();
        QCOMPARE(exchange(*link.window, QStringLiteral("$A9%")), 5);
        QVERIFY(link.sim.waitForFinished(5000));

        const double cpuBefore = cpuSeconds();
        QElapsedTimer clock;
        clock.start();
        exchange(*link.window, QStringLiteral("$C0%"));
        const qint64 elapsed = clock.elapsed();
        const double cpuUsed = cpuSeconds() - cpuBefore;
        QCOMPARE(answerer.messages(),
                 QStringList { QStringLiteral("VYK NVRAM|Error: Read timeout on command $C0%") });
        QVERIFY(bReadError);
        QVERIFY2(elapsed < 2600, qPrintable(QString::number(elapsed)));
        QVERIFY2(cpuUsed < 0.25, qPrintable(QString::number(cpuUsed)));

        // Later exchanges yield nothing after the watchdog, with no new warning.
        clock.restart();
        const double cpuBeforeSilent = cpuSeconds();
        QCOMPARE(exchange(*link.window, QStringLiteral("$C0%")), 0);
        QVERIFY(clock.elapsed() >= 1950);
        const double cpuSilent = cpuSeconds() - cpuBeforeSilent;
        qInfo("latched exchange: %lld ms, %.3f s CPU", clock.elapsed(), cpuSilent);
        QVERIFY2(cpuSilent < 0.1, qPrintable(QString::number(cpuSilent)));
        QVERIFY(sReply.isEmpty());
        qInfo("hung-up port: first exchange %lld ms, %.3f s CPU", elapsed, cpuUsed);
    }

    // A new connection to a healthy board stays silenced for the rest of the run.
    BoardLink fresh;
    QVERIFY(fresh.start({ QStringLiteral("--baud"), QStringLiteral("0") }));
    fresh.connect();
    QCOMPARE(exchange(*fresh.window, QStringLiteral("$A9%")), 0);
    QVERIFY(sReply.isEmpty());
    QCOMPARE(answerer.messages().size(), 1);
}

QTEST_MAIN(TestReadError)
#include "tst_readerror.moc"
