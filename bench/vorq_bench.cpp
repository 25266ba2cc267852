// Prints one table: vorq's start-up time and peak memory against a bare Qt window,
// vorq-write against a bare QSerialPort sender, a fleet rollout that changes nothing against
// a play of no-ops, and the time from a click on Write to the last byte of the frame at the
// line. Runs in a private mount namespace, with a pseudo-terminal as COM1 and its own Xvfb.
#include "display/display.h"
#include "e2e/desktop.h"
#include "e2e/geometry.h"
#include "e2e/sandbox.h"
#include "support.h"
#include "window/layout.h"

#include <QCoreApplication>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The next event of `type` on the root window's children within `ms`, or false.
bool waitEvent(Display* dpy, int type, XEvent* out, int ms = 10000) {
    const auto t0 = Clock::now();
    for (;;) {
        while (XPending(dpy)) {
            XNextEvent(dpy, out);
            if (out->type == type)
                return true;
        }
        const int left = ms - int(msSince(t0));
        if (left <= 0)
            return false;
        pollfd p{ConnectionNumber(dpy), POLLIN, 0};
        poll(&p, 1, left);
    }
}

pid_t spawn(const char* binary, const char* argument = nullptr) {
    pid_t pid = 0;
    char* argv[] = {const_cast<char*>(binary), const_cast<char*>(argument), nullptr};
    if (posix_spawn(&pid, binary, nullptr, nullptr, argv, environ) != 0)
        return -1;
    return pid;
}

// Peak resident set of a child that is ended now, in KiB.
long endChild(pid_t pid) {
    kill(pid, SIGTERM);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    return usage.ru_maxrss;
}

struct Start {
    double ms;
    long peakKiB;
};

// With VORQ_BENCH_WRAP naming a program (a profiler's wrapper), the starts run under it:
// `wrapper binary [argument]`. Their times then measure the wrapper, not the program.
pid_t spawnWrapped(const char* binary, const char* argument) {
    const char* wrapper = std::getenv("VORQ_BENCH_WRAP");
    if (!wrapper || !*wrapper)
        return spawn(binary, argument);
    pid_t pid = 0;
    char* argv[] = {const_cast<char*>(wrapper), const_cast<char*>(binary),
                    const_cast<char*>(argument), nullptr};
    if (posix_spawn(&pid, wrapper, nullptr, nullptr, argv, environ) != 0)
        return -1;
    return pid;
}

Start measureStart(Display* dpy, const char* binary, const char* argument = nullptr) {
    XSync(dpy, True); // drop old events
    const auto t0 = Clock::now();
    const pid_t pid = spawnWrapped(binary, argument);
    XEvent e;
    const bool mapped = waitEvent(dpy, MapNotify, &e);
    const double ms = msSince(t0);
    usleep(300 * 1000); // let it settle as a running program
    const long peak = endChild(pid);
    XEvent gone;
    waitEvent(dpy, UnmapNotify, &gone, 1000);
    return {mapped ? ms : -1, peak};
}

void clickAt(Display* dpy, QPoint p) {
    XTestFakeMotionEvent(dpy, 0, p.x(), p.y(), 0);
    XTestFakeButtonEvent(dpy, 1, True, 0);
    XTestFakeButtonEvent(dpy, 1, False, 0);
    XFlush(dpy);
}

void press(Display* dpy, KeySym key) {
    const KeyCode code = XKeysymToKeycode(dpy, key);
    XTestFakeKeyEvent(dpy, code, True, 0);
    XTestFakeKeyEvent(dpy, code, False, 0);
    XFlush(dpy);
}

