#pragma once

#include "line/serialport.h"
#include "tools/display/request.h"

#include <QByteArray>
#include <QSocketNotifier>

#include <memory>
#include <variant>

// vorq-display --forward: the real display that the software's bytes go on to, and the way
// back to the software.

// The real display, opened as vorq-write opens it (its lock, exclusive mode and refusals), for
// both ways; or the exit status after saying why it cannot be opened.
std::variant<std::unique_ptr<SerialPort>, int> openForward(const Request& request);

// What the real display sends back, on its way to the software: written to the
// pseudo-terminal's master as it can take it, never waiting, so that neither direction
// stalls the other.
class ToSoftware {
public:
    explicit ToSoftware(int master);
    void send(const QByteArray& bytes);

private:
    void drain();

    int m_master;
    QSocketNotifier m_writable;
    QByteArray m_pending;
};
