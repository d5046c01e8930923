#include "styles.h"

const QString sRedButtonStyle =
        QStringLiteral("QPushButton{border-style: solid;border-color: gray;border-width: 4px;"
                       "border-radius: 115px;background-color: red;color: black}"
                       "QPushButton:pressed {border-style: inset;border: 1px solid #00009c}");

const QString sGreenButtonStyle =
        QStringLiteral("QPushButton{border-style: solid;border-color: gray;border-width: 3px;"
                       "background-color: green;color: black}"
                       "QPushButton:pressed {border-style: inset;border: 1px solid #00009c;}");

const QString sYellowEditStyle = QStringLiteral("QLineEdit{background-color: rgb(246, 211, 45)}");

const QString sGreenEditStyle = QStringLiteral("QLineEdit{background-color: green}");

const QString sMessageTitle = QStringLiteral("VYK NVRAM");
