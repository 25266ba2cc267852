#include "sandbox.h"

#include "privatens.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
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
    if (!privatens::enter(false))
        return failed("unshare(CLONE_NEWNS)");
    if (!privatens::tmpfs("/dev", "mode=0755,size=4m", true))
        return failed("mount tmpfs on /dev");
    if (const std::string step = privatens::makeDev("/dev", true); !step.empty())
        return failed(step.c_str());
    // Serial lock files of this namespace stay in it.
    if (!privatens::tmpfs("/run/lock", "mode=1777"))
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
