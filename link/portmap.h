#pragma once

#include "link/linkresult.h"
#include "link/serialport.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

// Which device each COM number opens: the one mapping that the window and vorq-write share.
//
// Without settings, COMn is the default device (/dev/ttyS(n-1)). Settings are INI files with
// a group [ports] and keys COM1 to COM5, each an absolute device path:
//
//   [ports]
//   COM1=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0
//
// Two files are read: the system's (a till image's mapping) and then the user's, whose
// entries win. Anything else in [ports] (another key, an empty value, a relative path) and
// a file that cannot be read are ignored, each with one warning, and the default is kept.
class PortMap {
public:
    static constexpr int kPorts = 5;

    struct Files {
        QString system; // empty: none
        QString user;   // empty: none; also where map() saves
    };
    // /etc/xdg/vorq/vorq.conf, and $XDG_CONFIG_HOME/vorq/vorq.conf (~/.config by default).
    static Files standardFiles();

    // `defaults` gives the device of a COM number that the settings do not map.
    explicit PortMap(SerialPort::Resolver defaults = SerialPort::systemDevice, Files files = {});

    // Reads the files, replacing what was mapped. Returns one warning per ignored setting or
    // unreadable file, for the caller to show once.
    QStringList load();

    // The device that COM `n` (1 to 5) opens; empty for any other n.
    QString device(int n) const;
    QString defaultDevice(int n) const;
    // Whether the settings (or map()) give COM `n` a device of its own.
    bool isMapped(int n) const { return m_mapped.contains(n); }

    // Maps COM `n` to `device`, an absolute path (empty: back to the default), at once and
    // until the program ends, and with `save` also in the user's file. Fails, with the
    // reason, for a path that is not absolute (nothing changes) or when the file cannot be
    // written (the mapping still applies).
    LinkResult map(int n, const QString& device, bool save = true);

    SerialPort::Resolver resolver() const {
        return [this](int n) { return device(n); };
    }

private:
    SerialPort::Resolver m_defaults;
    Files m_files;
    QMap<int, QString> m_mapped;
};

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
