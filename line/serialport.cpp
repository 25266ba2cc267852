#include "line/serialport.h"

#include "store/files.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <variant>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

using Cause = LinkResult::Cause;
using Hold = LinkResult::Hold;

// The port is busy, held as `hold` says.
LinkResult busy(Hold hold, const QString& holder = {}) {
    LinkResult r = LinkResult::failure(Cause::Busy, {}, systemError(EBUSY));
    r.hold = hold;
    r.holder = holder;
    return r;
}

#ifdef Q_OS_UNIX
// "process 1234 (picocom)", or without the name where it cannot be read.
QString processName(qint64 pid) {
    const QString name = commandOf(pid);
    return name.isEmpty() ? QStringLiteral("process %1").arg(pid)
                          : QStringLiteral("process %1 (%2)").arg(pid).arg(name);
}

bool alive(qint64 pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// The largest pid this system hands out.
qint64 pidMax() {
    QFile file(QStringLiteral("/proc/sys/kernel/pid_max"));
    bool ok = false;
    const qint64 max = file.open(QIODevice::ReadOnly) ? file.read(32).trimmed().toLongLong(&ok) : 0;
    return ok && max > 0 ? max : 4194304;
}

// What a lock file says: the pid it names and, in Qt's form, the program's name.
struct LockContent {
    qint64 pid = 0;
    QString program;
};

// The forms a lock file takes; the first that reads the bytes wins. Text: the pid as
// decimal digits on the first line (UUCP pads it to ten columns), and in Qt's form the
// program's name and the host on the next lines. Binary: the pid as a 4-byte number.
std::optional<LockContent> textLock(const QByteArray& bytes) {
    const QList<QByteArray> lines = bytes.split('\n');
    const QByteArray first = lines.first().trimmed();
    if (first.isEmpty() ||
        !std::all_of(first.begin(), first.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return LockContent{first.size() <= 10 ? first.toLongLong() : 0,
                       lines.size() > 1 ? QString::fromLocal8Bit(lines[1].trimmed()) : QString()};
}
std::optional<LockContent> binaryLock(const QByteArray& bytes) {
    if (bytes.size() != 4)
        return std::nullopt;
    qint32 pid = 0;
    std::memcpy(&pid, bytes.constData(), sizeof pid);
    return LockContent{pid, {}};
}
constexpr std::optional<LockContent> (*kLockForms[])(const QByteArray&) = {textLock, binaryLock};

// Lock files are small: anything larger names no process.
constexpr qint64 kMaxLockBytes = 127;

// The bytes of the lock file at `path`; nothing when there is none; a busy verdict when
// something is there that is not a lock file. It is opened without following a link and
// without blocking, and read only when it is a small regular file.
std::variant<std::monostate, QByteArray, LinkResult> readLockFile(const QString& path) {
    auto refuse = [&](Hold hold, const QString& what) {
        LinkResult r = busy(hold);
        r.lockFile = path;
        r.error = what;
        return r;
    };
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && (errno == ENOENT || errno == ENOTDIR))
        return std::monostate{};
    if (fd < 0 && errno == ELOOP)
        return refuse(Hold::NotALock, fileKind(S_IFLNK));
    if (fd < 0) // one we may not read counts as garbled
        return refuse(Hold::GarbledLock, systemError(errno));
    struct stat info {};
    char data[kMaxLockBytes + 1] = {};
    ssize_t size = 0;
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (regular && info.st_size <= kMaxLockBytes)
        size = std::max<ssize_t>(0, ::read(fd, data, kMaxLockBytes));
    ::close(fd);
    if (!regular)
        return refuse(Hold::NotALock, fileKind(info.st_mode));
    return QByteArray(data, size);
}

// Whether a lock file for the device at `canonical` (such as /dev/ttyS0) in `directories`
// says that the port is busy, and why: a success when there is none or only a stale one. The
// lock is named by the device's file name (ttyS0, the UUCP convention) or by its path below
// /dev with '_' for '/' (pts_3, Qt's). One whose pid is dead is stale and does not count; one
// that names no possible pid is garbled and counts as busy.
LinkResult lockFileVerdict(const QString& canonical, const QStringList& directories) {
    QStringList names{QFileInfo(canonical).fileName()};
    if (canonical.startsWith(QLatin1String("/dev/"))) {
        QString belowDev = canonical.mid(5).replace(QLatin1Char('/'), QLatin1Char('_'));
        if (belowDev != names.first())
            names << belowDev;
    }
    for (const QString& name : names) {
        for (const QString& dir : directories) {
            const QString path = QStringLiteral("%1/LCK..%2").arg(dir, name);
            const auto read = readLockFile(path);
            if (const auto* verdict = std::get_if<LinkResult>(&read))
                return *verdict;
            const auto* bytes = std::get_if<QByteArray>(&read);
            if (!bytes)
                continue; // no lock file here
            std::optional<LockContent> lock;
            for (const auto form : kLockForms)
                if (!lock)
                    lock = form(*bytes);
            LinkResult r = busy(Hold::GarbledLock);
            r.lockFile = path;
            if (!lock || lock->pid < 1 || lock->pid > pidMax())
                return r;
            if (!alive(lock->pid))
                continue; // stale: taken over
            r.hold = Hold::Lock;
            r.holder = processName(lock->pid);
            if (!lock->program.isEmpty() &&
                lock->program.left(15).compare(commandOf(lock->pid), Qt::CaseInsensitive) != 0)
                r.lockNames = lock->program;
            return r;
        }
    }
    return LinkResult::success();
}

// The process that holds flock() on the device `info` describes, from /proc/locks.
QString flockHolder(const struct stat& info) {
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return {};
    // "1: FLOCK  ADVISORY  WRITE 1234 00:1a:5 0 EOF": major and minor in hex, inode decimal.
    const QString device = QStringLiteral("%1:%2:%3")
                               .arg(major(info.st_dev), 2, 16, QLatin1Char('0'))
                               .arg(minor(info.st_dev), 2, 16, QLatin1Char('0'))
                               .arg(info.st_ino);
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() >= 6 && f[1] == "FLOCK" && QString::fromLatin1(f[5]) == device)
            return processName(f[4].toLongLong());
    }
    return {};
}
#endif

