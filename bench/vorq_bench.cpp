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
#include <poll.h>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
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

// Wall time from exec to exit of `argv`, in ms; -1 when it failed.
double runToExit(const std::vector<std::string>& args) {
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
    if (spawned != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    const double ms = msSince(t0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
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

struct Row {
    const char* measure;
    double vorq, floor;
    const char* unit;
    double goal; // the most the ratio may be (the least with atLeast); 0: no ratio
    const char* against;
    bool atLeast = false;
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
         decoderAgainst.c_str(), true},
        {"click on Write to last byte", median(latency), 0, "ms", 0,
         "the median; each run's maximum below"},
        {"click on Write to last byte, maximum", *std::max_element(latency.begin(), latency.end()),
         0, "ms", 0, ""},
    };
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
        const bool ok = r.atLeast ? ratio >= r.goal && growthKiB <= 1024 : ratio <= r.goal;
        met = met && ok;
        std::printf("%-38s %8.1f %-4s %7.1f %-4s %5.2fx %s%4.2fx  %s%s\n", r.measure, r.vorq,
                    r.unit, r.floor, r.unit, ratio, r.atLeast ? ">" : "<", r.goal, r.against,
                    smoke || ok ? "" : "  MISSED");
    }
    return smoke || met ? 0 : 2;
}
