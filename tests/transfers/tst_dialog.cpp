// The file-name dialog on its own and as the main window shows it.

#include "dlguploadnvram.h"
#include "mainwindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

class TestDialog : public QObject
{
    Q_OBJECT

private slots:
    void firstShowing();
    void buttonsEmitTheName_data();
    void buttonsEmitTheName();
    void escapeAndCloseEmitNothing();
    void nameStaysForNextShowing();
    void shownByMainWindowAndModal();
};

static QLineEdit *nameField(QWidget *dialog)
{
    return dialog->findChild<QLineEdit *>(QStringLiteral("lineEditFileName"));
}

static QPushButton *button(QWidget *parent, const char *name)
{
    return parent->findChild<QPushButton *>(QString::fromLatin1(name));
}

void TestDialog::firstShowing()
{
    dlgUploadNVRAM dialog;
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.objectName(), QStringLiteral("dlgUploadNVRAM"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Enter NVRAM File Name"));
    QCOMPARE(dialog.size(), QSize(384, 165));
    QCOMPARE(dialog.styleSheet(), QStringLiteral("background-color: rgb(192, 191, 188);\n\n\n"));
    QVERIFY(dialog.isSizeGripEnabled());
    QVERIFY(dialog.isModal());
    QCOMPARE(dialog.windowType(), Qt::Window);
    QVERIFY(dialog.testAttribute(Qt::WA_StyledBackground));

    const struct
    {
        const char *name;
        QRect geometry;
        QString text;
    } widgets[] = {
        { "lineEditFileName", QRect(20, 130, 351, 25), QStringLiteral("AuxParams") },
        { "label", QRect(30, 30, 111, 17), QStringLiteral("No extension") },
        { "btnOK", QRect(270, 30, 89, 25), QStringLiteral("OK") },
        { "btnCancel", QRect(270, 60, 89, 25), QStringLiteral("Cancel") },
    };
    QStringList creationOrder;
    for (QObject *child : dialog.children()) {
        if (child->isWidgetType() && !child->objectName().isEmpty())
            creationOrder << child->objectName();
    }
    QCOMPARE(creationOrder, QStringList({ "lineEditFileName", "label", "btnOK", "btnCancel" }));
    for (const auto &expected : widgets) {
        auto *widget = dialog.findChild<QWidget *>(QString::fromLatin1(expected.name));
        QVERIFY2(widget, expected.name);
        QCOMPARE(widget->parentWidget(), &dialog);
        QCOMPARE(widget->geometry(), expected.geometry);
        QCOMPARE(widget->property("text").toString(), expected.text);
    }
}

void TestDialog::buttonsEmitTheName_data()
{
    QTest::addColumn<QByteArray>("buttonName");
    QTest::addColumn<QString>("typed");
    QTest::newRow("OK") << QByteArray("btnOK") << QStringLiteral("Board 7");
    QTest::newRow("Cancel does the same") << QByteArray("btnCancel") << QStringLiteral("sub/name");
    QTest::newRow("empty name") << QByteArray("btnOK") << QString();
    QTest::newRow("untrimmed") << QByteArray("btnOK") << QStringLiteral("  spaced  ");
}

void TestDialog::buttonsEmitTheName()
{
    QFETCH(QByteArray, buttonName);
    QFETCH(QString, typed);

    dlgUploadNVRAM dialog;
    QSignalSpy spy(&dialog, SIGNAL(saveFileSelected(QString)));
    bool bHiddenWhenEmitted = false;
    connect(&dialog, &dlgUploadNVRAM::saveFileSelected, this,
            [&] { bHiddenWhenEmitted = !dialog.isVisible(); });
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    nameField(&dialog)->setText(typed);
    QTest::mouseClick(button(&dialog, buttonName.constData()), Qt::LeftButton);

    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), typed);
    QVERIFY(bHiddenWhenEmitted);
    QVERIFY(!dialog.isVisible());
}

void TestDialog::escapeAndCloseEmitNothing()
{
    dlgUploadNVRAM dialog;
    QSignalSpy spy(&dialog, SIGNAL(saveFileSelected(QString)));

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QTRY_VERIFY(!dialog.isVisible());

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.close();
    QTRY_VERIFY(!dialog.isVisible());
    QCOMPARE(spy.count(), 0);
}

void TestDialog::nameStaysForNextShowing()
{
    dlgUploadNVRAM dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    nameField(&dialog)->setText(QStringLiteral("Second"));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QTRY_VERIFY(!dialog.isVisible());
    dialog.show();
    QCOMPARE(nameField(&dialog)->text(), QStringLiteral("Second"));
}

void TestDialog::shownByMainWindowAndModal()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *enter = button(&window, "btnFromAuxPCB");
    enter->setEnabled(true); // as after the greeting of a board
    QTest::mouseClick(enter, Qt::LeftButton);

    auto *dialog = window.findChild<dlgUploadNVRAM *>();
    QVERIFY(!dialog); // held by value without parent: found through the modal stack instead
    QTRY_VERIFY(QApplication::activeModalWidget());
    auto *shown = qobject_cast<dlgUploadNVRAM *>(QApplication::activeModalWidget());
    QVERIFY(shown);
    QCOMPARE(nameField(shown)->text(), QStringLiteral("AuxParams"));
    QTest::keyClick(shown, Qt::Key_Escape);
    QTRY_VERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(TestDialog)
#include "tst_dialog.moc"
