#include "line/ownlink.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What the entry `name` in `dir` links to, or nothing when it is no symbolic link.
QByteArray linkTarget(int dir, const char* name) {
    char got[PATH_MAX] = {};
    const ssize_t n = ::readlinkat(dir, name, got, sizeof got - 1);
    return n > 0 ? QByteArray(got, n) : QByteArray();
}

// A leftover: a symbolic link into /dev/pts whose pseudo-terminal is gone.
bool leftover(int dir, const char* name) {
    struct stat st {};
    return linkTarget(dir, name).startsWith("/dev/pts/") && ::fstatat(dir, name, &st, 0) != 0 &&
           errno == ENOENT;
}

} // namespace

OwnLink::Result OwnLink::fail(Cause cause, int error) {
    ::close(m_dir);
    m_dir = -1;
    return {cause, error};
}

OwnLink::Result OwnLink::make(const QString& at, const QString& target) {
    remove();
    const QFileInfo where(at);
    m_name = QFile::encodeName(where.fileName());
    m_target = QFile::encodeName(target);
    if (m_name.size() > NAME_MAX - 16 || m_target.size() >= PATH_MAX)
        return {Cause::TooLong, 0};
    m_dir = ::open(QFile::encodeName(where.absolutePath()).constData(),
                   O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_dir < 0)
        return {Cause::System, errno};
    const char* name = m_name.constData();
    if (::symlinkat(m_target.constData(), m_dir, name) != 0) {
        if (errno != EEXIST)
            return fail(Cause::System, errno);
        if (linkTarget(m_dir, name) != m_target) { // not a link to this very line: replace?
            if (!leftover(m_dir, name))
                return fail(Cause::Exists);
            const QByteArray spare = m_name + ".vorq-" + QByteArray::number(::getpid());
            if (::symlinkat(m_target.constData(), m_dir, spare.constData()) != 0)
                return fail(Cause::System, errno);
            if (::renameat2(m_dir, spare.constData(), m_dir, name, RENAME_EXCHANGE) != 0) {
                const int err = errno;
                ::unlinkat(m_dir, spare.constData(), 0);
                return fail(Cause::System, err);
            }
            if (!leftover(m_dir, spare.constData())) { // changed meanwhile: put it back
                ::renameat2(m_dir, spare.constData(), m_dir, name, RENAME_EXCHANGE);
                ::unlinkat(m_dir, spare.constData(), 0);
                return fail(Cause::Changed);
            }
            ::unlinkat(m_dir, spare.constData(), 0);
        }
    }
    struct stat st {};
    if (::fstatat(m_dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode) ||
        linkTarget(m_dir, name) != m_target)
        return fail(Cause::Changed);
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    return {};
}

void OwnLink::remove() {
    if (m_dir < 0)
        return;
    struct stat st {};
    if (::fstatat(m_dir, m_name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode) && st.st_dev == m_dev && st.st_ino == m_ino &&
        linkTarget(m_dir, m_name.constData()) == m_target)
        ::unlinkat(m_dir, m_name.constData(), 0);
    ::close(m_dir);
    m_dir = -1;
}
