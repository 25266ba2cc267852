#include "sandbox.h"

#include <QByteArray>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace sandbox {

namespace {

bool g_ready = false; // set only once every mount of enter() is in place

QString failed(const char* what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

QString enter() {
    if (::geteuid() != 0)
        return QStringLiteral("a private mount namespace needs root here");
    if (::unshare(CLONE_NEWNS) != 0)
        return failed("unshare(CLONE_NEWNS)");
    // From here on every mount must stay inside this namespace.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        std::perror("making / private in the new namespace");
        std::abort();
    }

    if (::mount("tmpfs", "/dev", "tmpfs", MS_NOSUID, "mode=0755,size=4m") != 0)
        return failed("mount tmpfs on /dev");
    const struct {
        const char* path;
        unsigned major, minor;
    } nodes[] = {{"/dev/null", 1, 3},   {"/dev/zero", 1, 5},    {"/dev/full", 1, 7},
                 {"/dev/random", 1, 8}, {"/dev/urandom", 1, 9}, {"/dev/tty", 5, 0}};
    for (const auto& n : nodes) {
        if (::mknod(n.path, S_IFCHR | 0666, makedev(n.major, n.minor)) != 0)
            return failed("mknod in /dev");
        ::chmod(n.path, 0666);
    }
    if (::mkdir("/dev/pts", 0755) != 0 ||
        ::mount("devpts", "/dev/pts", "devpts", MS_NOSUID | MS_NOEXEC,
                "newinstance,ptmxmode=0666,mode=0620") != 0)
        return failed("mount devpts");
    if (::symlink("pts/ptmx", "/dev/ptmx") != 0 || ::symlink("/proc/self/fd", "/dev/fd") != 0)
        return failed("symlink in /dev");
    ::symlink("/proc/self/fd/0", "/dev/stdin");
    ::symlink("/proc/self/fd/1", "/dev/stdout");
    ::symlink("/proc/self/fd/2", "/dev/stderr");
    if (::mkdir("/dev/shm", 01777) != 0 ||
        ::mount("tmpfs", "/dev/shm", "tmpfs", MS_NOSUID, "mode=1777") != 0)
        return failed("mount /dev/shm");
    // Serial lock files of this namespace stay in it.
    if (::mount("tmpfs", "/run/lock", "tmpfs", MS_NOSUID, "mode=1777") != 0)
        return failed("mount tmpfs on /run/lock");
    g_ready = true;
    return {};
}

bool bindPort(int n, const QString& devicePath) {
    if (!g_ready) // never outside the private /dev
        return false;
    const QByteArray target = QStringLiteral("/dev/ttyS%1").arg(n).toLocal8Bit();
    const int fd = ::open(target.constData(), O_CREAT | O_WRONLY, 0660);
    if (fd < 0)
        return false;
    ::close(fd);
    return ::mount(devicePath.toLocal8Bit().constData(), target.constData(), nullptr, MS_BIND,
                   nullptr) == 0;
}

bool unbindPort(int n) {
    if (!g_ready)
        return false;
    const QByteArray target = QStringLiteral("/dev/ttyS%1").arg(n).toLocal8Bit();
    ::umount2(target.constData(), MNT_DETACH);
    return ::unlink(target.constData()) == 0 || errno == ENOENT;
}

} // namespace sandbox
