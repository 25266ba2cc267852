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
#include "privatens.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "isolate: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(70);
}

void hideWithTmpfs(const char* path, const char* mode) {
    if (!privatens::tmpfs(path, mode))
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
    if (!privatens::enter(true))
        die("no private mount namespace here (run the tests as root, or allow user "
            "namespaces); the test was not run");
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
