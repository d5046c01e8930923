#ifndef BOARDSIMPROCESS_H
#define BOARDSIMPROCESS_H
// placeholder, written with the simulated board
#endif
