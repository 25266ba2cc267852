// till: runs a command as if on a till of its own. In a private mount namespace, /dev is a
// fresh tmpfs whose /dev/ttyS0 to /dev/ttyS4 are the five pseudo-terminals given (the
// machine's serial devices are out of reach), /run/lock is empty, and the given folders
// stand for /etc/xdg, the home of root and /usr/local/bin.
//
//   till ETC HOME BIN PTY0 PTY1 PTY2 PTY3 PTY4 -- COMMAND [ARG...]
//
// Exits 77 when a namespace cannot be had here (not root); aborts when the namespace was
// entered but could not be made private, before anything is mounted.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "till: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

void bind(const std::string& from, const char* to) {
    if (::mount(from.c_str(), to, nullptr, MS_BIND, nullptr) != 0)
        die(to);
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 11 || std::strcmp(argv[9], "--") != 0) {
        std::fprintf(stderr, "usage: till ETC HOME BIN PTY0 .. PTY4 -- COMMAND [ARG...]\n");
        return 64;
    }
    if (::geteuid() != 0)
        return 77;
    for (int n = 4; n < 9; ++n) // only pseudo-terminals stand for the serial ports
        if (std::strncmp(argv[n], "/dev/pts/", 9) != 0) {
            std::fprintf(stderr, "till: %s is not a pseudo-terminal\n", argv[n]);
            return 64;
        }
    if (::unshare(CLONE_NEWNS) != 0)
        return 77;
    // From here on every mount must stay inside this namespace.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        std::perror("till: making / private in the new namespace");
        std::abort();
    }
    // The new /dev is made aside, while the machine's /dev/pts can still be reached, and
    // then moved over /dev.
    char staging[] = "/tmp/till-dev-XXXXXX";
    if (!::mkdtemp(staging))
        die("mkdtemp");
    const std::string dev = staging;
    if (::mount("tmpfs", staging, "tmpfs", MS_NOSUID, "mode=0755,size=4m") != 0)
        die("mount tmpfs");
    const struct {
        const char* name;
        unsigned major, minor;
    } nodes[] = {{"null", 1, 3},   {"zero", 1, 5},    {"full", 1, 7},
                 {"random", 1, 8}, {"urandom", 1, 9}, {"tty", 5, 0}};
    for (const auto& node : nodes) {
        const std::string path = dev + "/" + node.name;
        if (::mknod(path.c_str(), S_IFCHR | 0666, makedev(node.major, node.minor)) != 0)
            die(path.c_str());
        ::chmod(path.c_str(), 0666);
    }
    if (::mkdir((dev + "/pts").c_str(), 0755) != 0)
        die("pts");
    bind("/dev/pts", (dev + "/pts").c_str());
    ::symlink("pts/ptmx", (dev + "/ptmx").c_str());
    ::symlink("/proc/self/fd", (dev + "/fd").c_str());
    for (int n = 0; n < 5; ++n) {
        const std::string port = dev + "/ttyS" + std::to_string(n);
        const int fd = ::open(port.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0660);
        if (fd < 0)
            die(port.c_str());
        ::close(fd);
        bind(argv[4 + n], port.c_str());
    }
    if (::mount(staging, "/dev", nullptr, MS_MOVE, nullptr) != 0)
        die("moving the new /dev");
    ::rmdir(staging);
    if (::mount("tmpfs", "/run/lock", "tmpfs", MS_NOSUID, "mode=1777") != 0)
        die("mount tmpfs on /run/lock");
    ::mkdir("/run/sshd", 0755); // sshd's privilege separation folder, as its service makes it
    bind(argv[1], "/etc/xdg");
    bind(argv[2], "/root");
    bind(argv[3], "/usr/local/bin");
    ::execv(argv[10], argv + 10);
    die(argv[10]);
}
