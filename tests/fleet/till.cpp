// till: runs a command as if on a till of its own. In a private mount namespace, /dev is a
// fresh tmpfs whose /dev/ttyS0 to /dev/ttyS4 are the five pseudo-terminals given (the
// machine's serial devices are out of reach), /run/lock is empty, and the given folders
// stand for /etc/xdg, the home of root and /usr/local/bin.
//
//   till ETC HOME BIN PTY0 PTY1 PTY2 PTY3 PTY4 -- COMMAND [ARG...]
//
// Exits 77 when a namespace cannot be had here (not root); aborts when the namespace was
// entered but could not be made private, before anything is mounted.
#include "privatens.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
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
    if (!privatens::enter(false))
        return 77;
    // The new /dev is made aside, while the machine's /dev/pts can still be reached, and
    // then moved over /dev.
    char staging[] = "/tmp/till-dev-XXXXXX";
    if (!::mkdtemp(staging))
        die("mkdtemp");
    const std::string dev = staging;
    if (!privatens::tmpfs(staging, "mode=0755,size=4m", true))
        die("mount tmpfs");
    if (const std::string step = privatens::makeDev(dev, false); !step.empty())
        die(step.c_str());
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
    if (!privatens::tmpfs("/run/lock", "mode=1777"))
        die("mount tmpfs on /run/lock");
    ::mkdir("/run/sshd", 0755); // sshd's privilege separation folder, as its service makes it
    bind(argv[1], "/etc/xdg");
    bind(argv[2], "/root");
    bind(argv[3], "/usr/local/bin");
    ::execv(argv[10], argv + 10);
    die(argv[10]);
}
