#pragma once

#include <QString>

#include <memory>

class QSocketNotifier;

// A pseudo-terminal that stands for a serial line, for a display in software: senders open
// slavePath() as their port, and what they write is read at master(). The line is raw (no
// echo, no translation), and this object holds it open too, so that the master still reads
// after a sender closes.
//
// A real port's exclusive mode (TIOCEXCL) ends with its last close; a pseudo-terminal's would
// last while this object holds the line. So the opens and closes of the line are counted
// (inotify), and once every sender has closed it, a killed one included, the mode is
// cleared: the next sender's open succeeds, as on a real port.
class PtyLine {
public:
    PtyLine();
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // False when no pseudo-terminal could be had (errno says why).
    bool isOpen() const { return m_master >= 0; }
    int master() const { return m_master; }
    QString slavePath() const { return m_path; }

private:
    void countOpensAndCloses();

    int m_master = -1;
    int m_slave = -1;
    int m_watch = -1;
    int m_senders = 0;
    QString m_path;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
