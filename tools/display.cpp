// vorq-display: a customer display in software. It listens on a pseudo-terminal of its own
// (or on a real serial device, or reads a capture) and shows its 2x20 screen as the command
// set in force draws it, each configuration frame it receives, decoded as the display would
// decode it, what the display then stores, and the bytes that the set does not understand.
//
// Exit statuses: 128 + the signal's number when ended by SIGINT, SIGTERM, SIGHUP, or SIGPIPE
// (the reader of its output has gone), after closing the port and removing the link; 0 for
// --once with a valid frame, and at the end of --input; 1 --once with a malformed one; 65 at
// the end of --input --strict when some bytes were not understood; 66 the input cannot be
// read; 64 usage; 73 the link cannot be made; 69, 74, 77 when the device cannot be opened
// (as vorq-write); 74 also when the device hangs up.
#include "display/display.h"
#include "display/eepromfile.h"
#include "line/ownlink.h"
#include "line/portmap.h"
#include "line/ptyline.h"
#include "line/serialport.h"
#include "line/signalwatch.h"
#include "protocol/frame.h"
#include "store/files.h"
#include "tools/cli.h"
#include "tools/display/forward.h"
#include "tools/display/request.h"
#include "tools/display/session.h"
#include "tools/output.h"
#include "version.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sysexits.h>
#include <unistd.h>

