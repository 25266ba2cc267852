#include "tools/output.h"

#include "line/signalwatch.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

bool Output::terminal() const {
    return ::isatty(m_fd) == 1;
}

bool Output::flush() {
    // A pipe that polls writable takes PIPE_BUF bytes at once; a terminal takes less.
    const qsizetype chunk = terminal() ? 256 : 4096;
    qsizetype done = 0;
    bool ok = true;
    while (done < m_buffer.size()) {
        if (SignalWatch::pending()) {
            ok = false;
            break;
        }
        pollfd fds[2] = {{m_fd, POLLOUT, 0}, {SignalWatch::wakeFd(), POLLIN, 0}};
        if (::poll(fds, fds[1].fd < 0 ? 1 : 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        if (fds[1].revents)
            continue; // the watch has recorded the signal: pending() says so above
        if (fds[0].revents & (POLLERR | POLLNVAL)) {
            ok = false;
            break;
        }
        const ssize_t n = ::write(m_fd, m_buffer.constData() + done,
                                  size_t(std::min(chunk, m_buffer.size() - done)));
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += n;
    }
    m_buffer.clear();
    return ok;
}
