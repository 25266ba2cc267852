#pragma once

#include <QList>
#include <QObject>

#include <csignal>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (and any others given) into an ordinary event, so that a
// program ends as on a normal exit: its port closed (exclusive mode cleared, the old line
// settings restored, the lock file removed) and its links removed. The handler only records
// the signal and writes its number to a pipe; once endEventLoopOnSignal() is called, a
// QSocketNotifier on the pipe emits caught() from the event loop. A program without an event
// loop asks pending() at its safe points.
//
// One watch at a time per process. A program ended this way exits with 128 + the signal's
// number.
class SignalWatch : public QObject {
    Q_OBJECT
public:
    explicit SignalWatch(const QList<int>& signals = {SIGTERM, SIGINT, SIGHUP},
                         QObject* parent = nullptr);
    // Puts the default handlers back.
    ~SignalWatch() override;

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

Q_SIGNALS:
    void caught(int signalNumber);

private:
    QList<int> m_signals;
    QSocketNotifier* m_notifier = nullptr;
};
