#pragma once

#include <QList>

#include <csignal>
#include <memory>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (and any others given) into an ordinary event, so that a
// program ends as on a normal exit: its port closed (exclusive mode cleared, the old line
// settings restored, the lock file removed) and its links removed. The handler only records
// the signal and writes its number to a pipe; once endEventLoopOnSignal() is called, a
// QSocketNotifier on the pipe ends the event loop. A program without an event loop asks
// pending() at its safe points, or waits in poll() on wakeFd().
//
// One watch at a time per process. A program ended this way exits with 128 + the signal's
// number.
class SignalWatch {
public:
    explicit SignalWatch(const QList<int>& signals = {SIGTERM, SIGINT, SIGHUP});
    // Puts back the handlers that were there before.
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    // The first signal caught so far, 0 while none has come; usable with or without an event
    // loop.
    static int pending();
    // A descriptor that is readable once a signal has come (the pipe's reading end), for a
    // program that waits in poll() rather than in an event loop; -1 when there is none.
    static int wakeFd();
    // 128 + pending(), the exit status of a program that a signal ended.
    static int exitStatus() { return 128 + pending(); }

    // Ends the application's event loops with exitStatus() once a signal is caught.
    void endEventLoopOnSignal();

private:
    QList<int> m_signals;
    QList<struct sigaction> m_previous;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
