// The main window and the name dialog before any board is connected: every
// widget, the images and the port list.

#include "boardlink.h"

#include <QLabel>

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void widgets_data()
    {
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("state"); // e: enabled, v: visible
        const QString dashes("------------------");
        QTest::newRow("comboBoxSerialPorts") << QRect(265, 10, 111, 25) << QString() << "ev";
        QTest::newRow("editFromAuxPCB") << QRect(160, 119, 151, 25) << dashes << "ev";
        QTest::newRow("editToAuxPCB") << QRect(160, 149, 151, 25) << dashes << "ev";
        QTest::newRow("btnConnectPort") << QRect(280, 40, 71, 21) << QString("COMMS") << "e";
        QTest::newRow("btnFromAuxPCB") << QRect(100, 120, 51, 21) << QString("Enter") << "v";
        QTest::newRow("btnToAuxPCB") << QRect(100, 150, 51, 21) << QString("Enter") << "v";
        QTest::newRow("label_2") << QRect(390, 10, 81, 17) << QString("Serial Port") << "ev";
        QTest::newRow("label_3") << QRect(320, 120, 101, 17) << QString("From AUX PCB") << "ev";
        QTest::newRow("label_4") << QRect(320, 150, 101, 17) << QString("To AUX PCB") << "ev";
        QTest::newRow("label") << QRect(0, 4, 101, 101) << QString() << "ev";
        QTest::newRow("btnSendParams") << QRect(190, 190, 89, 25) << QString("SEND") << "";
        QTest::newRow("lineEditFileName")
                << QRect(20, 130, 351, 25) << QString("AuxParams") << "ev";
        QTest::newRow("btnOK") << QRect(270, 30, 89, 25) << QString("OK") << "ev";
        QTest::newRow("btnCancel") << QRect(270, 60, 89, 25) << QString("Cancel") << "ev";
    }

    void widgets()
    {
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QFETCH(QString, state);
        MainWindow window;
        window.show();
        dlgUploadNVRAM dialog;
        dialog.show();
        QWidget *widget = window.findChild<QWidget *>(QTest::currentDataTag());
        widget = widget ? widget : dialog.findChild<QWidget *>(QTest::currentDataTag());
        QVERIFY(widget);
        QCOMPARE(widget->geometry(), geometry);
        QCOMPARE(
                widget->property(widget->inherits("QComboBox") ? "currentText" : "text").toString(),
                text);
        QCOMPARE(widget->isEnabled(), state.contains('e'));
        QCOMPARE(widget->isVisible(), state.contains('v'));
    }

    void imagesAndPorts()
    {
        qputenv("AUX_NVRAM_EXTRA_PORTS", "/dev/pts/98::/dev/pts/99");
        MainWindow window;
        qunsetenv("AUX_NVRAM_EXTRA_PORTS");
        QCOMPARE(window.windowTitle(), QStringLiteral("VYK NVRAM"));
        QCOMPARE(window.findChild<QLabel *>("label")->pixmap().toImage(),
                 QPixmap(":/VYK NVRAM icon image.png").toImage());

        // A blank entry, the system's ports by name, then the extra paths.
        auto *ports = window.findChild<QComboBox *>("comboBoxSerialPorts");
        QStringList items;
        for (int i = 0; i < ports->count(); ++i)
            items << ports->itemText(i);
        QCOMPARE(items.first(), QString());
        QCOMPARE(items.mid(items.size() - 2), (QStringList { "/dev/pts/98", "/dev/pts/99" }));
        for (const QString &name : items.mid(1, items.size() - 3))
            QVERIFY2(!name.contains('/') && QFileInfo::exists("/dev/" + name), qPrintable(name));

        // Choosing the blank entry changes nothing.
        window.show();
        emit ports->textActivated(QString());
        QVERIFY(!WindowDriver::button(window, "btnConnectPort")->isVisible());
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
