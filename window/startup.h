#pragma once

#include "line/portmap.h"
#include "window/vorq.h"

#include <functional>
#include <memory>

// The caption of the failure box's second button.
inline const QString kChooseDevice = QStringLiteral("Choose a device for COM1\u2026");

// Creates the window, which opens COM1. When COM1 cannot be opened, the reason goes to `log`
// and into a critical box whose default button, OK (also Enter and Escape), ends the
// start-up. Its second button, "Choose a device for COM1…", offers the device menu: a device
// that opens is mapped to COM1 and saved, and the start-up goes on; one that cannot be a
// device, or does not open, brings the box back with the reason. Returns the started
// window, not yet shown, or nullptr when the operator ended the start-up.
std::unique_ptr<VORQ> startVorq(PortMap& map, const DeviceLister& lister,
                                const std::function<void(const QString&)>& log);
