#include "tools/display/session.h"

#include "display/eepromfile.h"
#include "protocol/escape.h"
#include "tools/cli.h"

#include <QCoreApplication>
#include <QTimer>

#include <sysexits.h>

Session::Session(const Request& request, const display::Eeprom& eeprom, bool persist, Output& out)
    : m_request(request), m_display(eeprom, request.set, request.variant), m_persist(persist),
      m_out(out), m_view(View::make(request.json, out)) {
    m_display.watchDependences();
    m_clock.start();
    if (request.identify && request.input.isEmpty()) {
        m_quiet = new QTimer(qApp);
        m_quiet->setSingleShot(true);
        m_quiet->setInterval(3000);
        QObject::connect(m_quiet, &QTimer::timeout, qApp, [] { QCoreApplication::exit(0); });
    }
}

void Session::listening(const QString& where) {
    m_view->listening(where);
    m_out.flush();
}

void Session::powerOn() {
    if (m_request.identify) {
        if (m_quiet)
            m_quiet->start();
        return;
    }
    m_shown = m_display.screen();
    m_shownSet = m_display.set();
    m_view->screen(m_display.screen(), m_display.set());
    m_out.flush();
}

int Session::identify() {
    const QList<display::SetReading> ranked = display::identify(m_captured, m_request.variant);
    m_view->identified(ranked);
    m_out.flush();
    return ranked.first().notUnderstood == 0 ? EX_OK : EX_DATAERR;
}

void Session::arrived(QByteArrayView bytes) {
    if (m_request.identify) {
        m_captured += bytes;
        if (m_quiet)
            m_quiet->start();
        return;
    }
    m_events.clear(); // keeps its room
    m_display.feed(bytes, m_clock.elapsed(), &m_events);
    show(m_events);
}

void Session::tick() {
    m_events.clear(); // keeps its room
    m_display.flush(m_clock.elapsed(), &m_events);
    show(m_events);
}

void Session::marquee() {
    if (m_display.tick())
        show({});
    else if (m_view->idle(m_display.screen(), m_display.set()))
        m_out.flush();
}

void Session::ended() {
    m_events.clear(); // keeps its room
    m_display.end(&m_events);
    show(m_events);
}

void Session::hungUp(const QString& why) {
    ended();
    QCoreApplication::exit(cli::fail(EX_IOERR, why));
}

namespace {
constexpr qsizetype kWriteAt = 64 * 1024; // bytes of output held before they are written
} // namespace

void Session::show(const display::Events& events) {
    // The screen last shown, kept in m_shown only when the call ends: most are events'.
    const display::Screen* shown = &m_shown;
    const auto showScreen = [&](const display::Screen& screen, int set) {
        if (screen == *shown && set == m_shownSet)
            return false;
        shown = &screen;
        m_shownSet = set;
        m_view->screen(screen, set);
        return true;
    };
    bool cut = false;
    for (const View::Event& e : events) {
        if (m_onceStatus) { // nothing after the first frame of --once
            cut = true;
            break;
        }
        if (e.kind == View::Event::Kind::Screen) {
            showScreen(e.screen, e.set);
        } else if (e.kind == View::Event::Kind::Depends) {
            m_understoodAll = false;
            m_view->depends(e);
        } else if (e.kind == View::Event::Kind::Ignored) {
            m_understoodAll = false;
            m_view->ignored(e);
        } else {
            frameSeen(e);
        }
        // A large read is written as it goes, in pieces that stay small.
        if (m_out.size() >= kWriteAt)
            m_out.flush();
    }
    if (!cut && !showScreen(m_display.screen(), m_display.set()) && !events.isEmpty())
        m_view->unchanged(m_display.screen(), m_display.set());
    if (shown != &m_shown)
        m_shown = *shown;
    m_out.flush();
}

void Session::frameSeen(const View::Event& e) {
    const bool valid = e.frame.valid;
    m_understoodAll = m_understoodAll && valid;
    m_view->frame(e, m_request.hex);
    if (valid && m_persist)
        if (const ConfFile::SaveError error =
                display::eepromfile::save(m_request.eeprom, m_display.eeprom());
            !error.ok())
            cli::fail(0, QStringLiteral("warning: the EEPROM file %1 could not be saved: %2")
                             .arg(shown(error.path), error.error));
    if (!m_request.once)
        return;
    m_onceStatus = valid ? 0 : 1;
    // The line stays open a moment longer, as a display's would: a sender still draining
    // its port must not see it hang up.
    if (m_request.input.isEmpty())
        QTimer::singleShot(250, qApp, [this] { QCoreApplication::exit(*m_onceStatus); });
}
