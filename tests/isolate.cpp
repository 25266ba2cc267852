// isolate: runs a test so that it cannot touch the machine it runs on. In a private mount
// namespace, /run/lock (and /var/lock, when it is a folder of its own) is a fresh tmpfs and
// /etc/xdg/vorq is hidden; HOME, the XDG folders and TMPDIR point into a new temporary
// folder, removed afterwards. Serial lock files, settings and write records of the test stay
// there. VORQ_TEST_ROOT names that folder, and tells a test that it runs isolated.
//
//   isolate COMMAND [ARG...]
//
// Exits with the command's status (128 + n when a signal ended it). Refuses to run the
// command at all (exit 70) when no private namespace can be had; aborts when the namespace
// was entered but could not be made private, before anything is mounted.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "isolate: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(70);
}

bool writeFile(const char* path, const std::string& text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    ::close(fd);
    return ok;
}

// A mount namespace of this process's own: as root directly, else inside a user namespace
// where this user is root.
bool enterNamespace() {
    if (::unshare(CLONE_NEWNS) == 0)
        return true;
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
        return false;
    return writeFile("/proc/self/setgroups", "deny") &&
           writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
           writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
}

void hideWithTmpfs(const char* path, const char* mode) {
    if (::mount("tmpfs", path, "tmpfs", MS_NOSUID | MS_NODEV, mode) != 0)
        die(std::string("mount tmpfs on ") + path);
}

bool isRealFolder(const char* path) {
    struct stat st {};
    return ::lstat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: isolate COMMAND [ARG...]\n");
        return 64;
    }
    if (!enterNamespace())
        die("no private mount namespace here (run the tests as root, or allow user "
            "namespaces); the test was not run");
    // From here on every mount must stay inside this namespace.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        std::perror("isolate: making / private in the new namespace");
        std::abort();
    }
    hideWithTmpfs("/run/lock", "mode=1777");
    if (isRealFolder("/var/lock"))
        hideWithTmpfs("/var/lock", "mode=1777");
    if (isRealFolder("/etc/xdg/vorq"))
        hideWithTmpfs("/etc/xdg/vorq", "mode=0755");

    const char* tmp = std::getenv("TMPDIR");
    std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/vorq-isolated-XXXXXX";
    if (!::mkdtemp(base.data()))
        die("mkdtemp");
    const struct {
        const char* variable; // empty: only the folder
        const char* folder;
    } folders[] = {{"HOME", "/home"},
                   {nullptr, "/home/.config"},
                   {"XDG_CONFIG_HOME", "/home/.config"},
                   {nullptr, "/home/.local"},
                   {nullptr, "/home/.local/share"},
                   {"XDG_DATA_HOME", "/home/.local/share"},
                   {"XDG_STATE_HOME", "/home/.local/state"},
                   {"XDG_CACHE_HOME", "/home/.cache"},
                   {"XDG_CONFIG_DIRS", "/etc-xdg"},
                   {"XDG_RUNTIME_DIR", "/run"},
                   {"TMPDIR", "/tmp"}};
    for (const auto& f : folders) {
        const std::string path = base + f.folder;
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
            die(path);
        if (f.variable)
            ::setenv(f.variable, path.c_str(), 1);
    }

    ::setenv("VORQ_TEST_ROOT", base.c_str(), 1); // for tests that look at the lock folders
    const pid_t child = ::fork();
    if (child < 0)
        die("fork");
    if (child == 0) {
        ::execvp(argv[1], argv + 1);
        die(argv[1]);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    ::nftw(
        base.c_str(),
        [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
