#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Reads a byte stream as a pole display does and reports each configuration frame in it.
//
// A frame is laid out as frame.h says: ESC, the access code, one code digit, at most
// frame::kMaxScrollData bytes of printable scroll data, and 0xFF. Anything else is reported
// as malformed, by what is wrong, and decoding resumes with the next ESC: bytes that do not
// start with ESC, a frame cut off by an ESC before its 0xFF (the ESC starts the next frame),
// a wrong access code, a missing code digit, a code digit of no command set, scroll data
// that is too long or holds a control byte (below 0x20, or 0x7F; by its position in the
// scroll data, 1 for the first), and a frame whose 0xFF has not come within one second of
// its ESC.
class FrameDecoder {
public:
    struct Report {
        bool valid = false;
        int code = -1;      // the command set's code digit less '0', when valid
        QString scrollData; // decoded by frame::fromWindows1252, when valid
        QString problem;    // what is wrong, when not valid
        QByteArray bytes;   // the frame or the stray bytes as received
    };

    static constexpr qint64 kFrameTimeoutMs = 1000;

    // Feeds bytes that arrived at `nowMs` (any monotonic clock in milliseconds).
    QList<Report> feed(const QByteArray& bytes, qint64 nowMs);
    // Reports a frame left without its 0xFF for a second or more before `nowMs`, and stray
    // bytes still waiting for an ESC.
    QList<Report> flush(qint64 nowMs);
    // The line hung up: reports what was left, a frame cut off by the hang-up or stray bytes.
    QList<Report> hangUp();

private:
    Report finish();

    QByteArray m_pending;
    bool m_inFrame = false;
    qint64 m_startedMs = 0;
};
