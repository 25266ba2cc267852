#include "tools/output.h"

#include "line/signalwatch.h"

#include <cerrno>
#include <climits>
#include <limits>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

Output::Output(int fd) : m_fd(fd) {
    // A pipe or socket that polls writable takes PIPE_BUF bytes at once, a terminal less; a
    // file or a device such as /dev/null takes all.
    struct stat st {};
    const bool whole =
        ::fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISCHR(st.st_mode)) && !terminal();
    m_chunk = whole ? std::numeric_limits<qsizetype>::max() : terminal() ? 256 : PIPE_BUF;
}

bool Output::terminal() const {
    return ::isatty(m_fd) == 1;
}

bool Output::flush() {
    const qsizetype chunk = m_chunk;
    qsizetype done = 0;
    bool ok = true;
    const qsizetype size = this->size();
    while (done < size) {
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
        const ssize_t n =
            ::write(m_fd, m_buffer.constData() + done, size_t(std::min(chunk, size - done)));
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += n;
    }
    // The buffer keeps its room for the next bytes, unless a burst made it large.
    m_used = 0;
    if (m_buffer.capacity() > (1 << 20))
        m_buffer.clear();
    else if (m_inArray)
        m_buffer.resize(0);
    return ok;
}
