#include "line/signalwatch.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
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

SignalWatch::SignalWatch(const QList<int>& signals) : m_signals(signals) {
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        g_pipe[0] = g_pipe[1] = -1;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : m_signals) {
        struct sigaction previous {};
        ::sigaction(number, &action, &previous);
        m_previous.append(previous);
    }
}

SignalWatch::~SignalWatch() {
    m_notifier.reset();
    for (qsizetype i = 0; i < m_signals.size(); ++i)
        ::sigaction(m_signals[i], &m_previous[i], nullptr);
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
    if (m_notifier || g_pipe[0] < 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [] {
        unsigned char bytes[16];
        while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
        }
        QCoreApplication::exit(exitStatus());
    });
}
