#pragma once

#include "display/display.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

// Which command set a stream of bytes was written for: the stream read from power-on in every
// set, ranked by the bytes that the set does not understand (ignored bytes and the bytes of
// malformed frames), then by its dependence reports, then by the bytes it drew as characters
// rather than read as commands (sales software sends commands: of two sets that understand
// as much, the one that reads more of it as commands is meant), then by code.
namespace display {

struct SetReading {
    int set = 0;
    qint64 notUnderstood = 0;
    qint64 dependences = 0;
    qint64 drawn = 0;  // bytes drawn as characters outside commands
    QStringList lines; // the final screen's glyphs
};

// Best first.
QList<SetReading> identify(QByteArrayView bytes, Variant variant = {});
// The readings tied with the first on all but the code.
QList<SetReading> best(const QList<SetReading>& ranked);

} // namespace display