// Why `path` could not be opened, from the system's view of it and what QSerialPort said
// (`error`, `errorString`): missing, permission denied, busy (and by whom), or not a line.
LinkResult explainOpenFailure(const QString& path, QSerialPort::SerialPortError error,
                              const QString& errorString, const QStringList& lockDirectories);

} // namespace

std::optional<LineSettings> parseSettings(const QString& settings) {
    const QStringList parts = settings.split(QLatin1Char(','));
    if (parts.size() != 4)
        return std::nullopt;
    LineSettings line;
    bool ok = false;
    line.baud = parts[0].trimmed().toInt(&ok);
    if (!ok || line.baud <= 0)
        return std::nullopt;

    const QString parity = parts[1].trimmed().toLower();
    if (parity == QLatin1String("n"))
        line.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("e"))
        line.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("o"))
        line.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("m"))
        line.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("s"))
        line.parity = QSerialPort::SpaceParity;
    else
        return std::nullopt;

    const int data = parts[2].trimmed().toInt(&ok);
    if (!ok || data < 5 || data > 8)
        return std::nullopt;
    line.dataBits = static_cast<QSerialPort::DataBits>(data);

    const QString stop = parts[3].trimmed();
    if (stop == QLatin1String("1"))
        line.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        line.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        line.stopBits = QSerialPort::TwoStop;
    else
        return std::nullopt;
    return line;
}

QString SerialPort::systemDevice(int portNumber) {
    if (portNumber < 1)
        return {};
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(portNumber);
#else
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
#endif
}

SerialPort::SerialPort(Resolver resolver, QObject* parent)
    : QObject(parent), m_resolver(std::move(resolver)) {
    // A vanished device keeps raising ResourceError until the port is closed. The port is
    // closed from the event loop, not from within QSerialPort's own call.
    connect(&m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        QMetaObject::invokeMethod(
            this, [this, error] { closeIfGone(error, m_port.errorString()); },
            Qt::QueuedConnection);
    });
    connect(&m_port, &QSerialPort::readyRead, this, [this] { Q_EMIT received(m_port.readAll()); });
}

LinkResult SerialPort::failure(LinkResult::Cause cause, const QString& error) const {
    LinkResult r = LinkResult::failure(cause, devicePath(), error);
    r.port = m_commPort;
    return r;
}

SerialPort::~SerialPort() = default;

void SerialPort::closeIfGone(QSerialPort::SerialPortError error, const QString& why) {
    // A line that hangs up while receiving reads end-of-file again and again: a ReadError.
    const bool gone =
        error == QSerialPort::ResourceError || (m_receiving && error == QSerialPort::ReadError);
    if (!gone || !m_port.isOpen())
        return;
    m_port.close();
    m_openFailure = failure(Cause::Io, why);
    m_openFailure.closedByFailure = true;
    Q_EMIT closedByError(m_openFailure);
}

