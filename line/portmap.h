#pragma once

#include "line/linkresult.h"
#include "line/serialport.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

// Which device each COM number opens: the one mapping that the window and vorq-write share.
//
// Without settings, COMn is the default device (/dev/ttyS(n-1)). Settings are files in INI
// form (see ConfFile) with a section [ports] and keys COM1 to COM5, each an absolute device
// path:
//
//   # the till's pole display
//   [ports]
//   COM1 = /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0
//
// The system's files (vorq/vorq.conf in each directory of $XDG_CONFIG_DIRS, /etc/xdg by
// default) are read first, the least important first, and then the user's, whose entries
// win. A COM number is never sent to its default device by mistake: a COM entry that cannot
// be used (empty, relative, holding a control character, longer than PATH_MAX, outside
// [ports], or on a line that cannot be read) makes that COM number refused, and a settings
// file that exists but cannot be read makes every COM number refused, until a later file
// maps it. Other lines that cannot be understood, and keys other than COM1 to COM5 in
// [ports], are ignored, each with a warning.
class PortMap {
public:
    static constexpr int kPorts = kComPorts;

    struct Files {
        QStringList system; // the most important first, as in $XDG_CONFIG_DIRS
        QString user;       // empty: none; also where map() saves
    };
    // From $XDG_CONFIG_DIRS (default /etc/xdg) and $XDG_CONFIG_HOME (default ~/.config),
    // each followed by /vorq/vorq.conf.
    static Files standardFiles();

    // `defaults` gives the device of a COM number that the settings do not map.
    explicit PortMap(SerialPort::Resolver defaults = SerialPort::systemDevice, Files files = {});

    // A line of a settings file that was ignored.
    struct Warning {
        QString file;
        int line = 0;
        QString text;    // the key, for an unknownKey; else the line as far as it reads
        bool unknownKey; // a key other than COM1 to COM5 in [ports]
        QString why;     // for a line that cannot be understood: what is wrong with it
    };
    // Reads the files, replacing what was mapped. Returns one warning per ignored line, for
    // the caller to show once. Refusals are not among them; see refusal().
    [[nodiscard]] QList<Warning> load();

    // The device that COM `n` (1 to 5) opens; empty for any other n and while it is refused.
    QString device(int n) const;
    QString defaultDevice(int n) const;
    // Why COM `n` must not be opened: a failure with cause Settings, the file, the line (0
    // for a file that cannot be read), the entry as written and what is wrong with it; a
    // success when it may be opened.
    LinkResult refusal(int n) const { return m_refused.value(n, LinkResult::success()); }
    // Whether the settings (or map()) give COM `n` a device of its own.
    bool isMapped(int n) const { return m_mapped.contains(n); }

    // Maps COM `n` to `device`, an absolute path (empty: back to the default), at once and
    // until the program ends, and with `save` also in the user's file, where only the line
    // for COM `n` changes. Going back to the default while a system file maps COM `n` saves
    // the default device explicitly. Fails with cause Settings (entry: the device, error:
    // why) for a path that cannot be a device, and nothing changes; with cause Io (file,
    // error) when the file cannot be written, and the mapping still applies.
    LinkResult map(int n, const QString& device, bool save = true);

    // Whether `device` is there now as a character device (a serial line or another device),
    // is missing, or is something else. Nothing is opened.
    enum class Presence { Present, Missing, NotADevice };
    static Presence presence(const QString& device);

    // Why `device` cannot stand for a COM number, or empty when it can: empty, not
    // absolute, a control character, or longer than PATH_MAX.
    static QString unusableDevice(const QString& device);

    SerialPort::Resolver resolver() const {
        return [this](int n) {
            return m_refused.contains(n) ? PortDevice::refused(m_refused.value(n))
                                         : PortDevice(device(n));
        };
    }

private:
    void readFile(const QString& file, QList<Warning>& warnings);

    SerialPort::Resolver m_defaults;
    Files m_files;
    QMap<int, QString> m_mapped;
    QMap<int, LinkResult> m_refused;
    QSet<int> m_bySystem; // the COM numbers that a system file maps or refuses
};

// One line for an ignored settings line, "file:line: ...", as every front end shows it.
QString describe(const PortMap::Warning& warning);

// One serial device present on this machine.
struct SerialDevice {
    QString path;         // such as /dev/ttyUSB0
    QString description;  // may be empty
    QString manufacturer; // may be empty
    QString serialNumber; // may be empty
    QString byId;         // its /dev/serial/by-id link, or empty
};

// Lists the serial devices present now. Tests pass their own; the system's lister probes
// every /dev/ttyS* it finds by opening it.
using DeviceLister = std::function<QList<SerialDevice>()>;
QList<SerialDevice> systemSerialDevices();
