#pragma once

#include <string>

// The private mount namespaces in which the tests run programs, so that nothing they mount
// reaches the machine (tests/isolate.cpp, tests/e2e/sandbox.cpp, tests/fleet/till.cpp).
namespace privatens {

// Enters a mount namespace of this process's own and makes / private in it, so that no mount
// made afterwards reaches the machine: as root directly, and with `orAsUser`, else inside a
// user namespace where this user is root. False (errno set) when none can be had; aborts when
// the namespace was entered but / could not be made private, before anything is mounted.
bool enter(bool orAsUser);

// Mounts a fresh tmpfs at `path` with `options` ("mode=1777"), where device nodes work only
// with `devices`. False with errno on failure.
bool tmpfs(const char* path, const char* options, bool devices = false);

// Makes `dev` (an empty tmpfs) a /dev: the null, zero, full, random, urandom and tty nodes,
// ptmx, fd, stdin, stdout and stderr, shm, and pts: a new devpts instance with `newPts`, else
// the machine's /dev/pts bound there. Nothing on success, else the step that failed (errno
// set).
std::string makeDev(const std::string& dev, bool newPts);

} // namespace privatens
