#pragma once

#include "line/linkresult.h"
#include "line/portmap.h"

#include <QString>

// The window's words for what the link answers. Values that came from outside (paths,
// settings lines) are shown escaped and cut to a readable length.

// Why a port could not be opened or written, for a box: what happened, naming the port and
// its device, then what to do about it on a line of its own.
QString describe(const LinkResult& result);
