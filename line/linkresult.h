#pragma once

#include "line/ports.h"
#include "protocol/frame.h"

#include <QList>
#include <QString>

// What an operation of the display link answers: success, or the cause of a failure and its
// facts. The link words nothing: the window and the tools each turn a result into their own
// words (window/messages.h, tools/cli.h), and decide whether to show it or to ignore it.
struct [[nodiscard]] LinkResult {
    enum class Cause {
        None,
        Missing,     // the device is not there (error: the system's words)
        Permission,  // this user may not open the device
        Busy,        // another program holds the port; see Hold
        NotSerial,   // the path is not a serial line (not a character device, or no terminal)
        Io,          // the line failed (error: the system's or Qt's words)
        Timeout,     // bytes had not left the port within boundMs; `bytes` were discarded
        RefusedText, // the frame builder refused the command text; see refusals
        Settings,    // the settings forbid the port: file, line, entry, error
        LineSettings // not a line settings string such as "9600,n,8,1": entry
    };
    // How a busy port is held.
    enum class Hold {
        Unknown,     // the system said busy, and nothing tells by whom
        Lock,        // lockFile names the live process `holder`; lockNames when it differs
        Flock,       // `holder` holds flock() on the device
        Exclusive,   // another program opened it in exclusive mode (TIOCEXCL)
        NotALock,    // lockFile is not a lock file; error says what it is ("a FIFO")
        GarbledLock, // lockFile is empty, garbled, or names no possible process
    };
    // What was being done when the failure came.
    enum class Stage { Open, Configure, Write, Drain, Closed };

    Cause cause = Cause::None;
    Stage stage = Stage::Open; // Closed: the port had been closed by an earlier failure
    int port = 0;              // the COM number; 0 when the device was named directly
    QString device;            // the device concerned, as given (not canonical)
    QString error; // the system's or Qt's words, or what a file turned out to be ("a FIFO")
    Hold hold = Hold::Unknown;
    QString holder;                 // Busy: "process 1234 (picocom)"
    QString lockFile;               // Busy: the lock file concerned
    QString lockNames;              // Busy: the program that the lock names, when not the holder
    QString file;                   // Settings: the settings file
    int line = 0;                   // Settings: its line, 1 for the first; 0 for the whole file
    QString entry;                  // Settings: the entry as written ("COM1=ttyUSB0")
    QList<frame::Refusal> refusals; // RefusedText
    qint64 bytes = 0, boundMs = 0;  // Timeout
    bool closedByFailure = false;   // this failure closed the port: the device failed or went away

    bool ok() const { return cause == Cause::None; }
    explicit operator bool() const { return ok(); }
    // The port concerned, as every message names a port (portLabel).
    QString where() const { return portLabel(port, device); }

    static LinkResult success() { return {}; }
    static LinkResult failure(Cause cause, const QString& device = {}, const QString& error = {}) {
        LinkResult r;
        r.cause = cause;
        r.device = device;
        r.error = error;
        return r;
    }
};