// A child's wall time from exec to exit in ms, its exit status and its peak resident set in
// KiB; stdout goes to /dev/null.
struct Run {
    double ms = -1;
    int status = -1;
    long peakKiB = 0;
};
Run runMeasured(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const auto t0 = Clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    Run run;
    if (spawned != 0)
        return run;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.ms = msSince(t0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakKiB = usage.ru_maxrss;
    return run;
}

// Wall time from exec to exit of `args`, in ms; -1 when it failed.
double runToExit(const std::vector<std::string>& args) {
    const Run run = runMeasured(args);
    return run.status == 0 ? run.ms : -1;
}

// vorq-write against the floor sender, alternated, `runs` each after a warm-up round; both
// send the same frame to the same line, and each run's bytes are checked.
bool measureWrite(int runs, double* writeMs, double* floorMs) {
    Pty line;
    const std::string path = line.slavePath().toStdString();
    const std::vector<std::string> write{VORQ_WRITE, "--port", path,   "--code",
                                         "3",        "--text", "HELLO"};
    const std::vector<std::string> floor{FLOOR_SENDER, path};
    std::vector<double> w, f;
    for (int i = 0; i <= runs; ++i) {
        const double a = runToExit(write);
        const QByteArray fromWrite = line.read(2000, 15);
        const double b = runToExit(floor);
        const QByteArray fromFloor = line.read(2000, 15);
        if (a < 0 || b < 0 || fromWrite != fromFloor || fromWrite.size() != 15) {
            std::fprintf(stderr, "vorq_bench: the writes differ or failed (%d, %d bytes)\n",
                         int(fromWrite.size()), int(fromFloor.size()));
            return false;
        }
        if (i > 0) {
            w.push_back(a);
            f.push_back(b);
        }
    }
    *writeMs = median(w);
    *floorMs = median(f);
    return true;
}

// The fleet's row, from test_fleet's benchmark: a rollout that changes nothing against a play
// of built-in no-ops of the same shape, in ms. Run before this process enters its namespace,
// since the tills make namespaces of their own.
bool measureFleet(int runs, double* unchangedMs, double* noopMs) {
    const std::string count = std::to_string(runs);
    setenv("VORQ_FLEET_BENCH", "1", 1);
    setenv("VORQ_BENCH_RUNS", count.c_str(), 1);
    FILE* out = popen(VORQ_FLEET " benchmark 2>&1", "r");
    if (!out)
        return false;
    char line[4096];
    bool found = false;
    std::string all;
    while (fgets(line, sizeof line, out)) {
        all += line;
        found = found || std::sscanf(line, "fleet %lf %lf", unchangedMs, noopMs) == 2;
    }
    const int status = pclose(out);
    unsetenv("VORQ_FLEET_BENCH");
    if (!found || status != 0)
        std::fprintf(stderr, "vorq_bench: the fleet could not be measured:\n%s", all.c_str());
    return found && status == 0;
}

// The display model's decoders on `megabytes` MB of random bytes per set, in reads of 4 KiB:
// the slowest set's rate in MB/s, and how much the peak RSS grew over all the sets after a
// first megabyte each (memory stays flat when that is about 0).
void measureDecoders(int megabytes, double* slowestMBps, int* slowestSet, double* growthKiB) {
    std::mt19937_64 random(7);
    QByteArray bytes(1 << 20, '\0');
    for (char& b : bytes)
        b = char(random());
    auto peakKiB = [] {
        rusage use{};
        getrusage(RUSAGE_SELF, &use);
        return double(use.ru_maxrss);
    };
    *slowestMBps = 1e9;
    double before = 0;
    for (int set = 0; set < frame::kCommandSetCount; ++set) {
        display::Display d(display::Eeprom{set, {}});
        auto feedAll = [&] {
            for (qsizetype at = 0; at < bytes.size(); at += 4096)
                d.feed(QByteArrayView(bytes).sliced(at, 4096), 0);
        };
        feedAll(); // warm: the first megabyte may allocate what the reader keeps
        if (set == 0)
            before = peakKiB();
        const auto t0 = Clock::now();
        for (int i = 0; i < megabytes; ++i)
            feedAll();
        const double rate = megabytes / (msSince(t0) / 1000);
        if (rate < *slowestMBps) {
            *slowestMBps = rate;
            *slowestSet = set;
        }
    }
    *growthKiB = peakKiB() - before;
}

// A file of `megabytes` MB of random bytes in `dir`.
std::string randomFile(const std::string& dir, int megabytes) {
    std::mt19937_64 random(11);
    const std::string path = dir + "/random-" + std::to_string(megabytes);
    FILE* f = std::fopen(path.c_str(), "wb");
    std::vector<char> block(1 << 20);
    for (int i = 0; f && i < megabytes; ++i) {
        for (char& b : block)
            b = char(random());
        std::fwrite(block.data(), 1, block.size(), f);
    }
    if (f)
        std::fclose(f);
    return path;
}

// vorq-display --input --json to /dev/null on `megabytes` MB of random bytes, in every set:
// the slowest set's rate in MB/s, from the median of `runs` runs on each size, and how much
// more its peak RSS was than on one megabyte.
bool measureDisplayJson(const std::string& dir, int megabytes, int runs, double* slowestMBps,
                        int* slowestSet, double* growthKiB) {
    const std::string one = randomFile(dir, 1), many = randomFile(dir, megabytes);
    *slowestMBps = 1e9;
    *growthKiB = 0;
    for (int set = 0; set < frame::kCommandSetCount; ++set) {
        auto args = [&](const std::string& input) {
            return std::vector<std::string>{VORQ_DISPLAY, "--input",      input,
                                            "--json",     "--set",        std::to_string(set),
                                            "--eeprom",   dir + "/eeprom"};
        };
        std::vector<double> smallMs, largeMs;
        for (int i = 0; i < runs; ++i) {
            const Run small = runMeasured(args(one)), large = runMeasured(args(many));
            if (small.status != 0 || large.status != 0) {
                std::fprintf(stderr, "vorq_bench: vorq-display --input failed in set %d\n", set);
                return false;
            }
            smallMs.push_back(small.ms);
            largeMs.push_back(large.ms);
            *growthKiB = std::max(*growthKiB, double(large.peakKiB - small.peakKiB));
        }
        const double rate = (megabytes - 1) / ((median(largeMs) - median(smallMs)) / 1000);
        if (rate < *slowestMBps) {
            *slowestMBps = rate;
            *slowestSet = set;
        }
    }
    return true;
}

// vorq-display --identify on a 1 MB capture of random bytes, in s (the median of `runs`).
bool measureIdentify(const std::string& dir, int runs, double* seconds) {
    const std::string one = randomFile(dir, 1);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const Run r =
            runMeasured({VORQ_DISPLAY, "--input", one, "--identify", "--eeprom", dir + "/eeprom"});
        if (r.status != 65) { // random bytes: no set understands them all
            std::fprintf(stderr, "vorq_bench: vorq-display --identify gave %d\n", r.status);
            return false;
        }
        times.push_back(r.ms / 1000);
    }
    *seconds = median(times);
    return true;
}

