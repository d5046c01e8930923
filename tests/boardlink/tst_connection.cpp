// The life of a connection, timed against the simulated board's own log.
// The keep-alive phase carries over between connections of one run, so the
// order of the test functions matters here.

#include "connection.h"
#include "modalanswerer.h"
#include "transferfixture.h"

#include <QTimer>

using namespace WindowDriver;

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void greetingThenKeepAliveCadence();
    void phaseCarriesIntoNextConnection();
    void twoClicksWithinOneInterval();
    void silentBoardStillConnects();
    void otherPortChosenWhileConnected();
    void unopenablePort();
};

static const QString sDashes = QStringLiteral("------------------");

static QList<QByteArray> framesOf(const QList<BoardSimProcess::LogEntry> &log)
{
    QList<QByteArray> frames;
    for (const auto &entry : log)
        frames << entry.frame;
    return frames;
}

static void verifyAt(const BoardSimProcess::LogEntry &entry, double clickedAt, double expectedMs)
{
    const double at = entry.ms - clickedAt;
    qInfo("%s at %.1f ms after the click", entry.frame.constData(), at);
    QVERIFY2(at > expectedMs - 60 && at < expectedMs + 120,
             qPrintable(QStringLiteral("%1 at %2 ms, expected about %3 ms")
                                .arg(QString::fromLatin1(entry.frame))
                                .arg(at)
                                .arg(expectedMs)));
}

static void verifyNotConnectedLook(MainWindow &window)
{
    QCOMPARE(button(window, "btnConnectPort")->styleSheet(),
             QStringLiteral("QPushButton{border-style: solid;border-color: gray;border-width: 4px;"
                            "border-radius: 115px;background-color: red;color: black}"
                            "QPushButton:pressed {border-style: inset;border: 1px solid #00009c}"));
    QCOMPARE(edit(window, "editFromAuxPCB")->text(), sDashes);
    QCOMPARE(edit(window, "editToAuxPCB")->text(), sDashes);
    QVERIFY(!button(window, "btnFromAuxPCB")->isEnabled());
    QVERIFY(!button(window, "btnToAuxPCB")->isEnabled());
    QVERIFY(!button(window, "btnSendParams")->isVisible());
    for (QTimer *timer : window.findChildren<QTimer *>())
        QVERIFY(!timer->isActive());
}

void TestConnection::greetingThenKeepAliveCadence()
{
    BoardLink link;
    QVERIFY(link.start({}));
    QVERIFY(!button(*link.window, "btnConnectPort")->isVisible());
    QVERIFY(choosePort(*link.window, link.sim.portName()));
    QVERIFY(button(*link.window, "btnConnectPort")->isVisible());

    const double clickedAt = link.connect();
    QVERIFY(button(*link.window, "btnConnectPort")->styleSheet().contains("green"));
    QVERIFY(link.sim.frames().isEmpty()); // nothing is sent at the click itself

    QTRY_VERIFY_WITH_TIMEOUT(link.sim.frames().size() >= 4, 7000);
    QCOMPARE(edit(*link.window, "editFromAuxPCB")->text(), QStringLiteral("AuxParams"));
    QCOMPARE(edit(*link.window, "editToAuxPCB")->text(), QString());
    QVERIFY(button(*link.window, "btnFromAuxPCB")->isEnabled());
    QVERIFY(button(*link.window, "btnToAuxPCB")->isEnabled());

    const QList<BoardSimProcess::LogEntry> log = link.sim.log();
    QCOMPARE(framesOf(log).mid(0, 4), (QList<QByteArray> { "$A9%", "$C0%", "$C0%", "$C0%" }));
    verifyAt(log.at(0), clickedAt, 750);
    verifyAt(log.at(1), clickedAt, 2250);
    verifyAt(log.at(2), clickedAt, 3750);
    verifyAt(log.at(3), clickedAt, 5250);

    // A file chosen for this link is not offered for the next one.
    QTemporaryDir scratch;
    const QString upload = scratch.filePath(QStringLiteral("upload.nvr"));
    QVERIFY(writeAll(upload, "Page Number | Value | Description\n"));
    {
        ModalAnswerer answerer(chooseFile(upload));
        click(*link.window, "btnToAuxPCB");
    }
    QVERIFY(button(*link.window, "btnSendParams")->isVisible());

    // Disconnect after a counting tick, so the countdown ends this connection at 0.
    QTRY_COMPARE_WITH_TIMEOUT(iKeepAliveCountdown, 0, 1500);
    const int before = link.sim.frames().size();
    click(*link.window, "btnConnectPort");
    QTRY_VERIFY_WITH_TIMEOUT(iConnectionState == 0, 2000);
    QCOMPARE(link.sim.frames().mid(before), QList<QByteArray> { "$A9%" });
    verifyNotConnectedLook(*link.window);
}

