// A board that hangs up: the read failure is reported once for that link,
// its later exchanges are silenced without burning the CPU, and the next
// connection reads again.

#include "modalanswerer.h"
#include "serialtransport.h"
#include "styles.h"
#include "transferfixture.h"

#include <QElapsedTimer>

using namespace WindowDriver;

class TestReadError : public QObject
{
    Q_OBJECT

private slots:
    void hungUpPortLatchesItsLinkOnly();
    void noTickRunsInsideTheWarning();
};

// One exchange; returns its count, and its wall and CPU time through the rest.
static int exchange(MainWindow &window, const QString &command, qint64 *ms = nullptr,
                    double *cpu = nullptr)
{
    const double cpuBefore = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    window.sendCommand(command, command.length());
    const int count = window.readReply();
    if (ms)
        *ms = clock.elapsed();
    if (cpu)
        *cpu = cpuSeconds() - cpuBefore;
    return count;
}

void TestReadError::hungUpPortLatchesItsLinkOnly()
{
    DumpFiles::requireDirectory();
    if (QTest::currentTestFailed())
        return;
    ModalAnswerer answerer;
    qint64 ms = 0;
    double cpu = 0;
    {
        BoardLink link;
        QVERIFY(link.start({ "--baud", "0", "--fault", "hangup-after=1" }));
        link.connect();
        QCOMPARE(exchange(*link.window, "$A9%"), 5);
        QVERIFY(link.sim.waitForFinished(5000));

        exchange(*link.window, "$C0%", &ms, &cpu);
        qInfo("hung-up port: first exchange %lld ms, %.3f s CPU", ms, cpu);
        QCOMPARE(answerer.messages(),
                 QStringList { "VYK NVRAM|Error: Read timeout on command $C0%" });
        QVERIFY2(ms < 2600 && cpu < 0.25, qPrintable(QString::number(ms)));

        // Later exchanges of this link yield nothing after the watchdog, with no new warning.
        QCOMPARE(exchange(*link.window, "$C0%", &ms, &cpu), 0);
        qInfo("latched exchange: %lld ms, %.3f s CPU", ms, cpu);
        QVERIFY(ms >= 1950 && sReply.isEmpty());
        QVERIFY2(cpu < 0.1 * ms / 1000, qPrintable(QString::number(cpu)));
    }

    // A new connection to a board that answers reads it whole.
    BoardLink fresh;
    QVERIFY(fresh.start({ "--baud", "0", "--pages", "3" }));
    QVERIFY(fresh.connectAndGreet());
    DumpFiles dumps;
    const QString name = dumps.newName();
    click(*fresh.window, "btnFromAuxPCB");
    auto *dialog = QApplication::activeModalWidget();
    QVERIFY(dialog);
    dialog->findChild<QLineEdit *>(QStringLiteral("lineEditFileName"))->setText(name);
    QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("btnOK")), Qt::LeftButton);
    QCOMPARE(readAll(DumpFiles::pathOf(name)).count('\n'), 4);
    QCOMPARE(answerer.messages().size(), 1);

    // Latched while the board keeps sending: the wait must still sleep.
    bReadError = true;
    QCOMPARE(exchange(*fresh.window, "$T041*3000,23%", &ms, &cpu), 0);
    qInfo("latched exchange, board sending: %lld ms, %.3f s CPU", ms, cpu);
    QVERIFY2(cpu < 0.1 * ms / 1000, qPrintable(QString::number(cpu)));
}

void TestReadError::noTickRunsInsideTheWarning()
{
    // The board answers one exchange and hangs up, so the greeting meets a
    // dead line. Its warning stays open over two ticks; a tick running inside
    // it would greet again and show the connected look behind the warning.
    BoardLink link;
    QVERIFY(link.start({ "--baud", "0", "--fault", "hangup-after=1" }));
    ModalAnswerer answerer;
    answerer.holdMs = 1700;
    QString shownBehind;
    answerer.beforeAnswer = [&] { shownBehind = edit(*link.window, "editFromAuxPCB")->text(); };
    link.connect();
    QCOMPARE(exchange(*link.window, "$C0%"), 5);
    QTRY_COMPARE_WITH_TIMEOUT(answerer.messages().size(), 1, 6000);
    QCOMPARE(answerer.messages().first(), "VYK NVRAM|Error: Read timeout on command $A9%");
    QCOMPARE(shownBehind, QStringLiteral("------------------"));
    QTRY_COMPARE(edit(*link.window, "editFromAuxPCB")->text(), QStringLiteral("AuxParams"));
}

QTEST_MAIN(TestReadError)
#include "tst_readerror.moc"
