#pragma once

#include "link/linkresult.h"

#include <QString>

class QWidget;
class SerialPort;

// The confirmation shown once a frame has left the port: title "VORQ", one OK button,
// no icon.
inline const QString kWriteConfirmation = QStringLiteral("Write .... Ok \r\n @@@@@@@@@@@@ ");

// Sends the configuration frame for the command text `Cmd` through `port` as one output.
// Only when every byte has left the port does it show the confirmation (modal, over
// `parent`), wait for the operator to close it, and let the waiting events run once. On
// failure nothing is shown: the result carries the reason, and nothing was sent when `Cmd`
// is refused by the frame builder (a code outside 0 to 6, scroll data that is too long or
// holds a character that cannot be sent) or the port is closed.
LinkResult OutputCommand(SerialPort& port, QString Cmd, QWidget* parent);
