#include "support.h"

#include "line/portmap.h"

#include <QElapsedTimer>
#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

Pty::Pty() {
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    m_path = QString::fromLocal8Bit(name);
    termios raw{};
    ::tcgetattr(m_slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(m_slave, TCSANOW, &raw);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    // Programs that the test starts must not hold the line open: a vanish() would not reach.
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
}

Pty::~Pty() {
    if (m_master >= 0)
        ::close(m_master);
    ::close(m_slave);
}

QByteArray Pty::read(int waitMs, int expected) {
    QByteArray got;
    QElapsedTimer timer;
    timer.start();
    while (m_master >= 0 && (expected < 0 || got.size() < expected)) {
        const qint64 left = waitMs - timer.elapsed();
        if (left < 0)
            break;
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        char buffer[512];
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        got.append(buffer, n);
    }
    return got;
}

QByteArray Pty::readFrame(int waitMs) {
    QByteArray got;
    QElapsedTimer timer;
    timer.start();
    while (!got.endsWith('\xFF') && timer.elapsed() < waitMs)
        got += read(static_cast<int>(waitMs - timer.elapsed()), 1);
    return got;
}

int Pty::baud() const {
    termios t{};
    ::tcgetattr(m_slave, &t);
    switch (::cfgetospeed(&t)) {
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B115200:
        return 115200;
    default:
        return -1;
    }
}

void Pty::write(const QString& path, const QByteArray& bytes) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NOCTTY);
    if (fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) >= 0)
        ::tcdrain(fd);
    if (fd >= 0)
        ::close(fd);
}

void Pty::send(const QByteArray& bytes) {
    pollfd p{m_master, POLLOUT, 0};
    for (qsizetype done = 0; done < bytes.size() && ::poll(&p, 1, 1000) > 0;) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        done += n > 0 ? n : 0;
    }
    // No event tells the master that the slave's reader has taken the bytes: look until they
    // have arrived at the slave and gone again (or, when the reader was quicker than the
    // first look, for at most 200 ms).
    bool arrived = false;
    for (int ms = 0; ms < 2000 && (arrived || ms < 200); ++ms) {
        int waiting = 0;
        ::ioctl(m_slave, FIONREAD, &waiting);
        if (arrived && waiting == 0)
            break;
        arrived = arrived || waiting > 0;
        ::poll(nullptr, 0, 1);
    }
}

void Pty::suspend(bool suspended) {
    ::tcflow(m_slave, suspended ? TCOOFF : TCOON);
}

bool Pty::exclusive() const {
    int set = 0;
    return ::ioctl(m_slave, TIOCGEXCL, &set) == 0 && set;
}

void Pty::vanish() {
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

Ports::Ports() {
    for (auto& p : pty)
        p = std::make_unique<Pty>();
}

SerialPort::Resolver Ports::resolver() {
    return [this](int n) -> QString {
        if (n < 1 || n > PortMap::kPorts)
            return {};
        if (missing.contains(n))
            return QStringLiteral("/nonexistent/vorq-port-%1").arg(n);
        return pty[n - 1]->slavePath();
    };
}

QByteArray Ports::readAll(int waitMs) {
    QList<pollfd> lines;
    for (auto& p : pty)
        if (p->m_master >= 0)
            lines.append({p->m_master, POLLIN, 0});
    QElapsedTimer timer;
    timer.start();
    // All lines at once, for the one wire time.
    for (qint64 left = waitMs; left > 0; left = waitMs - timer.elapsed())
        if (::poll(lines.data(), nfds_t(lines.size()), int(left)) > 0)
            break;
    QByteArray all;
    for (auto& p : pty)
        all += p->read(1);
    return all;
}