// Opens the pseudo-terminal at `path` as sales software would: raw, for reading and writing.
int openRaw(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    termios raw{};
    if (fd >= 0 && ::tcgetattr(fd, &raw) == 0) {
        ::cfmakeraw(&raw);
        ::tcsetattr(fd, TCSANOW, &raw);
    }
    return fd;
}

// Writes `reads` reads of 64 random bytes into `in`, each once the last has come out at
// `device`'s master, and returns the mean time per read in ms; -1 when bytes went missing.
// `drain`, when not -1, is a descriptor whose output is read away between reads.
double timeReads(int in, Pty& device, int reads, int drain) {
    std::mt19937_64 random(5);
    double total = 0;
    for (int i = 0; i < reads; ++i) {
        char bytes[64];
        for (char& b : bytes)
            b = char('A' + random() % 26); // characters: no frame, no ignored bytes
        const auto t0 = Clock::now();
        if (::write(in, bytes, sizeof bytes) != ssize_t(sizeof bytes))
            return -1;
        if (device.read(3000, sizeof bytes).size() != qsizetype(sizeof bytes))
            return -1;
        total += msSince(t0);
        char sink[65536];
        while (drain >= 0 && ::read(drain, sink, sizeof sink) > 0) {
        }
    }
    return total / reads;
}

