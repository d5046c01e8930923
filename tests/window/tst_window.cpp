// The main window before any board is connected: the image, the port list,
// and a port that cannot be opened.

#include "boardlink.h"

#include <QLabel>

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void imageAndPorts()
    {
        qputenv("AUX_NVRAM_EXTRA_PORTS", "/dev/pts/98::/dev/no-such-port");
        MainWindow window;
        qunsetenv("AUX_NVRAM_EXTRA_PORTS");
        const QImage image = QPixmap(":/VYK NVRAM icon image.png").toImage();
        QVERIFY(!image.isNull());
        QCOMPARE(window.findChild<QLabel *>("label")->pixmap().toImage(), image);

        // A blank entry, the system's ports by name, then the extra paths.
        auto *ports = window.findChild<QComboBox *>("comboBoxSerialPorts");
        QStringList items;
        for (int i = 0; i < ports->count(); ++i)
            items << ports->itemText(i);
        QCOMPARE(items.first(), QString());
        QCOMPARE(items.mid(items.size() - 2), (QStringList { "/dev/pts/98", "/dev/no-such-port" }));
        for (const QString &name : items.mid(1, items.size() - 3))
            QVERIFY2(!name.contains('/') && QFileInfo::exists("/dev/" + name), qPrintable(name));

        // Neither COMMS nor SEND shows before a port is chosen; the blank entry is none.
        window.show();
        emit ports->textActivated(QString());
        QVERIFY(!WindowDriver::button(window, "btnConnectPort")->isVisible());
        QVERIFY(!WindowDriver::button(window, "btnSendParams")->isVisible());

        // A port that cannot be opened is named in a warning, by its name
        // under /dev as the port list shows it; nothing connects.
        ModalAnswerer answerer;
        WindowDriver::choosePort(window, "/dev/no-such-port");
        WindowDriver::click(window, "btnConnectPort");
        QCOMPARE(answerer.messages(),
                 QStringList { "VYK NVRAM|Can't open no-such-port, error code 1 No such file "
                               "or directory" });
        WindowDriver::verifyDisconnectedLook(window);
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
