#pragma once

#include "line/portmap.h"
#include "line/serialport.h"
#include "protocol/frame.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

// The frame that the display receives for a code digit and scroll data, such as "3HELLO".
inline QByteArray frameOf(const QByteArray& codeAndData) {
    return frame::header(codeAndData.at(0)) + codeAndData.mid(1) + frame::kEnd;
}

// How long a frame with the most scroll data takes on the wire at the slower speed, in ms.
// A write returns once its bytes have drained, so whatever it sent to any line has arrived
// within this: a read for "nothing arrived" need not wait longer.
inline constexpr int kFrameWireMs =
    (frame::kFrameOverhead + frame::kMaxScrollData) * 10 * 1000 / 9600 + 1;

// A pseudo-terminal pair standing in for a serial line: the program opens slavePath() as its
// port, and the test reads what arrived at the master.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    QString slavePath() const { return m_path; }
    // Every byte readable at the master within `waitMs` (0: what is there now), stopping early
    // after `expected`.
    QByteArray read(int waitMs = kFrameWireMs, int expected = -1);
    // Every byte up to and including the next 0xFF, or what came within `waitMs` if none did.
    QByteArray readFrame(int waitMs = 3000);
    // The output baud rate of the line (as tcgetattr reports it), such as 9600.
    int baud() const;
    // Writes `bytes` to the device at `path`, as a sender on the line would.
    static void write(const QString& path, const QByteArray& bytes);
    // Sends `bytes` from the master, as the far end of the line would, and returns once
    // whoever holds the slave has read them all.
    void send(const QByteArray& bytes);
    // Whether a program holds the line in exclusive mode (TIOCEXCL) now.
    bool exclusive() const;
    // Suspends the line's output (as a received XOFF would), so that a write to the line
    // cannot finish, or resumes it.
    void suspend(bool suspended);
    // Closes the master: the device vanishes for whoever holds the slave.
    void vanish();

private:
    friend struct Ports;
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
};

// Five pseudo-terminals standing for COM1 to COM5; the `missing` port numbers resolve to a
// path with no device behind it.
struct Ports {
    std::unique_ptr<Pty> pty[PortMap::kPorts];
    QList<int> missing;
    Ports();
    SerialPort::Resolver resolver();
    // Everything that arrived on any port within `waitMs`, for checking that nothing did.
    QByteArray readAll(int waitMs = kFrameWireMs);
};
