#ifndef WINDOWDRIVER_H
#define WINDOWDRIVER_H

#include "mainwindow.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

// Drives the main window the way a technician does: keys on the port list,
// mouse clicks on the buttons.
namespace WindowDriver {

inline QPushButton *button(MainWindow &window, const char *name)
{
    return window.findChild<QPushButton *>(QString::fromLatin1(name));
}

inline QLineEdit *edit(MainWindow &window, const char *name)
{
    return window.findChild<QLineEdit *>(QString::fromLatin1(name));
}

inline QComboBox *portList(MainWindow &window)
{
    return window.findChild<QComboBox *>(QStringLiteral("comboBoxSerialPorts"));
}

// Steps through the list with the arrow keys until the port is current; each
// step activates an entry, as it does for a user.
inline bool choosePort(MainWindow &window, const QString &port)
{
    QComboBox *combo = portList(window);
    const int target = combo->findText(port);
    if (target < 0)
        return false;
    combo->setFocus();
    if (combo->currentIndex() == target) {
        QTest::keyClick(combo, Qt::Key_Up);
        QTest::keyClick(combo, Qt::Key_Down);
    }
    while (combo->currentIndex() != target)
        QTest::keyClick(combo, combo->currentIndex() < target ? Qt::Key_Down : Qt::Key_Up);
    return true;
}

inline void click(MainWindow &window, const char *name)
{
    QTest::mouseClick(button(window, name), Qt::LeftButton);
}

} // namespace WindowDriver

#endif // WINDOWDRIVER_H