namespace {

// The EEPROM at power-on, from the file; a file that cannot be used is a warning and a
// factory-fresh display that keeps it as it is and persists nothing.
display::eepromfile::Loaded loadEeprom(const QString& path) {
    using Problem = display::eepromfile::Loaded::Problem;
    const display::eepromfile::Loaded loaded = display::eepromfile::load(path);
    QString why;
    switch (loaded.problem) {
    case Problem::None:
        return loaded;
    case Problem::Unreadable:
        why = QStringLiteral("cannot be read (%1)").arg(loaded.why);
        break;
    case Problem::NoCode:
        why =
            QStringLiteral("has no command set from %1 in [eeprom] code=").arg(frame::codeRange());
        break;
    case Problem::BadScrollData:
        why = QStringLiteral("holds scroll data that the display cannot store");
        break;
    }
    cli::fail(0, QStringLiteral("warning: the EEPROM file %1 %2; it is kept as it is, and the "
                                "display starts factory-fresh and runs without persisting")
                     .arg(shown(path), why));
    return loaded;
}

// The capture to read: stdin, or the file opened without waiting (a FIFO opens at once, and
// poll() then waits for its writer, whose end is the end of the input); -1 after saying why
// it cannot be read.
int openInput(const Request& request, const QString& name, bool stdinOpen) {
    if (request.input == QLatin1String("-")) {
        if (stdinOpen)
            return STDIN_FILENO;
        cli::fail(EX_NOINPUT, QStringLiteral("cannot read %1: it is closed").arg(name));
        return -1;
    }
    const int fd = ::open(QFile::encodeName(request.input).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat info {};
    const int err = fd < 0                    ? errno
                    : ::fstat(fd, &info) != 0 ? errno
                    : S_ISDIR(info.st_mode)   ? EISDIR
                                              : 0;
    if (err == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    cli::fail(EX_NOINPUT, QStringLiteral("cannot read %1: %2").arg(name, systemError(err)));
    return -1;
}

// Reads the capture, showing each read as it comes, until its end or a signal; at its end,
// what a hang-up would report. `stdinOpen`: whether the program was started with a standard
// input.
int readInput(const Request& request, Session& session, bool stdinOpen) {
    const QString name = request.input == QLatin1String("-") ? QStringLiteral("the standard input")
                                                             : shown(request.input);
    const int fd = openInput(request, name, stdinOpen);
    if (fd < 0)
        return EX_NOINPUT;
    session.powerOn();
    char buffer[65536];
    int err = 0;
    while (!session.onceStatus() && !SignalWatch::pending()) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {SignalWatch::wakeFd(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            err = errno;
            break;
        }
        if (SignalWatch::pending() || !(fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            session.arrived(QByteArrayView(buffer, n));
        else if (n == 0)
            break;
        else if (errno != EINTR && errno != EAGAIN)
            err = errno;
        if (err != 0)
            break;
    }
    if (fd != STDIN_FILENO)
        ::close(fd);
    if (err != 0)
        return cli::fail(EX_IOERR,
                         QStringLiteral("cannot read %1: %2").arg(name, systemError(err)));
    if (SignalWatch::pending())
        return SignalWatch::exitStatus();
    if (request.identify)
        return session.identify();
    if (!session.onceStatus())
        session.ended();
    if (session.onceStatus())
        return *session.onceStatus();
    return request.strict && !session.understoodAll() ? EX_DATAERR : EX_OK;
}

// Listens on the serial device that the request names.
int listenOnDevice(const Request& request, Session& session) {
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
                     [&](const QByteArray& bytes) { session.arrived(bytes); });
    QObject::connect(&serial, &SerialPort::closedByError, &serial, [&](const LinkResult& why) {
        session.hungUp(why.error.isEmpty()
                           ? QStringLiteral("%1 hung up").arg(shown(path))
                           : QStringLiteral("%1 hung up: %2").arg(shown(path), why.error));
    });
    session.listening(path + QStringLiteral(" at ") + settings);
    session.powerOn();
    return QCoreApplication::exec();
}

QString linkRefusal(const OwnLink::Result& made) {
    switch (made.cause) {
    case OwnLink::Cause::None:
        break;
    case OwnLink::Cause::System:
        return systemError(made.error);
    case OwnLink::Cause::Exists:
        return QStringLiteral("it exists and is not a leftover link to a gone pseudo-terminal; "
                              "it was left alone");
    case OwnLink::Cause::Changed:
        return QStringLiteral("it changed while it was being made; it was left alone");
    case OwnLink::Cause::TooLong:
        return QStringLiteral("the path is too long");
    }
    return {};
}

// Listens on a pseudo-terminal of its own, linked from the request's path if it names one;
// the link is removed when the program ends. With --forward, the bytes go on to the real
// display and its answers come back.
int listenOnPty(const Request& request, Session& session) {
    PtyLine line;
    if (!line.isOpen())
        return cli::fail(EX_OSERR, QStringLiteral("cannot open a pseudo-terminal"));
    std::unique_ptr<SerialPort> forward;
    ToSoftware toSoftware(line.master());
    if (!request.forward.isEmpty()) {
        auto opened = openForward(request);
        if (const int* status = std::get_if<int>(&opened))
            return *status;
        forward = std::move(std::get<std::unique_ptr<SerialPort>>(opened));
        QObject::connect(forward.get(), &SerialPort::received, forward.get(),
                         [&toSoftware](const QByteArray& bytes) { toSoftware.send(bytes); });
        QObject::connect(forward.get(), &SerialPort::closedByError, forward.get(),
                         [&](const LinkResult& why) {
                             session.hungUp(QStringLiteral("%1 hung up").arg(why.where()));
                         });
    }
    OwnLink link;
    if (!request.link.isEmpty())
        if (const OwnLink::Result made = link.make(request.link, line.slavePath()); !made.ok())
            return cli::fail(EX_CANTCREAT, QStringLiteral("cannot make the link %1: %2")
                                               .arg(shown(request.link), linkRefusal(made)));
    QSocketNotifier readable(line.master(), QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, &readable, [&] {
        char buffer[4096];
        const ssize_t n = ::read(line.master(), buffer, sizeof buffer);
        if (n > 0) {
            if (forward)
                if (const LinkResult sent = forward->queue(QByteArray(buffer, int(n))); !sent)
                    return session.hungUp(cli::describe(sent));
            session.arrived(QByteArrayView(buffer, n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            readable.setEnabled(false);
            session.hungUp(QStringLiteral("%1 hung up").arg(line.slavePath()));
        }
    });
    session.listening(request.link.isEmpty() ? line.slavePath()
                                             : line.slavePath() + QStringLiteral(" (linked from ") +
                                                   request.link + QLatin1Char(')'));
    session.powerOn();
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char* argv[]) {
    // A standard descriptor that the program was started without is opened on /dev/null, so
    // that no file this program opens takes its number.
    const bool stdinOpen = ::fcntl(STDIN_FILENO, F_GETFD) != -1;
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        if (::fcntl(fd, F_GETFD) == -1)
            ::open("/dev/null", O_RDWR);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vorq-display"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORQ_VERSION));
    const auto parsed = parseRequest(argc, argv);
    if (const int* status = std::get_if<int>(&parsed))
        return *status;
    const Request request = std::get<Request>(parsed);

    SignalWatch signals({SIGINT, SIGTERM, SIGHUP, SIGPIPE});
    const display::eepromfile::Loaded stored =
        request.eeprom.isEmpty() ? display::eepromfile::Loaded{} : loadEeprom(request.eeprom);
    Output out(STDOUT_FILENO);
    Session session(request, stored.eeprom, !request.eeprom.isEmpty() && stored.savable(), out);
    if (!request.input.isEmpty())
        return readInput(request, session, stdinOpen);
    QTimer expiry;
    QObject::connect(&expiry, &QTimer::timeout, &expiry, [&] { session.tick(); });
    expiry.start(100);
    QTimer marquee;
    if (session.view().animated()) {
        QObject::connect(&marquee, &QTimer::timeout, &marquee, [&] { session.marquee(); });
        marquee.start(300);
    }
    signals.endEventLoopOnSignal();
    const int status =
        request.device.isEmpty() ? listenOnPty(request, session) : listenOnDevice(request, session);
    // Live, the identification ends the run, whether the line went quiet or a signal came.
    return request.identify && (status == 0 || SignalWatch::pending()) ? session.identify()
                                                                       : status;
}
