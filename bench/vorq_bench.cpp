// Prints one table: start-up time and peak memory of vorq against a bare Qt window, and the
// time from a click on Write to the last byte of the frame at the line. Runs in a private
// mount namespace, with a pseudo-terminal as COM1 and its own Xvfb.
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
#include <poll.h>
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

Start measureStart(Display* dpy, const char* binary, const char* argument = nullptr) {
    XSync(dpy, True); // drop old events
    const auto t0 = Clock::now();
    const pid_t pid = spawn(binary, argument);
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
    const auto t0 = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    const double ms = msSince(t0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

// vorq-write against the shell one-liner that sends the same frame, alternated, `runs` each.
bool measureWrite(int runs, double* writeMs, double* shellMs) {
    Pty line;
    const std::string path = line.slavePath().toStdString();
    const std::vector<std::string> write{VORQ_WRITE, "--port", path,   "--code",
                                         "3",        "--text", "HELLO"};
    const std::vector<std::string> shell{
        "/bin/sh", "-c",
        "stty -F " + path + " 9600 raw && printf '\\033kq5172@3HELLO\\377' > " + path};
    std::vector<double> w, sh;
    for (int i = 0; i <= runs; ++i) { // the first round warms the caches
        const double a = runToExit(write);
        const QByteArray fromWrite = line.read(2000, 15);
        const double b = runToExit(shell);
        const QByteArray fromShell = line.read(2000, 15);
        if (a < 0 || b < 0 || fromWrite != fromShell || fromWrite.size() != 15) {
            std::fprintf(stderr, "vorq_bench: the writes differ or failed (%d, %d bytes)\n",
                         int(fromWrite.size()), int(fromShell.size()));
            return false;
        }
        if (i > 0) {
            w.push_back(a);
            sh.push_back(b);
        }
    }
    *writeMs = median(w);
    *shellMs = median(sh);
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
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
    char runtime[] = "/tmp/vorq-bench-XXXXXX";
    if (mkdtemp(runtime))
        qputenv("XDG_RUNTIME_DIR", runtime);
    Display* dpy = XOpenDisplay(desktop.display().toLocal8Bit().constData());
    XSelectInput(dpy, DefaultRootWindow(dpy), SubstructureNotifyMask);

    const int runs = 11;
    std::vector<double> vorqMs, bareMs, fontMs, vorqKiB, bareKiB;
    measureStart(dpy, VORQ_BINARY); // warm the caches, not counted
    measureStart(dpy, BARE_BINARY);
    for (int i = 0; i < runs; ++i) {
        const Start v = measureStart(dpy, VORQ_BINARY);
        const Start b = measureStart(dpy, BARE_BINARY);
        const Start f = measureStart(dpy, BARE_BINARY, "--measure-font");
        vorqMs.push_back(v.ms);
        bareMs.push_back(b.ms);
        fontMs.push_back(f.ms);
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
    const int writes = 50;
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

    double writeMs = 0, shellMs = 0;
    if (!measureWrite(runs, &writeMs, &shellMs))
        return 1;

    const double vs = median(vorqMs), bs = median(bareMs), fs = median(fontMs);
    const double vm = median(vorqKiB) / 1024, bm = median(bareKiB) / 1024;
    const double lm = median(latency), lx = *std::max_element(latency.begin(), latency.end());
    std::printf("%-38s %10s %12s %7s  %s\n", "measure", "vorq", "bare window", "ratio", "goal");
    std::printf("%-38s %7.1f ms %9.1f ms %6.2fx  <= 1.15x  %s\n",
                "start-up to first map, median of 11", vs, bs, vs / bs,
                vs / bs <= 1.15 ? "met" : "MISSED");
    std::printf("%-38s %7.1f ms %9.1f ms %6.2fx  (the bare window measuring its font before map)\n",
                "start-up, against the font-measuring one", vs, fs, vs / fs);
    std::printf("%-38s %6.1f MiB %8.1f MiB %6.2fx  <= 1.15x  %s\n", "peak RSS, median of 11", vm,
                bm, vm / bm, vm / bm <= 1.15 ? "met" : "MISSED");
    std::printf("%-38s %7.2f ms %12s %7s  <= 5 ms   %s\n", "click to last byte, median of 50", lm,
                "", "", lm <= 5 ? "met" : "MISSED");
    std::printf("%-38s %7.2f ms\n", "click to last byte, maximum of 50", lx);
    std::printf("%-38s %7.1f ms %9.1f ms %6.2fx  <= 2.5x   %s  (against stty + printf)\n",
                "vorq-write to a pty, median of 11", writeMs, shellMs, writeMs / shellMs,
                writeMs / shellMs <= 2.5 ? "met" : "MISSED");
    return 0;
}
