#include "line/signalwatch.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_caught = 0;
int g_pipe[2] = {-1, -1};

extern "C" void onSignal(int number) {
    const int saved = errno;
    if (g_caught == 0)
        g_caught = number;
    const unsigned char byte = static_cast<unsigned char>(number);
    static_cast<void>(::write(g_pipe[1], &byte, 1)); // a full pipe already holds a wake-up
    errno = saved;
}

} // namespace

SignalWatch::SignalWatch(const QList<int>& signals, QObject* parent)
    : QObject(parent), m_signals(signals) {
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        g_pipe[0] = g_pipe[1] = -1;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : m_signals)
        ::sigaction(number, &action, nullptr);
}

SignalWatch::~SignalWatch() {
    for (const int number : m_signals)
        std::signal(number, SIG_DFL);
}

int SignalWatch::pending() {
    return g_caught;
}

int SignalWatch::wakeFd() {
    return g_pipe[0];
}

void SignalWatch::endEventLoopOnSignal() {
    // The notifier, and with it the event dispatcher, only for a program with an event loop;
    // a signal that came before is still in the pipe.
    if (!m_notifier && g_pipe[0] >= 0) {
        m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] {
            unsigned char bytes[16];
            while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
            }
            Q_EMIT caught(pending());
        });
    }
    connect(this, &SignalWatch::caught, this, [] { QCoreApplication::exit(exitStatus()); });
}

// The meta-object code, compiled with this file instead of on its own.
#include "moc_signalwatch.cpp"
