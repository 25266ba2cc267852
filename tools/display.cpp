// vorq-display: a customer display in software. It listens on a pseudo-terminal of its own
// (or on a real serial device) and prints each configuration frame it receives, decoded as
// the display would decode it, and what the display now stores.
//
// Exit statuses: 128 + the signal's number when ended by SIGINT, SIGTERM, SIGHUP, or SIGPIPE
// (the reader of its output has gone), after closing the port and removing the link; 0 for
// --once with a valid frame; 1 --once with a malformed one;
// 64 usage; 73 the link cannot be made; 69, 74, 77 when the device cannot be opened (as
// vorq-write); 74 also when the device hangs up.
#include "link/decoder.h"
#include "link/frame.h"
#include "link/serialport.h"
#include "link/signalwatch.h"
#include "tools/cli.h"
#include "version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <pty.h>
#include <sys/stat.h>
#include <sysexits.h>
#include <termios.h>
#include <unistd.h>
#include <variant>

namespace {

QTextStream out(stdout);

// The symbolic link that this process made, to be removed when it ends: the directory it
// lies in (held open, so that a parent renamed or swapped meanwhile cannot redirect the
// removal), its name there, its target, and the link's own inode.
struct OwnLink {
    int dir = -1;
    char name[256] = {};
    char target[256] = {};
    dev_t dev = 0;
    ino_t ino = 0;
} g_link;

// Whether the entry `name` in `dir` is a symbolic link to `target`; with `info`, also its
// lstat. Async-signal-safe.
bool linksTo(int dir, const char* name, const char* target, struct stat* info = nullptr) {
    struct stat st {};
    if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode))
        return false;
    char got[256] = {};
    const ssize_t n = ::readlinkat(dir, name, got, sizeof got - 1);
    if (info)
        *info = st;
    return n > 0 && std::strcmp(got, target) == 0;
}

// Removes the link only while it is still the very one this process made: same target,
// same inode.
void removeOwnLink() {
    struct stat st {};
    if (g_link.dir >= 0 && linksTo(g_link.dir, g_link.name, g_link.target, &st) &&
        st.st_dev == g_link.dev && st.st_ino == g_link.ino)
        ::unlinkat(g_link.dir, g_link.name, 0);
}

