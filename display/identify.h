#pragma once

#include "display/display.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

// Which command set a stream of bytes was written for: the stream read from power-on in every
// set, ranked by the bytes that the set does not understand (ignored bytes and the bytes of
// malformed frames), then by its dependence reports, then by code.
namespace display {

struct SetReading {
    int set = 0;
    qint64 notUnderstood = 0;
    qint64 dependences = 0;
    QStringList lines; // the final screen's glyphs
};

// Best first.
QList<SetReading> identify(QByteArrayView bytes, Variant variant = {});
// The readings tied with the first on bytes not understood and dependence reports.
QList<SetReading> best(const QList<SetReading>& ranked);

} // namespace display