LinkResult SerialPort::setSettings(const QString& settings) {
    const std::optional<LineSettings> line = parseSettings(settings);
    if (!line) {
        LinkResult r = failure(Cause::LineSettings);
        r.entry = settings;
        return r;
    }
    m_settings = settings;
    m_line = line;
    if (!m_port.isOpen())
        return LinkResult::success();
    return applySettings();
}

LinkResult SerialPort::applySettings() {
    const std::optional<LineSettings>& line = m_line;
    if (!line) {
        LinkResult r = failure(Cause::LineSettings);
        r.stage = LinkResult::Stage::Configure;
        return r;
    }
    const bool ok = m_port.setBaudRate(line->baud) && m_port.setParity(line->parity) &&
                    m_port.setDataBits(line->dataBits) && m_port.setStopBits(line->stopBits) &&
                    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (ok)
        return LinkResult::success();
    const QSerialPort::SerialPortError error = m_port.error();
    const QString why = m_port.errorString();
    m_port.clearError();
    closeIfGone(error, why);
    LinkResult r = failure(Cause::Io, why);
    r.stage = LinkResult::Stage::Configure;
    r.entry = m_settings;
    r.closedByFailure = !m_port.isOpen() && error == QSerialPort::ResourceError;
    return r;
}

LinkResult SerialPort::setPortOpen(bool open) {
    if (!open) {
        if (m_port.isOpen())
            m_port.close();
        return LinkResult::success();
    }
    if (m_port.isOpen())
        return LinkResult::success();
    const PortDevice device = m_resolver(m_commPort);
    if (!device.refusal.ok()) {
        m_openFailure = device.refusal;
        m_openFailure.port = m_commPort;
        return m_openFailure;
    }
    if (device.path.isEmpty()) {
        m_openFailure = failure(Cause::Missing);
        return m_openFailure;
    }
    m_openFailure = openDevice(device.path);
    m_openFailure.port = m_commPort;
    m_openFailure.device = device.path;
    return m_openFailure;
}