// Makes the symbolic link `at` to `target`. It never replaces an existing path, except a
// dangling link into /dev/pts (one left by an earlier run), and that only by an atomic
// exchange that is undone if the path changed meanwhile; a link that already points at
// `target` (this process's own pseudo-terminal) is adopted as it is. Empty on success, else
// why not.
QString makeOwnLink(const QString& at, const QString& target) {
    const QFileInfo where(at);
    const QByteArray dirPath = QFile::encodeName(where.absolutePath());
    const QByteArray name = QFile::encodeName(where.fileName());
    const QByteArray to = QFile::encodeName(target);
    if (name.size() >= int(sizeof g_link.name) || to.size() >= int(sizeof g_link.target))
        return QStringLiteral("the path is too long");
    const int dir = ::open(dirPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    auto fail = [dir](const QString& why) {
        ::close(dir);
        return why;
    };
    if (::symlinkat(to.constData(), dir, name.constData()) != 0) {
        if (errno != EEXIST)
            return fail(QString::fromLocal8Bit(std::strerror(errno)));
        // A leftover: a symbolic link into /dev/pts whose pseudo-terminal is gone.
        auto leftover = [dir](const char* entry) {
            char old[256] = {};
            struct stat st {};
            return ::readlinkat(dir, entry, old, sizeof old - 1) > 0 &&
                   std::strncmp(old, "/dev/pts/", 9) == 0 && ::fstatat(dir, entry, &st, 0) != 0 &&
                   errno == ENOENT;
        };
        // A link to the very pseudo-terminal that this process now holds, left by an earlier
        // run that was killed before it could remove it (the number was reused), is adopted
        // as it is: the check below records it as this process's own.
        char old[256] = {};
        const bool ours = ::readlinkat(dir, name.constData(), old, sizeof old - 1) > 0 &&
                          std::strcmp(old, to.constData()) == 0;
        if (!ours) {
            if (!leftover(name.constData()))
                return fail(QStringLiteral("it exists and is not a leftover link to a gone "
                                           "pseudo-terminal; it was left alone"));
            const QByteArray spare = name + ".vorq-" + QByteArray::number(::getpid());
            if (::symlinkat(to.constData(), dir, spare.constData()) != 0)
                return fail(QString::fromLocal8Bit(std::strerror(errno)));
            if (::renameat2(dir, spare.constData(), dir, name.constData(), RENAME_EXCHANGE) != 0) {
                const int err = errno;
                ::unlinkat(dir, spare.constData(), 0);
                return fail(QString::fromLocal8Bit(std::strerror(err)));
            }
            if (!leftover(spare.constData())) { // changed meanwhile: put it back
                ::renameat2(dir, spare.constData(), dir, name.constData(), RENAME_EXCHANGE);
                ::unlinkat(dir, spare.constData(), 0);
                return fail(QStringLiteral("it changed while it was being replaced; it was "
                                           "left alone"));
            }
            ::unlinkat(dir, spare.constData(), 0);
        }
    }
    struct stat st {};
    if (!linksTo(dir, name.constData(), to.constData(), &st))
        return fail(QStringLiteral("it changed right after it was made"));
    g_link.dir = dir;
    g_link.dev = st.st_dev;
    g_link.ino = st.st_ino;
    qstrncpy(g_link.name, name.constData(), sizeof g_link.name);
    qstrncpy(g_link.target, to.constData(), sizeof g_link.target);
    return {};
}

// "1 byte", "15 bytes".
QString byteCount(const QByteArray& bytes) {
    return bytes.size() == 1 ? QStringLiteral("1 byte")
                             : QStringLiteral("%1 bytes").arg(bytes.size());
}

QString quoted(const QString& s) {
    return QLatin1Char('"') + escaped(s) + QLatin1Char('"');
}

// What the command line asks for, once it has been checked.
struct Request {
    QString link;   // a symbolic link to make to the pseudo-terminal, or empty
    QString device; // a serial device to listen on instead of a pseudo-terminal, or empty
    int bps = 9600;
    bool hex = false;
    bool once = false;
};

// The request that `argv` makes, or the exit status when it makes none that can be run.
std::variant<Request, int> parse(int argc, char* argv[]) {
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
    const QCommandLineOption speed(
        QStringLiteral("speed"),
        QStringLiteral("The device's speed, 9600 or 19200 (8N1). Default: 9600."),
        QStringLiteral("bps"), QStringLiteral("9600"));
    const QCommandLineOption hex(QStringLiteral("hex"),
                                 QStringLiteral("Also print the raw bytes."));
    const QCommandLineOption once(
        QStringLiteral("once"),
        QStringLiteral("Exit after the first frame: 0 when it was valid, 1 when not."));
    if (const auto stop = cli::parse(parser, {link, device, speed, hex, once},
                                     cli::arguments(argc, argv, nullptr)))
        return *stop;
    const QString bps = parser.value(speed);
    if (const auto stop = cli::refuseSpeed(bps))
        return *stop;
    if (parser.isSet(device) && parser.isSet(link))
        return cli::fail(EX_USAGE,
                         QStringLiteral("--link applies to the pseudo-terminal, not to --device"));
    return Request{parser.value(link), parser.value(device), bps.toInt(), parser.isSet(hex),
                   parser.isSet(once)};
}

// Prints what the decoder reports, and with --once ends the program after the first report.
class Printer {
public:
    explicit Printer(const Request& request) : m_request(request) { m_clock.start(); }

    void arrived(const QByteArray& bytes) { print(m_decoder.feed(bytes, m_clock.elapsed())); }
    // Reports a frame whose end marker is overdue.
    void tick() { print(m_decoder.flush(m_clock.elapsed())); }
    // The line hung up: reports what was left of a frame, says why and ends, releasing the
    // port and its lock.
    void hungUp(const QString& why) {
        print(m_decoder.hangUp());
        removeOwnLink();
        QCoreApplication::exit(cli::fail(EX_IOERR, why));
    }

private:
    void print(const QList<FrameDecoder::Report>& reports) {
        for (const FrameDecoder::Report& r : reports) {
            if (m_onceStatus)
                return;
            if (r.valid) {
                out << "Frame: command set " << r.code << ' ' << frame::commandSetName(r.code)
                    << ", scroll data " << quoted(r.scrollData) << ", " << byteCount(r.bytes)
                    << Qt::endl;
                out << "Stores: command set " << r.code << ", scroll data " << quoted(r.scrollData)
                    << Qt::endl;
            } else {
                out << "Malformed: " << r.problem << ", " << byteCount(r.bytes) << Qt::endl;
            }
            if (m_request.hex)
                out << "  " << toHex(r.bytes) << Qt::endl;
            if (m_request.once) {
                // The line stays open a moment longer, as a display's would: a sender still
                // draining its port must not see it hang up.
                m_onceStatus = r.valid ? 0 : 1;
                QTimer::singleShot(250, qApp, [this] { QCoreApplication::exit(*m_onceStatus); });
            }
        }
    }

    const Request m_request;
    FrameDecoder m_decoder;
    QElapsedTimer m_clock;
    std::optional<int> m_onceStatus;
};

// Listens on the serial device that the request names.
int listenOnDevice(const Request& request, Printer& printer) {
    const QString path = request.device;
    SerialPort serial([path](int) { return path; });
    serial.setCommPort(0);
    serial.setReceiving(true);
    const QString settings = lineSettingsFor(request.bps);
    LinkResult opened = serial.setSettings(settings);
    if (opened)
        opened = serial.setPortOpen(true);
    if (!opened)
        return cli::fail(cli::exitStatus(opened.cause), cli::describe(opened));
    QObject::connect(&serial, &SerialPort::received, &serial,
                     [&](const QByteArray& bytes) { printer.arrived(bytes); });
    QObject::connect(&serial, &SerialPort::closedByError, &serial,
                     [&](const LinkResult& why) { printer.hungUp(cli::describe(why)); });
    out << "Listening on " << shown(path) << " at " << settings << Qt::endl;
    return QCoreApplication::exec();
}

// Listens on a pseudo-terminal of its own, linked from the request's path if it names one.
int listenOnPty(const Request& request, Printer& printer) {
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
    if (!request.link.isEmpty()) {
        if (const QString why = makeOwnLink(request.link, slave); !why.isEmpty())
            return cli::fail(
                EX_CANTCREAT,
                QStringLiteral("cannot make the link %1: %2").arg(shown(request.link), why));
    }
    QSocketNotifier readable(master, QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, &readable, [&] {
        char buffer[512];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0) {
            printer.arrived(QByteArray(buffer, n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            readable.setEnabled(false);
            printer.hungUp(QStringLiteral("%1 hung up").arg(slave));
        }
    });
    out << "Listening on " << slave;
    if (!request.link.isEmpty())
        out << " (linked from " << shown(request.link) << ')';
    out << Qt::endl;
    const int status = QCoreApplication::exec();
    removeOwnLink();
    return status;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vorq-display"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORQ_VERSION));
    const auto parsed = parse(argc, argv);
    if (const int* status = std::get_if<int>(&parsed))
        return *status;
    const Request request = std::get<Request>(parsed);

    Printer printer(request);
    QTimer expiry;
    QObject::connect(&expiry, &QTimer::timeout, &expiry, [&] { printer.tick(); });
    expiry.start(100);
    SignalWatch signals({SIGINT, SIGTERM, SIGHUP, SIGPIPE});
    signals.endEventLoopOnSignal();
    return request.device.isEmpty() ? listenOnPty(request, printer)
                                    : listenOnDevice(request, printer);
}
