#pragma once

#include "line/portmap.h"

#include <QString>

#include <functional>

class QMenu;
class QWidget;

// The menu of devices for COM `n`, under the heading "Device for COMn": the serial devices
// that `lister` finds now (path, description, maker, and the /dev/serial/by-id link where
// there is one), the current mapping when it is none of them ("/dev/ttyUSB9 (not present)"),
// or else "No serial device found" when there is none; then "Default" (the default device),
// and "Other device…", which asks for a path. The current mapping is checked. A choice calls
// `chosen` with the device to map (the by-id link where there is one, since it survives replugging;
// empty for the default). The caller owns the menu.
QMenu* deviceMenu(QWidget* parent, int n, const PortMap& map, const DeviceLister& lister,
                  const std::function<void(const QString&)>& chosen);
