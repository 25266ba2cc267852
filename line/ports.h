#pragma once

#include <QString>

// The facts about the display's ports that the port, the port map and every front end share.

// COM1 to COM5.
inline constexpr int kComPorts = 5;

// The speeds the display takes, in bits per second.
inline constexpr int kDisplaySpeeds[] = {9600, 19200};
// Whether `bps` is one of kDisplaySpeeds, written as a decimal number.
bool isDisplaySpeed(const QString& bps);
// The line settings string of the display at `bps`: no parity, 8 data bits, 1 stop bit, as
// in "9600,n,8,1".
QString lineSettingsFor(int bps);

// The number n of a name "COMn" (any case, decimal digits, such as "com3"), whether or not
// it is one of COM1 to COM5; -1 when `name` is no such name.
int comNumberOf(const QString& name);

// "COM1 (/dev/ttyUSB0)", "COM1" without a device, or the device alone for port 0: how every
// message names a port, with the device shown as shown() shows it.
QString portLabel(int port, const QString& device);