void TestConnection::phaseCarriesIntoNextConnection()
{
    // The previous connection ended with the countdown at 0, so the first
    // tick after this greeting already sends the keep-alive.
    QCOMPARE(iKeepAliveCountdown, 0);
    BoardLink link;
    QVERIFY(link.start({}));
    const double clickedAt = link.connect();
    QTRY_VERIFY_WITH_TIMEOUT(link.sim.frames().size() >= 2, 3000);
    const QList<BoardSimProcess::LogEntry> log = link.sim.log();
    QCOMPARE(framesOf(log).mid(0, 2), (QList<QByteArray> { "$A9%", "$C0%" }));
    verifyAt(log.at(0), clickedAt, 750);
    verifyAt(log.at(1), clickedAt, 1500);
}

void TestConnection::twoClicksWithinOneInterval()
{
    BoardLink link;
    QVERIFY(link.start({}));
    link.connect();
    click(*link.window, "btnConnectPort");
    QTRY_VERIFY_WITH_TIMEOUT(!link.sim.frames().isEmpty(), 2000);
    QTRY_VERIFY_WITH_TIMEOUT(iConnectionState == 0, 2000);
    QCOMPARE(link.sim.frames(), QList<QByteArray> { "$A9%" });
    verifyNotConnectedLook(*link.window);
}

void TestConnection::silentBoardStillConnects()
{
    BoardLink link;
    QVERIFY(link.start({ QStringLiteral("--fault"), QStringLiteral("silent") }));
    const double clickedAt = link.connect();
    QTRY_VERIFY_WITH_TIMEOUT(button(*link.window, "btnFromAuxPCB")->isEnabled(), 4000);
    const double enabledAfter = BoardSimProcess::nowMs() - clickedAt;
    qInfo("transfer buttons enabled %.1f ms after the click", enabledAfter);
    QVERIFY2(enabledAfter > 2700 && enabledAfter < 3050, qPrintable(QString::number(enabledAfter)));
    QCOMPARE(iConnectionState, 2);
    QVERIFY(button(*link.window, "btnToAuxPCB")->isEnabled());
}

void TestConnection::otherPortChosenWhileConnected()
{
    BoardSimProcess second;
    QVERIFY(second.start({}));
    BoardLink link;
    QVERIFY(link.sim.start({}));
    qputenv("AUX_NVRAM_EXTRA_PORTS", (link.sim.portName() + ':' + second.portName()).toLocal8Bit());
    link.window = std::make_unique<MainWindow>();
    qunsetenv("AUX_NVRAM_EXTRA_PORTS");
    link.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(link.window.get()));

    link.connect();
    QTRY_VERIFY_WITH_TIMEOUT(iConnectionState == 2, 2000);
    QVERIFY(choosePort(*link.window, second.portName()));
    QVERIFY(button(*link.window, "btnConnectPort")->styleSheet().contains("red"));
    QCOMPARE(iConnectionState, 2); // the old link stays up

    click(*link.window, "btnConnectPort"); // disconnects the first board
    QTRY_VERIFY_WITH_TIMEOUT(iConnectionState == 0, 2000);
    QCOMPARE(link.sim.frames().last(), QByteArray("$A9%"));
    QVERIFY(second.frames().isEmpty());

    click(*link.window, "btnConnectPort"); // opens the newly chosen one
    QTRY_VERIFY_WITH_TIMEOUT(!second.frames().isEmpty(), 2000);
    QCOMPARE(second.frames().first(), QByteArray("$A9%"));
}

void TestConnection::unopenablePort()
{
    const QString missing = QStringLiteral("/dev/aux-nvram-no-such-port");
    qputenv("AUX_NVRAM_EXTRA_PORTS", missing.toLocal8Bit());
    MainWindow window;
    qunsetenv("AUX_NVRAM_EXTRA_PORTS");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    ModalAnswerer answerer;
    QVERIFY(choosePort(window, missing));
    click(window, "btnConnectPort");
    QCOMPARE(answerer.messages(),
             QStringList {
                     QStringLiteral("VYK NVRAM|Can't open aux-nvram-no-such-port, error code 1 "
                                    "No such file or directory") });
    verifyNotConnectedLook(window);
    QVERIFY(button(window, "btnConnectPort")->isVisible());
}

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
