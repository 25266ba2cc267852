#pragma once

#include <QString>

// A private mount namespace in which /dev is a fresh tmpfs holding only what VORQ and an X
// server need, and /run/lock is empty. The machine's own serial devices are out of reach:
// /dev/ttyS0 to /dev/ttyS4 exist only where bindPort() has put a pseudo-terminal.
namespace sandbox {

// Enters the namespace in this very process. Returns an empty string on success, or why the
// sandbox cannot be had here (the caller then skips). Aborts the process when the namespace
// was entered but its mounts could not be made private, before anything is mounted.
QString enter();

// Makes `devicePath` (a pseudo-terminal slave) answer as /dev/ttyS<n>.
bool bindPort(int n, const QString& devicePath);
// Removes /dev/ttyS<n> again, so that the port is missing.
bool unbindPort(int n);

} // namespace sandbox
