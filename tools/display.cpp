// vorq-display: a customer display in software. It listens on a pseudo-terminal of its own
// (or on a real serial device) and prints each configuration frame it receives, decoded as
// the display would decode it, and what the display now stores.
//
// Exit statuses: 0 ended by a signal, or --once with a valid frame; 1 --once with a
// malformed one; 64 usage; 69, 74, 77 when the device cannot be opened (as vorq-write).
#include "link/decoder.h"
#include "link/frame.h"
#include "link/serialport.h"
#include "tools/cli.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <optional>
#include <pty.h>
#include <sysexits.h>
#include <termios.h>
#include <unistd.h>

namespace {

QTextStream out(stdout);

char g_link[4096] = {}; // the symbolic link to remove when a signal ends the program

void endOnSignal(int) {
    if (g_link[0])
        ::unlink(g_link);
    ::_exit(0);
}

QString quoted(const QString& s) {
    return QLatin1Char('"') + s + QLatin1Char('"');
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vorq-display"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORQ_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A pole display in software: prints each configuration frame it receives."));
    const QCommandLineOption link(
        QStringLiteral("link"),
        QStringLiteral("Also make a symbolic link at PATH to the pseudo-terminal."),
        QStringLiteral("PATH"));
    const QCommandLineOption device(
        QStringLiteral("device"),
        QStringLiteral("Listen on this serial device instead of a pseudo-terminal."),
        QStringLiteral("PATH"));
    const QCommandLineOption speed(QStringLiteral("speed"),
                                   QStringLiteral("The device's speed, 9600 or 19200 (8N1)."),
                                   QStringLiteral("bps"), QStringLiteral("9600"));
    const QCommandLineOption hex(QStringLiteral("hex"),
                                 QStringLiteral("Also print the raw bytes."));
    const QCommandLineOption once(
        QStringLiteral("once"),
        QStringLiteral("Exit after the first frame: 0 when it was valid, 1 when not."));
    parser.addOptions({link, device, speed, hex, once});
    if (const auto stop = cli::parse(parser))
        return *stop;
    const QString bps = parser.value(speed);
    if (!isDisplaySpeed(bps))
        return cli::fail(EX_USAGE,
                         QStringLiteral("--speed must be 9600 or 19200, not \"%1\"").arg(bps));
    if (parser.isSet(device) && parser.isSet(link))
        return cli::fail(EX_USAGE,
                         QStringLiteral("--link applies to the pseudo-terminal, not to --device"));

    FrameDecoder decoder;
    QElapsedTimer clock;
    clock.start();

    // With --once, the status of the first frame. The line stays open a moment longer, as a
    // display's would: a sender still draining its port must not see it hang up.
    std::optional<int> onceStatus;
    auto print = [&](const QList<FrameDecoder::Report>& reports) {
        for (const FrameDecoder::Report& r : reports) {
            if (onceStatus)
                return;
            if (r.valid) {
                out << "Frame: command set " << r.code << ' ' << frame::commandSetName(r.code)
                    << ", scroll data " << quoted(r.scrollData) << ", " << r.bytes.size()
                    << " bytes" << Qt::endl;
                out << "Stores: command set " << r.code << ", scroll data " << quoted(r.scrollData)
                    << Qt::endl;
            } else {
                out << "Malformed: " << r.problem << ", " << r.bytes.size() << " bytes" << Qt::endl;
            }
            if (parser.isSet(hex))
                out << "  " << frame::toHex(r.bytes) << Qt::endl;
            if (parser.isSet(once)) {
                onceStatus = r.valid ? 0 : 1;
                QTimer::singleShot(250, [&] { QCoreApplication::exit(*onceStatus); });
            }
        }
    };
    auto arrived = [&](const QByteArray& bytes) { print(decoder.feed(bytes, clock.elapsed())); };

    QTimer expiry; // reports a frame whose end marker is overdue
    QObject::connect(&expiry, &QTimer::timeout, [&] { print(decoder.flush(clock.elapsed())); });
    expiry.start(100);

    std::signal(SIGINT, endOnSignal);
    std::signal(SIGTERM, endOnSignal);
    std::signal(SIGHUP, endOnSignal);

    if (parser.isSet(device)) {
        const QString path = parser.value(device);
        SerialPort serial([path](int) { return path; });
        serial.setCommPort(0);
        serial.setReceiving(true);
        serial.setSettings(lineSettingsFor(bps.toInt()));
        QObject::connect(&serial, &SerialPort::received, arrived);
        if (LinkResult opened = serial.setPortOpen(true); !opened)
            return cli::fail(cli::exitStatusFor(opened.cause), opened.reason);
        out << "Listening on " << path << " at " << lineSettingsFor(bps.toInt()) << Qt::endl;
        return QCoreApplication::exec();
    }

    int master = -1;
    int lineFd = -1; // kept open, so that the master still reads after a sender closes
    char name[256] = {};
    if (::openpty(&master, &lineFd, name, nullptr, nullptr) != 0)
        return cli::fail(EX_OSERR, QStringLiteral("cannot open a pseudo-terminal"));
    termios raw{};
    ::tcgetattr(lineFd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(lineFd, TCSANOW, &raw);
    const QString slave = QString::fromLocal8Bit(name);
    if (parser.isSet(link)) {
        const QString at = parser.value(link);
        const QFileInfo existing(at);
        if (existing.exists() && !existing.isSymLink())
            return cli::fail(EX_CANTCREAT,
                             QStringLiteral("%1 exists and is not a symbolic link").arg(at));
        QFile::remove(at);
        if (!QFile::link(slave, at))
            return cli::fail(EX_CANTCREAT, QStringLiteral("cannot make the link %1").arg(at));
        qstrncpy(g_link, QFile::encodeName(at).constData(), sizeof g_link);
    }
    QSocketNotifier readable(master, QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, [&] {
        char buffer[512];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0)
            arrived(QByteArray(buffer, n));
    });
    out << "Listening on " << slave;
    if (parser.isSet(link))
        out << " (linked from " << parser.value(link) << ')';
    out << Qt::endl;
    const int status = QCoreApplication::exec();
    if (g_link[0])
        ::unlink(g_link);
    return status;
}