// The time per read through vorq-display --forward against a direct copy from one
// pseudo-terminal to the other, in ms, alternated `rounds` times.
bool measureForward(const std::string& dir, int rounds, double* forwardMs, double* copyMs) {
    Pty device;
    const std::string devicePath = device.slavePath().toStdString();
    const std::string link = dir + "/pole";
    std::vector<double> forward, copy;
    for (int round = 0; round < rounds; ++round) {
        // vorq-display, its output read through a pipe: its first line says it listens.
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        const std::vector<std::string> args{VORQ_DISPLAY, "--link", link,       "--forward",
                                            devicePath,   "--json", "--eeprom", dir + "/eeprom"};
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        pid_t pid = 0;
        const int spawned =
            posix_spawn(&pid, VORQ_DISPLAY, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        char first[4096];
        pollfd ready{out[0], POLLIN, 0};
        const bool listening = spawned == 0 && ::poll(&ready, 1, 10000) == 1 &&
                               ::read(out[0], first, sizeof first) > 0;
        ::fcntl(out[0], F_SETFL, O_NONBLOCK);
        const int in = listening ? openRaw(link) : -1;
        const double viaDisplay = in >= 0 ? timeReads(in, device, 50, out[0]) : -1;
        if (in >= 0)
            ::close(in);
        if (spawned == 0)
            endChild(pid);
        ::close(out[0]);
        // The floor: a child that copies from one pseudo-terminal's master to the device.
        int master = -1, slave = -1;
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return false;
        termios raw{};
        ::tcgetattr(slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
        const pid_t copier = ::fork();
        if (copier == 0) {
            const int to = openRaw(devicePath);
            char buffer[4096];
            for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
                if (::write(to, buffer, size_t(n)) != n)
                    _exit(1);
            _exit(0);
        }
        const double direct = timeReads(slave, device, 50, -1);
        ::kill(copier, SIGKILL);
        ::waitpid(copier, nullptr, 0);
        ::close(master);
        ::close(slave);
        if (viaDisplay < 0 || direct < 0) {
            std::fprintf(stderr, "vorq_bench: a forwarded read went missing\n");
            return false;
        }
        forward.push_back(viaDisplay);
        copy.push_back(direct);
    }
    *forwardMs = median(forward);
    *copyMs = median(copy);
    return true;
}

struct Row {
    const char* measure;
    double vorq, floor;
    const char* unit;
    double goal; // the most the ratio may be (the least with atLeast); 0: no ratio
    const char* against;
    bool atLeast = false;
    double growthKiB = 0; // a rate's peak RSS growth: more than 1 MiB misses the goal too
};

} // namespace

// Every row is measured in this one run, each against its floor with the runs alternated.
// VORQ_BENCH_RUNS sets the runs of each (default 15); below 9 this is the smoke form, which
// fails only when a row cannot be measured. Otherwise a missed goal fails too (exit 2). The
// short rows get more runs, as their medians swing most: the window's start-up (about 0.1 s
// a pair) three times as many, vorq-write (about 0.02 s a pair, where a few page faults more or
// less move the ratio by a hundredth) twenty times as many.
int main(int argc, char* argv[]) {
    const int runs = std::max(1, qEnvironmentVariableIsSet("VORQ_BENCH_RUNS")
                                     ? qEnvironmentVariableIntValue("VORQ_BENCH_RUNS")
                                     : 15);
    const bool smoke = runs < 9;
    const int startRuns = smoke ? runs : 3 * runs;
    const int writeRuns = smoke ? runs : 20 * runs;
    double fleetMs = 0, noopMs = 0;
    if (!measureFleet(runs, &fleetMs, &noopMs))
        return 1;
    if (const QString problem = sandbox::enter(); !problem.isEmpty()) {
        std::fprintf(stderr, "vorq_bench: %s\n", qPrintable(problem));
        return 1;
    }
    QCoreApplication app(argc, argv);
    Desktop desktop;
    if (const QString problem = desktop.start(); !problem.isEmpty()) {
        std::fprintf(stderr, "vorq_bench: %s\n", qPrintable(problem));
        return 1;
    }
    Pty com1;
    sandbox::bindPort(0, com1.slavePath());
    qputenv("DISPLAY", desktop.display().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    Display* dpy = XOpenDisplay(desktop.display().toLocal8Bit().constData());
    XSelectInput(dpy, DefaultRootWindow(dpy), SubstructureNotifyMask);

    std::vector<double> vorqMs, bareMs, vorqKiB, bareKiB;
    measureStart(dpy, VORQ_BINARY); // warm the caches, not counted
    measureStart(dpy, BARE_BINARY, "--measure-font");
    for (int i = 0; i < startRuns; ++i) {
        const Start v = measureStart(dpy, VORQ_BINARY);
        const Start b = measureStart(dpy, BARE_BINARY, "--measure-font");
        if (v.ms < 0 || b.ms < 0 || com1.exclusive()) {
            std::fprintf(stderr, "vorq_bench: a window did not map, or left COM1 exclusive\n");
            return 1;
        }
        vorqMs.push_back(v.ms);
        bareMs.push_back(b.ms);
        vorqKiB.push_back(double(v.peakKiB));
        bareKiB.push_back(double(b.peakKiB));
    }

    // Write latency: the click on Write to the 0xFF at the pseudo-terminal's master.
    XSync(dpy, True);
    const pid_t pid = spawn(VORQ_BINARY);
    XEvent e;
    waitEvent(dpy, MapNotify, &e);
    const Window main = e.xmap.window;
    usleep(300 * 1000);
    XSetInputFocus(dpy, main, RevertToParent, CurrentTime);
    clickAt(dpy, controlCentre("Ink"));
    usleep(100 * 1000);
    press(dpy, XK_3);
    usleep(100 * 1000);
    const int writes = smoke ? 3 : 50;
    std::vector<double> latency;
    for (int i = 0; i <= writes; ++i) {
        XSync(dpy, True);
        const auto t0 = Clock::now();
        clickAt(dpy, controlCentre("Send", 0));
        const QByteArray got = com1.read(3000, 10);
        const double ms = msSince(t0);
        if (got.size() != 10 || uchar(got.back()) != 0xFF) {
            std::fprintf(stderr, "vorq_bench: write %d brought %d bytes\n", i, int(got.size()));
            endChild(pid);
            return 1;
        }
        if (i > 0) // the first write warms up
            latency.push_back(ms);
        XEvent box;
        waitEvent(dpy, MapNotify, &box);
        XSetInputFocus(dpy, box.xmap.window, RevertToParent, CurrentTime);
        press(dpy, XK_Return);
        waitEvent(dpy, UnmapNotify, &box);
        XSetInputFocus(dpy, main, RevertToParent, CurrentTime);
        press(dpy, XK_F2); // unlock, so that Write is enabled again
        usleep(20 * 1000);
    }
    endChild(pid);
    XCloseDisplay(dpy);

    double writeMs = 0, floorMs = 0;
    if (!measureWrite(writeRuns, &writeMs, &floorMs))
        return 1;

    double decoderMBps = 0, growthKiB = 0;
    int slowest = 0;
    measureDecoders(smoke ? 1 : 16, &decoderMBps, &slowest, &growthKiB);
    const std::string decoderAgainst = "20 MB/s per set; slowest: set " + std::to_string(slowest) +
                                       (growthKiB > 1024 ? "; MEMORY GREW" : "; memory flat");

    char dirTemplate[] = "/tmp/vorq-bench.XXXXXX";
    const std::string dir = ::mkdtemp(dirTemplate) ? dirTemplate : "";
    double jsonMBps = 0, jsonGrowthKiB = 0, identifyS = 0, forwardMs = 0, copyMs = 0;
    int jsonSlowest = 0;
    if (dir.empty() ||
        !measureDisplayJson(dir, smoke ? 2 : 16, smoke ? 1 : 3, &jsonMBps, &jsonSlowest,
                            &jsonGrowthKiB) ||
        !measureIdentify(dir, smoke ? 1 : 5, &identifyS) ||
        !measureForward(dir, smoke ? 1 : runs, &forwardMs, &copyMs))
        return 1;
    const std::string jsonAgainst = "20 MB/s per set; slowest: set " + std::to_string(jsonSlowest) +
                                    (jsonGrowthKiB > 1024 ? "; MEMORY GREW" : "; memory flat");
    const double forwardAdded = std::max(0.01, forwardMs - copyMs);
    const std::string forwardAgainst = "1 ms per 64-byte read over a direct pty copy (" +
                                       std::to_string(copyMs).substr(0, 5) + " ms)";

    const Row rows[] = {
        {"start-up, exec to first map", median(vorqMs), median(bareMs), "ms", 1.10,
         "bare window measuring its font"},
        {"peak RSS", median(vorqKiB) / 1024, median(bareKiB) / 1024, "MiB", 1.15,
         "bare window measuring its font"},
        {"vorq-write to a pty, exec to exit", writeMs, floorMs, "ms", 1.10,
         "QSerialPort sender of the same frame"},
        {"fleet rerun, nothing to change", fleetMs, noopMs, "ms", 1.3,
         "play of built-in no-ops, same shape"},
        {"decoders, random bytes, slowest set", decoderMBps, 20, "MB/s", 1.0,
         decoderAgainst.c_str(), true, growthKiB},
        {"vorq-display --json, random bytes", jsonMBps, 20, "MB/s", 1.0, jsonAgainst.c_str(), true,
         jsonGrowthKiB},
        {"vorq-display --identify, 1 MB", identifyS, 1, "s", 1.0, "under 1 s"},
        {"vorq-display --forward, added per read", forwardAdded, 1, "ms", 1.0,
         forwardAgainst.c_str()},
        {"click on Write to last byte", median(latency), 0, "ms", 0,
         "the median; each run's maximum below"},
        {"click on Write to last byte, maximum", *std::max_element(latency.begin(), latency.end()),
         0, "ms", 0, ""},
    };
    std::filesystem::remove_all(dir);
    std::printf("%d runs of each (start-up: %d, vorq-write: %d), alternated%s\n", runs, startRuns,
                writeRuns, smoke ? " (smoke: goals not checked)" : "");
    std::printf("%-38s %13s %12s %6s %6s  %s\n", "measure", "vorq", "floor", "ratio", "goal",
                "floor");
    bool met = true;
    for (const Row& r : rows) {
        if (r.goal == 0) {
            std::printf("%-38s %8.2f %-3s\n", r.measure, r.vorq, r.unit);
            continue;
        }
        const double ratio = r.vorq / r.floor;
        const bool ok = r.atLeast ? ratio >= r.goal && r.growthKiB <= 1024 : ratio <= r.goal;
        met = met && ok;
        std::printf("%-38s %8.1f %-4s %7.1f %-4s %5.2fx %s%4.2fx  %s%s\n", r.measure, r.vorq,
                    r.unit, r.floor, r.unit, ratio, r.atLeast ? ">" : "<", r.goal, r.against,
                    smoke || ok ? "" : "  MISSED");
    }
    return smoke || met ? 0 : 2;
}
