#pragma once

#include "display/display.h"
#include "tools/display/request.h"
#include "tools/display/view.h"
#include "tools/output.h"

#include <QElapsedTimer>
#include <QTimer>

#include <memory>
#include <optional>

// The display and its view: bytes in, events shown; with --once, the end after the first
// frame.
class Session {
public:
    // With `persist`, each valid frame is saved to the request's EEPROM file.
    Session(const Request& request, const display::Eeprom& eeprom, bool persist, Output& out);

    View& view() { return *m_view; }
    bool understoodAll() const { return m_understoodAll; }
    // With --once, the exit status once the first frame has come.
    std::optional<int> onceStatus() const { return m_onceStatus; }

    // The first line, naming where the display listens.
    void listening(const QString& where);
    void powerOn();
    // One batch of bytes: what one read returned.
    void arrived(QByteArrayView bytes);
    // Reports a frame whose end marker is overdue.
    void tick();
    // The power-on marquee and scrolling messages move, where the view animates them.
    void marquee();
    // The input ended.
    void ended();
    // The line hung up: reports what was left of a frame, says why and ends the event loop
    // with 74, so that the port and its lock are released.
    void hungUp(const QString& why);
    // With --identify: shows which set the bytes so far were written for; 0 when some set
    // understands every byte, 65 when none does.
    int identify();

private:
    void show(const display::Events& events);
    void frameSeen(const View::Event& e);

    const Request m_request;
    display::Display m_display;
    const bool m_persist;
    Output& m_out;
    std::unique_ptr<View> m_view;
    display::Screen m_shown;
    int m_shownSet = 0;
    QElapsedTimer m_clock;
    display::Events m_events; // those of the bytes being read
    bool m_understoodAll = true;
    std::optional<int> m_onceStatus;
    QByteArray m_captured;     // with --identify, every byte so far
    QTimer* m_quiet = nullptr; // with --identify on a line: 3 s without a byte end it
};
