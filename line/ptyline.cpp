#include "line/ptyline.h"

#include <QSocketNotifier>

#include <climits>
#include <fcntl.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

PtyLine::PtyLine() {
    char name[PATH_MAX] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    termios raw{};
    ::tcgetattr(m_slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(m_slave, TCSANOW, &raw);
    m_path = QString::fromLocal8Bit(name);
    m_watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watch >= 0 && ::inotify_add_watch(m_watch, name, IN_OPEN | IN_CLOSE) < 0) {
        ::close(m_watch);
        m_watch = -1;
    }
    if (m_watch >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(m_watch, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                         [this] { countOpensAndCloses(); });
    }
}

PtyLine::~PtyLine() {
    m_notifier.reset();
    for (const int fd : {m_watch, m_slave, m_master})
        if (fd >= 0)
            ::close(fd);
}

void PtyLine::countOpensAndCloses() {
    alignas(inotify_event) char events[4096];
    ssize_t n = 0;
    while ((n = ::read(m_watch, events, sizeof events)) > 0) {
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(events + at);
            m_senders += (e->mask & IN_OPEN) ? 1 : (e->mask & IN_CLOSE) ? -1 : 0;
            at += ssize_t(sizeof(inotify_event)) + ssize_t(e->len);
        }
    }
    if (m_senders <= 0) {
        m_senders = 0;
        ::ioctl(m_slave, TIOCNXCL);
    }
}
