#pragma once

#include "line/linkresult.h"

#include <QString>

class Notifier;
class QWidget;
class SerialPort;

// The confirmation shown once a frame has left the port: title "VORQ", one OK button,
// no icon.
inline const QString kWriteConfirmation = QStringLiteral("Write .... Ok \r\n @@@@@@@@@@@@ ");

// Sends the configuration frame for the command text `Cmd` through `port` as one output.
// Only when every byte has left the port does it confirm through `notifier` (over
// `parent`), wait for the operator to close the confirmation, and let the waiting events
// run once. On failure nothing is confirmed and the result says why; nothing was sent when
// `Cmd` is refused by the frame builder (cause RefusedText) or the port is closed.
LinkResult OutputCommand(SerialPort& port, QString Cmd, QWidget* parent, Notifier& notifier);
