// vorq-write: sends one configuration frame from the command line, for scripted set-up.
//
// Exit statuses (sysexits): 0 sent; 64 usage; 65 refused text; 69 port missing or busy;
// 74 input/output failure (the port failed while opening or writing); 77 permission denied;
// 78 the settings file refuses the COM number (or cannot be read).
#include "link/frame.h"
#include "link/portmap.h"
#include "link/serialport.h"
#include "tools/cli.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

#include <optional>
#include <sysexits.h>

namespace {

QTextStream out(stdout);

// The COM number (1 to 5) whose device is `path`, or 0.
int comNumberOf(const PortMap& map, const QString& path) {
    for (int n = 1; n <= PortMap::kPorts; ++n)
        if (map.device(n) == path)
            return n;
    return 0;
}

struct Target {
    int number = 0; // COMn, or 0 for a device that is none of COM1 to COM5
    QString path;
    QString label() const {
        return number ? QStringLiteral("%1 (COM%2)").arg(frame::shown(path)).arg(number)
                      : frame::shown(path);
    }
};

std::optional<Target> resolvePort(const PortMap& map, const QString& port) {
    static const QRegularExpression com(QStringLiteral("^COM([0-9]+)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    if (const auto m = com.match(port); m.hasMatch()) {
        const int n = m.captured(1).toInt();
        if (n < 1 || n > PortMap::kPorts)
            return std::nullopt;
        return Target{n, map.device(n)};
    }
    if (port.isEmpty())
        return std::nullopt;
    return Target{comNumberOf(map, port), port};
}

// The serial devices present, then what each COM number maps to and whether it is here.
int listPorts(const PortMap& map) {
    const QList<SerialDevice> devices = systemSerialDevices();
    auto orDash = [](const QString& s) { return s.isEmpty() ? QStringLiteral("-") : s; };
    if (devices.isEmpty()) {
        out << "No serial ports found." << Qt::endl;
    } else {
        out << "device\tCOM\tdescription\tmaker\tserial number\tby-id" << Qt::endl;
        for (const SerialDevice& d : devices) {
            int n = comNumberOf(map, d.path);
            if (n == 0 && !d.byId.isEmpty())
                n = comNumberOf(map, d.byId);
            out << d.path << '\t' << (n ? QStringLiteral("COM%1").arg(n) : QStringLiteral("-"))
                << '\t' << orDash(d.description) << '\t' << orDash(d.manufacturer) << '\t'
                << orDash(d.serialNumber) << '\t' << orDash(d.byId) << Qt::endl;
        }
    }
    out << Qt::endl << "COM\tdevice\tpresent" << Qt::endl;
    for (int n = 1; n <= PortMap::kPorts; ++n) {
        if (const QString refused = map.refusal(n); !refused.isEmpty())
            out << "COM" << n << "\trefused: " << frame::escaped(refused) << "\tno" << Qt::endl;
        else
            out << "COM" << n << '\t' << frame::shown(map.device(n)) << '\t'
                << (QFileInfo::exists(map.device(n)) ? "yes" : "no") << Qt::endl;
    }
    return EX_OK;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vorq-write"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORQ_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Stores a command set and scroll data in a pole display's EEPROM by sending one "
        "configuration frame."));
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("COM1 to COM5 (as mapped in vorq.conf), or a device path such as "
                       "/dev/ttyUSB0. Default: COM1."),
        QStringLiteral("port"), QStringLiteral("COM1"));
    const QCommandLineOption speed(QStringLiteral("speed"),
                                   QStringLiteral("9600 or 19200 (8N1). Default: 9600."),
                                   QStringLiteral("bps"), QStringLiteral("9600"));
    const QCommandLineOption code(QStringLiteral("code"),
                                  QStringLiteral("The command set, 0 to 6. Required."),
                                  QStringLiteral("digit"));
    const QCommandLineOption text(
        QStringLiteral("text"),
        QStringLiteral("The scroll data, at most 40 characters. Without it, the "
                       "scroll data is empty."),
        QStringLiteral("text"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"),
                                    QStringLiteral("Print the frame as hex bytes; open nothing."));
    const QCommandLineOption list(
        QStringLiteral("list"),
        QStringLiteral("List the serial ports of this machine and what COM1 to COM5 map to."));
    QList<int> invalid; // arguments that are not valid UTF-8
    const QStringList arguments = cli::arguments(argc, argv, &invalid);
    if (const auto stop = cli::parse(parser, {port, speed, code, text, dryRun, list}, arguments))
        return *stop;
    PortMap map(SerialPort::systemDevice, PortMap::standardFiles());
    for (const QString& warning : map.load())
        cli::fail(0, QStringLiteral("warning: ") + warning);
    if (parser.isSet(list)) {
        for (const QCommandLineOption* o : {&port, &speed, &code, &text, &dryRun})
            if (parser.isSet(*o))
                return cli::fail(EX_USAGE, QStringLiteral("--list sends nothing; it takes no --%1")
                                               .arg(o->names().first()));
        return listPorts(map);
    }
    for (const int i : invalid)
        if (arguments[i].startsWith(QLatin1String("--text=")) ||
            (i > 1 && arguments[i - 1] == QLatin1String("--text")))
            return cli::fail(EX_DATAERR, QStringLiteral("--text is not valid UTF-8"));

    const QString digit = parser.value(code);
    const QString codeUsage =
        QStringLiteral("--code must be one digit from 0 to 6, not \"%1\"").arg(frame::shown(digit));
    if (!parser.isSet(code))
        return cli::fail(EX_USAGE, QStringLiteral("--code is required (0 to 6)"));
    if (digit.size() != 1)
        return cli::fail(EX_USAGE, codeUsage);
    const QString bps = parser.value(speed);
    if (!isDisplaySpeed(bps))
        return cli::fail(
            EX_USAGE,
            QStringLiteral("--speed must be 9600 or 19200, not \"%1\"").arg(frame::shown(bps)));
    const auto target = resolvePort(map, parser.value(port));
    if (!target)
        return cli::fail(EX_USAGE,
                         QStringLiteral("--port must be COM1 to COM5 or a device path, not \"%1\"")
                             .arg(frame::shown(parser.value(port))));
    if (const QString refused = map.refusal(target->number); target->number && !refused.isEmpty())
        return cli::fail(EX_CONFIG,
                         QStringLiteral("COM%1 is not used: %2").arg(target->number).arg(refused));

    const frame::Built built = frame::build(frame::kAccessCode + digit + parser.value(text));
    if (!built) {
        for (const frame::Refusal& r : built.refusals)
            if (r.position == 0) // the code digit: the only header character that comes from us
                return cli::fail(EX_USAGE, codeUsage);
        return cli::fail(
            EX_DATAERR,
            QStringLiteral("the scroll data cannot be sent: ") +
                frame::describe(built.refusals).replace(QLatin1Char('\n'), QStringLiteral("; ")));
    }
    const QByteArray& bytes = built.bytes;

    if (parser.isSet(dryRun)) {
        out << frame::toHex(bytes) << Qt::endl;
        return EX_OK;
    }

    const QString path = target->path;
    SerialPort serial([path](int) { return path; });
    serial.setCommPort(target->number);
    const QString settings = lineSettingsFor(bps.toInt());
    if (LinkResult set = serial.setSettings(settings); !set)
        return cli::fail(EX_USAGE, set.reason);
    if (LinkResult opened = serial.setPortOpen(true); !opened)
        return cli::fail(cli::exitStatusFor(opened.cause), opened.reason);
    if (LinkResult sent = serial.WriteBytes(bytes); !sent)
        return cli::fail(EX_IOERR, QStringLiteral("%1: %2").arg(target->label(), sent.reason));
    out << QStringLiteral("Wrote %1 bytes to %2 at %3.")
               .arg(bytes.size())
               .arg(target->label(), settings)
        << Qt::endl;
    return EX_OK;
}
