// The main window as it stands after construction: every widget, the images
// and the port list.

#include "mainwindow.h"

#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QStatusBar>
#include <QtTest>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void widgetTree_data();
    void widgetTree();
    void windowAndImages();
    void portList();
    void extraPortsFromEnvironment();
    void resizingMovesNothing();
    void blankPortEntryChangesNothing();
};

static const QString sDashes = QStringLiteral("------------------");
static const QString sFormYellow = QStringLiteral("\nbackground-color: rgb(246, 211, 45);");
static const QString sGreenButton =
        QStringLiteral("QPushButton{border-style: solid;border-color: gray;border-width: 3px;"
                       "background-color: green;color: black}"
                       "QPushButton:pressed {border-style: inset;border: 1px solid #00009c;}");

void TestMainWindow::widgetTree_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("styleSheet");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("visible");

    const QString central = QStringLiteral("centralwidget");
    QTest::newRow("comboBoxSerialPorts") << "QComboBox" << central << QRect(265, 10, 111, 25)
                                         << QString() << QString() << true << true;
    QTest::newRow("editFromAuxPCB") << "QLineEdit" << central << QRect(160, 119, 151, 25) << sDashes
                                    << sFormYellow << true << true;
    QTest::newRow("editToAuxPCB") << "QLineEdit" << central << QRect(160, 149, 151, 25) << sDashes
                                  << sFormYellow << true << true;
    QTest::newRow("btnConnectPort") << "QPushButton" << central << QRect(280, 40, 71, 21) << "COMMS"
                                    << QString() << true << false;
    QTest::newRow("btnFromAuxPCB") << "QPushButton" << central << QRect(100, 120, 51, 21) << "Enter"
                                   << sGreenButton << false << true;
    QTest::newRow("btnToAuxPCB") << "QPushButton" << central << QRect(100, 150, 51, 21) << "Enter"
                                 << sGreenButton << false << true;
    QTest::newRow("label_2") << "QLabel" << central << QRect(390, 10, 81, 17) << "Serial Port"
                             << QString() << true << true;
    QTest::newRow("label_3") << "QLabel" << central << QRect(320, 120, 101, 17) << "From AUX PCB"
                             << QString() << true << true;
    QTest::newRow("label_4") << "QLabel" << central << QRect(320, 150, 101, 17) << "To AUX PCB"
                             << QString() << true << true;
    QTest::newRow("label") << "QLabel" << central << QRect(0, 4, 101, 101) << QString() << QString()
                           << true << true;
    QTest::newRow("btnSendParams") << "QPushButton" << central << QRect(190, 190, 89, 25) << "SEND"
                                   << QString() << false << false;
    QTest::newRow("menubar") << "QMenuBar"
                             << "MainWindow" << QRect(0, 0, 482, 22) << QString() << QString()
                             << true << true;
}

static QString widgetText(QWidget *widget)
{
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        return edit->text();
    if (auto *button = qobject_cast<QPushButton *>(widget))
        return button->text();
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->text();
    if (auto *combo = qobject_cast<QComboBox *>(widget))
        return combo->currentText();
    return QString();
}

void TestMainWindow::widgetTree()
{
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(QString, styleSheet);
    QFETCH(bool, enabled);
    QFETCH(bool, visible);

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QString name = QString::fromLatin1(QTest::currentDataTag());
    auto *widget = window.findChild<QWidget *>(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
    if (name != QLatin1String("menubar"))
        QCOMPARE(widget->geometry(), geometry);
    else
        QCOMPARE(widget->geometry().topLeft(), geometry.topLeft());
    QCOMPARE(widgetText(widget), text);
    QCOMPARE(widget->styleSheet(), styleSheet);
    QCOMPARE(widget->isEnabled(), enabled);
    QCOMPARE(widget->isVisible(), visible);
}

void TestMainWindow::windowAndImages()
{
    MainWindow window;
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window.windowTitle(), QStringLiteral("VYK NVRAM"));
    QCOMPARE(window.size(), QSize(482, 277));
    QVERIFY(window.findChild<QStatusBar *>(QStringLiteral("statusbar")));
    QCOMPARE(window.centralWidget()->objectName(), QStringLiteral("centralwidget"));
    QVERIFY(window.findChild<QMenuBar *>(QStringLiteral("menubar"))->actions().isEmpty());

    const QIcon icon = window.windowIcon();
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.pixmap(64, 64).size(), QSize(64, 64));

    const QImage iconImage(QStringLiteral(":/VYK NVRAM.ico"));
    QCOMPARE(iconImage.size(), QSize(64, 64));
    QVERIFY(iconImage.hasAlphaChannel());

    const QImage picture(QStringLiteral(":/VYK NVRAM icon image.png"));
    QCOMPARE(picture.size(), QSize(64, 64));
    QVERIFY(picture.hasAlphaChannel());

    auto *label = window.findChild<QLabel *>(QStringLiteral("label"));
    QVERIFY(label->hasScaledContents());
    QCOMPARE(label->pixmap().toImage(),
             QPixmap(QStringLiteral(":/VYK NVRAM icon image.png")).toImage());
}

void TestMainWindow::portList()
{
    qunsetenv("AUX_NVRAM_EXTRA_PORTS");
    MainWindow window;
    auto *combo = window.findChild<QComboBox *>(QStringLiteral("comboBoxSerialPorts"));

    QStringList expected { QString() };
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
        expected << port.portName();

    QStringList items;
    for (int i = 0; i < combo->count(); ++i) {
        items << combo->itemText(i);
        QVERIFY(combo->itemIcon(i).isNull());
        QVERIFY(!combo->itemData(i).isValid() || combo->itemData(i) == combo->itemText(i));
    }
    QCOMPARE(items, expected);
    QCOMPARE(combo->currentIndex(), 0);
}

void TestMainWindow::extraPortsFromEnvironment()
{
    qputenv("AUX_NVRAM_EXTRA_PORTS", "/dev/pts/98::/dev/pts/99");
    MainWindow window;
    qunsetenv("AUX_NVRAM_EXTRA_PORTS");
    auto *combo = window.findChild<QComboBox *>(QStringLiteral("comboBoxSerialPorts"));
    const int n = combo->count();
    QCOMPARE(combo->itemText(0), QString());
    QCOMPARE(combo->itemText(n - 2), QStringLiteral("/dev/pts/98"));
    QCOMPARE(combo->itemText(n - 1), QStringLiteral("/dev/pts/99"));
    QCOMPARE(n, QSerialPortInfo::availablePorts().size() + 3);
}

void TestMainWindow::resizingMovesNothing()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.resize(900, 600);
    QTRY_COMPARE(window.size(), QSize(900, 600));
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("label"))->geometry(),
             QRect(0, 4, 101, 101));
    QCOMPARE(window.findChild<QWidget *>(QStringLiteral("btnSendParams"))->geometry(),
             QRect(190, 190, 89, 25));
}

void TestMainWindow::blankPortEntryChangesNothing()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *combo = window.findChild<QComboBox *>(QStringLiteral("comboBoxSerialPorts"));
    auto *connectButton = window.findChild<QPushButton *>(QStringLiteral("btnConnectPort"));
    emit combo->textActivated(QString());
    QVERIFY(!connectButton->isVisible());
    QCOMPARE(connectButton->styleSheet(), QString());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
