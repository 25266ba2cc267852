#include "privatens.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace privatens {

namespace {

bool writeFile(const char* path, const std::string& text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    ::close(fd);
    return ok;
}

bool enterAsUser() {
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
        return false;
    return writeFile("/proc/self/setgroups", "deny") &&
           writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
           writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
}

} // namespace

bool enter(bool orAsUser) {
    if (::unshare(CLONE_NEWNS) != 0 && !(orAsUser && enterAsUser()))
        return false;
    // From here on every mount must stay inside this namespace.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        std::perror("making / private in the new namespace");
        std::abort();
    }
    return true;
}

bool tmpfs(const char* path, const char* options, bool devices) {
    return ::mount("tmpfs", path, "tmpfs", MS_NOSUID | (devices ? 0 : MS_NODEV), options) == 0;
}

std::string makeDev(const std::string& dev, bool newPts) {
    const struct {
        const char* name;
        unsigned major, minor;
    } nodes[] = {{"null", 1, 3},   {"zero", 1, 5},    {"full", 1, 7},
                 {"random", 1, 8}, {"urandom", 1, 9}, {"tty", 5, 0}};
    for (const auto& node : nodes) {
        const std::string path = dev + "/" + node.name;
        if (::mknod(path.c_str(), S_IFCHR | 0666, makedev(node.major, node.minor)) != 0)
            return "mknod " + path;
        ::chmod(path.c_str(), 0666);
    }
    const std::string pts = dev + "/pts";
    if (::mkdir(pts.c_str(), 0755) != 0)
        return "mkdir " + pts;
    if (newPts ? ::mount("devpts", pts.c_str(), "devpts", MS_NOSUID | MS_NOEXEC,
                         "newinstance,ptmxmode=0666,mode=0620") != 0
               : ::mount("/dev/pts", pts.c_str(), nullptr, MS_BIND, nullptr) != 0)
        return "mount " + pts;
    if (::symlink("pts/ptmx", (dev + "/ptmx").c_str()) != 0 ||
        ::symlink("/proc/self/fd", (dev + "/fd").c_str()) != 0)
        return "symlink in " + dev;
    ::symlink("/proc/self/fd/0", (dev + "/stdin").c_str());
    ::symlink("/proc/self/fd/1", (dev + "/stdout").c_str());
    ::symlink("/proc/self/fd/2", (dev + "/stderr").c_str());
    const std::string shm = dev + "/shm";
    if (::mkdir(shm.c_str(), 01777) != 0 ||
        ::mount("tmpfs", shm.c_str(), "tmpfs", MS_NOSUID, "mode=1777") != 0)
        return "mount " + shm;
    return {};
}

} // namespace privatens
