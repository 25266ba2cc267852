#pragma once

#include <QPoint>
#include <QRect>

// Where the window's controls are, from its layout table, for driving the real window.

// The rectangle of control `name` (array index `index`, -1 for none) in the window's client
// area, in device-independent pixels; a null rectangle when there is no such control.
QRect controlRect(const char* name, int index = -1);

// The centre of control `name` (array index `index`, -1 for none) in the window's client
// area, in device-independent pixels; for an option button, the centre of its round
// indicator. A null point when there is no such control.
QPoint controlCentre(const char* name, int index = -1);