LinkResult SerialPort::openDevice(const QString& path) {
    QString canonical = path;
#ifdef Q_OS_UNIX
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return explainOpenFailure(path, QSerialPort::DeviceNotFoundError, systemError(errno),
                                  m_lockDirectories);
    if (!S_ISCHR(info.st_mode))
        return LinkResult::failure(Cause::NotSerial, path);
    canonical = QFileInfo(path).canonicalFilePath();
    if (LinkResult locked = lockFileVerdict(canonical, m_lockDirectories); !locked)
        return locked;
    // A look at the line before Qt opens it, on a descriptor that neither blocks nor makes
    // it the controlling terminal: whether it is a terminal at all, and whether another
    // program holds it in exclusive mode (TIOCEXCL, which root could open through and Qt
    // would clear on close). The descriptor stays open until Qt has opened the port, so that
    // closing it is never the last close that hangs up the line.
    const QByteArray native = QFile::encodeName(canonical);
    const int probe = ::open(native.constData(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (probe < 0 && errno == EBUSY)
        return busy(Hold::Exclusive);
    struct ProbeCloser {
        int fd;
        ~ProbeCloser() {
            if (fd >= 0)
                ::close(fd);
        }
    } closer{probe};
    int exclusive = 0;
    if (probe >= 0 && !::isatty(probe))
        return LinkResult::failure(Cause::NotSerial, path, systemError(ENOTTY));
    if (probe >= 0 && ::ioctl(probe, TIOCGEXCL, &exclusive) == 0 && exclusive)
        return busy(Hold::Exclusive);
#endif
    m_port.setPortName(canonical);
    if (LinkResult applied = applySettings(); !applied)
        return applied;
    const QIODevice::OpenMode mode = !m_receiving    ? QIODevice::WriteOnly
                                     : m_alsoSending ? QIODevice::ReadWrite
                                                     : QIODevice::ReadOnly;
    if (!m_port.open(mode)) {
        const LinkResult failed =
            explainOpenFailure(canonical, m_port.error(), m_port.errorString(), m_lockDirectories);
        m_port.clearError();
        return failed;
    }
#ifdef Q_OS_UNIX
    if (::flock(static_cast<int>(m_port.handle()), LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        m_port.close();
        if (err != EWOULDBLOCK)
            return LinkResult::failure(Cause::Io, path, systemError(err));
        return busy(Hold::Flock, flockHolder(info));
    }
#endif
    return LinkResult::success();
}

LinkResult SerialPort::Output(const QByteArray& bytes) {
    using Stage = LinkResult::Stage;
    if (!m_port.isOpen()) {
        LinkResult r = m_openFailure ? failure(Cause::Io) : m_openFailure;
        r.stage = Stage::Closed;
        return r;
    }
    const qint64 baud = m_line ? m_line->baud : 9600;
    // Ten bit times a byte (8N1), twice over, plus a second for the driver.
    const qint64 boundMs = 1000 + bytes.size() * 10 * 1000 * 2 / baud;
    const QDeadlineTimer deadline(boundMs);

    auto failed = [&](Stage stage, Cause cause) {
        const QSerialPort::SerialPortError error = m_port.error();
        LinkResult r = failure(cause, m_port.errorString());
        r.stage = stage;
        r.boundMs = boundMs;
        r.bytes = m_port.bytesToWrite();
        m_port.clear(QSerialPort::Output);
        m_port.clearError();
        closeIfGone(error, r.error);
        r.closedByFailure = !m_port.isOpen();
        return r;
    };

    m_port.clearError();
    if (m_port.write(bytes) != bytes.size())
        return failed(Stage::Write, Cause::Io);
    while (m_port.bytesToWrite() > 0) {
        const qint64 left = deadline.remainingTime();
        if (left <= 0 || !m_port.waitForBytesWritten(static_cast<int>(left))) {
            if (m_port.error() == QSerialPort::NoError ||
                m_port.error() == QSerialPort::TimeoutError)
                return failed(Stage::Write, Cause::Timeout);
            return failed(Stage::Write, Cause::Io);
        }
    }
#ifdef Q_OS_UNIX
    // The driver has every byte; wait until its output queue is empty, then for the line.
    const int fd = static_cast<int>(m_port.handle());
    int queued = 0;
    while (::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
        if (deadline.hasExpired()) {
            ::tcflush(fd, TCOFLUSH);
            LinkResult r = failure(Cause::Timeout);
            r.stage = Stage::Drain;
            r.bytes = queued;
            r.boundMs = boundMs;
            return r;
        }
        QThread::msleep(1);
    }
    if (::tcdrain(fd) != 0) {
        LinkResult r = failure(Cause::Io, systemError(errno));
        r.stage = Stage::Drain;
        return r;
    }
#endif
    return LinkResult::success();
}

namespace {

LinkResult explainOpenFailure(const QString& path, QSerialPort::SerialPortError error,
                              const QString& errorString, const QStringList& lockDirectories) {
#ifdef Q_OS_UNIX
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    if (::stat(native.constData(), &info) != 0)
        return LinkResult::failure(Cause::Missing, path, systemError(errno));
    if (::access(native.constData(), R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM))
        return LinkResult::failure(Cause::Permission, path, systemError(errno));
    if (error == QSerialPort::PermissionError) {
        if (LinkResult locked = lockFileVerdict(path, lockDirectories); !locked)
            return locked;
        return busy(Hold::Unknown);
    }
#endif
    if (error == QSerialPort::DeviceNotFoundError)
        return LinkResult::failure(Cause::Missing, path, errorString);
    if (error == QSerialPort::PermissionError)
        return LinkResult::failure(Cause::Permission, path, errorString);
    if (error == QSerialPort::UnsupportedOperationError)
        return LinkResult::failure(Cause::NotSerial, path, errorString);
    return LinkResult::failure(Cause::Io, path, errorString);
}

} // namespace

LinkResult SerialPort::OpenAtStartup() {
    setCommPort(1);
    if (LinkResult set = setSettings(lineSettingsFor(kDisplaySpeeds[0])); !set)
        return set;
    return setPortOpen(true);
}

LinkResult SerialPort::SwitchPort(int index) {
    if (index < 0 || index >= kComPorts)
        return LinkResult::success();
    static_cast<void>(setPortOpen(false)); // closing cannot fail
    setCommPort(index + 1);
    return setPortOpen(true);
}

LinkResult SerialPort::SetSpeed(int index) {
    return setSettings(lineSettingsFor(kDisplaySpeeds[index == 0 ? 0 : 1]));
}

LinkResult SerialPort::WriteBytes(const QByteArray& bytes) {
    return Output(bytes);
}

LinkResult SerialPort::queue(const QByteArray& bytes) {
    if (!m_port.isOpen()) {
        LinkResult r = m_openFailure ? failure(Cause::Io) : m_openFailure;
        r.stage = LinkResult::Stage::Closed;
        return r;
    }
    if (m_port.write(bytes) != bytes.size()) {
        LinkResult r = failure(Cause::Io, m_port.errorString());
        r.stage = LinkResult::Stage::Write;
        return r;
    }
    return LinkResult::success();
}

// The meta-object code, compiled with this file instead of on its own.
#include "moc_serialport.cpp"
