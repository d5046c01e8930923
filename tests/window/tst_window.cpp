// The main window and the name dialog before any board is connected: the
// buttons, the images and the port list.

#include "boardlink.h"

#include <QLabel>

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    // What the user sees before any board is connected, where the code sets it.
    void widgets_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("state"); // e: enabled, v: visible
        QTest::newRow("btnConnectPort") << QString("COMMS") << "e";
        QTest::newRow("btnFromAuxPCB") << QString("Enter") << "v";
        QTest::newRow("btnToAuxPCB") << QString("Enter") << "v";
        QTest::newRow("btnSendParams") << QString("SEND") << "";
        QTest::newRow("lineEditFileName") << QString("AuxParams") << "ev";
    }

    void widgets()
    {
        QFETCH(QString, text);
        QFETCH(QString, state);
        MainWindow window;
        window.show();
        dlgUploadNVRAM dialog;
        dialog.show();
        QWidget *widget = window.findChild<QWidget *>(QTest::currentDataTag());
        widget = widget ? widget : dialog.findChild<QWidget *>(QTest::currentDataTag());
        QVERIFY(widget);
        QCOMPARE(widget->property("text").toString(), text);
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
