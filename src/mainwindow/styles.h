#ifndef STYLES_H
#define STYLES_H

#include <QString>

// Style sheets shared by the window and the board-link and transfer code.
extern const QString sRedButtonStyle;
extern const QString sGreenButtonStyle;
extern const QString sYellowEditStyle;
extern const QString sGreenEditStyle;

// Title of every warning box the tool shows.
extern const QString sMessageTitle;

#endif // STYLES_H
