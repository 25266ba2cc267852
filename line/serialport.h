#pragma once

#include "line/linkresult.h"
#include "line/ports.h"

#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The device behind a port number: a path, or why that port number must not be opened.
struct PortDevice {
    QString path;       // empty: there is no such port
    LinkResult refusal; // a failure (cause Settings) when the settings forbid this port number
    PortDevice(QString device = {}) : path(std::move(device)) {}
    static PortDevice refused(LinkResult why) {
        PortDevice d;
        d.refusal = std::move(why);
        return d;
    }
};

// The parts of a line settings string.
struct LineSettings {
    qint32 baud = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// The one serial port through which VORQ talks to the display. VORQ and vorq-write only
// transmit; vorq-display opens it for receiving instead (setReceiving).
//
// Its state is three properties: `CommPort` (the port number, 1 for COM1), `Settings`
// (the line settings string "baud,parity,data,stop", such as "9600,n,8,1") and `PortOpen`.
// `Settings` belong to the object, not to a connection: they survive close and reopen, and
// a change applies to an open port at once. No flow control is used.
//
// Four sequences are its whole use; each answers with a LinkResult and the caller decides
// whether to show it or to ignore it.
class SerialPort : public QObject {
    Q_OBJECT
public:
    // Maps a port number to a device: /dev/ttyS(n-1) on Linux, COMn on Windows. An empty
    // path means that there is no such port, a refusal that the settings forbid it (see
    // PortMap). Tests supply pseudo-terminals instead.
    using Resolver = std::function<PortDevice(int portNumber)>;
    static QString systemDevice(int portNumber);

    explicit SerialPort(Resolver resolver = systemDevice, QObject* parent = nullptr);
    ~SerialPort() override;

    int CommPort() const { return m_commPort; }
    void setCommPort(int portNumber) { m_commPort = portNumber; }

    QString Settings() const { return m_settings; }
    // Fails, leaving the old value, for a string that is not "baud,parity,data,stop". On an
    // open port the new value is kept even when applying it to the line fails.
    LinkResult setSettings(const QString& settings);

    bool PortOpen() const { return m_port.isOpen(); }
    // Opening an open port, or closing a closed one, succeeds and changes nothing.
    //
    // Opening refuses a path that is not a character device (nothing is ever written to a
    // regular file). The port is opened, locked and named by the device's canonical path,
    // so that two paths to one device (a /dev/serial/by-id link and its target) exclude each
    // other. It is busy when a lock file LCK..<name> in a lock directory names a live process, in
    // any of the usual formats and whatever its age (a dead process's lock is taken over), when
    // that lock file is anything but a small regular file naming a possible pid, when
    // another program holds the device in exclusive mode (TIOCEXCL), or when another open
    // file holds flock() on the device; the port itself takes flock(LOCK_EX) while it is
    // open, as other Linux serial programs do. A refused port number is never opened.
    LinkResult setPortOpen(bool open);

    // Writes every byte, in order and unchanged, and succeeds only once all of them have
    // left the port (handed to the line driver and drained), within a bound derived from the
    // byte count and the baud rate. A closed port fails without sending anything.
    LinkResult Output(const QByteArray& bytes);

    // Port 1 at "9600,n,8,1", opened. Failure means the program cannot start.
    LinkResult OpenAtStartup();
    // Close, CommPort = index + 1, open; each step runs even when the one before failed.
    // Indices outside 0 to kComPorts - 1 leave the port untouched. A failed open leaves
    // it closed.
    LinkResult SwitchPort(int index);
    // "9600,n,8,1" for index 0, "19200,n,8,1" for any other. The open state and the port
    // number stay as they are.
    LinkResult SetSpeed(int index);
    // The frame as one output.
    LinkResult WriteBytes(const QByteArray& bytes);
    // Hands `bytes` to the port and returns at once: they leave from the event loop, in
    // order, and a failure on the way closes the port (closedByError). For passing a stream
    // on (vorq-display --forward), where waiting for each write to drain would stall the
    // other direction.
    LinkResult queue(const QByteArray& bytes);

    // The device of the current port number ("" when it has none) and its operator name:
    // "COMn" for port numbers from 1, "" for 0 (a resolver that names one device directly).
    QString devicePath() const { return m_resolver(m_commPort).path; }
    QString portName() const {
        return m_commPort >= 1 ? QStringLiteral("COM%1").arg(m_commPort) : QString();
    }

    // The folders whose LCK..<name> files say that a port is busy; by default the system's,
    // /run/lock and /var/lock.
    void setLockDirectories(QStringList directories) { m_lockDirectories = std::move(directories); }

    // Opens for receiving instead of sending from the next open on; received() then carries
    // every byte that arrives. With `alsoSending`, for both (vorq-display --forward). VORQ
    // itself never receives.
    void setReceiving(bool receiving, bool alsoSending = false) {
        m_receiving = receiving;
        m_alsoSending = alsoSending;
    }

Q_SIGNALS:
    void received(const QByteArray& bytes);
    // The port was closed because the device failed or went away (a hang-up): `why` has
    // closedByFailure set and names the port. The next Output fails with the same cause.
    void closedByError(const LinkResult& why);

private:
    // A failure with `cause`, naming the current port number and device.
    LinkResult failure(LinkResult::Cause cause, const QString& error = {}) const;
    LinkResult applySettings();
    // Opens `path` (the device of the current port number) with the current settings.
    LinkResult openDevice(const QString& path);
    // Closes the port when `error` means that the device is gone or, while receiving, that
    // the line hung up; records `why` and emits closedByError.
    void closeIfGone(QSerialPort::SerialPortError error, const QString& why);

    Resolver m_resolver;
    int m_commPort = 0;
    QString m_settings;
    std::optional<LineSettings> m_line; // m_settings, parsed; nothing before the first
    LinkResult m_openFailure;           // why the last open failed; success after a successful one
    bool m_receiving = false;
    bool m_alsoSending = false;
    QStringList m_lockDirectories{QStringLiteral("/run/lock"), QStringLiteral("/var/lock")};
    QSerialPort m_port;
};

// The parts of `settings`; nothing when it is not a line settings string.
std::optional<LineSettings> parseSettings(const QString& settings);
// The baud rate of a line settings string; 0 when it is not one.
inline int lineSettingsSpeed(const QString& settings) {
    const auto line = parseSettings(settings);
    return line ? line->baud : 0;
}
