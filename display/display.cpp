#include "display/display.h"

#include "display/codetable.h"

#include "display/sets.h"
#include "protocol/frame.h"

#include <iterator>

#include <utility>

namespace display {

namespace {

// How a display in each set reads bytes, by the set's code digit: a row for every row of the
// table of command sets, in its order.
struct SetRow {
    char digit;
    const SetRules* rules;
};
constexpr SetRow kSetRules[] = {
    {'0', &kGeneral}, {'1', &kAedex},  {'2', &kUtcStandard}, {'3', &kUtcEnhanced},
    {'4', &kEpson},   {'5', &kCd7220}, {'6', &kPd3000},
};

constexpr bool rowsMatchTheCommandSets() {
    if (std::size(kSetRules) != std::size(frame::kCommandSets))
        return false;
    for (std::size_t i = 0; i < std::size(kSetRules); ++i)
        if (kSetRules[i].digit != frame::kCommandSets[i].digit)
            return false;
    return true;
}
static_assert(rowsMatchTheCommandSets(), "a row of rules for every command set, in its order");

// The first `n` bytes at `bytes` up to and with the first from 0x80, or all of them.
qsizetype throughFirstHigh(const char* bytes, qsizetype n) {
    for (qsizetype i = 0; i < n; ++i)
        if (uchar(bytes[i]) >= 0x80)
            return i + 1;
    return n;
}

} // namespace

const SetRules& rulesFor(int code) {
    return *kSetRules[qBound(0, code, frame::kCommandSetCount - 1)].rules;
}

QByteArray testPattern(int code) {
    const SetRules& rules = rulesFor(code);
    const QByteArray upper = QByteArray("TEST ") + char('0' + code) + ' ' + rules.patternName;
    return rules.pattern(upper.leftJustified(kColumns, ' ', true),
                         QByteArrayLiteral("0123456789ABCDEFGHIJ"));
}

QList<int> readAlike(int code) {
    const QByteArray pattern = testPattern(code);
    Display own(Eeprom{code, {}});
    own.feed(pattern, 0);
    QList<int> alike;
    for (int other = 0; other < frame::kCommandSetCount; ++other) {
        Display d(Eeprom{other, {}});
        d.feed(pattern, 0);
        if (other != code && d.screen().row(0) == own.screen().row(0) &&
            d.screen().row(1) == own.screen().row(1))
            alike << other;
    }
    return alike;
}

void Display::ignored(QByteArrayView bytes) {
    m_ignoredBytes += bytes.size();
    if (!m_events || bytes.isEmpty())
        return;
    if (!m_lastIgnored || m_events->isEmpty() || m_events->back().kind != Event::Kind::Ignored) {
        noteScreen(m_events);
        m_events->add(Event::Kind::Ignored, m_set);
    }
    m_events->addBytes(bytes);
    m_lastIgnored = true;
}

void Events::settle() {
    // The last event seen may have grown since; all have moved when the bytes have.
    const qsizetype from = m_bytes.data() == m_settledAt ? qMax<qsizetype>(0, m_settled - 1) : 0;
    for (qsizetype i = from; i < m_size; ++i)
        if (m_events[size_t(i)].kind == Event::Kind::Ignored) {
            const Span& span = m_spans[size_t(i)];
            m_events[size_t(i)].bytes =
                QByteArray::fromRawData(m_bytes.data() + span.at, span.size);
        }
    m_settled = m_size;
    m_settledAt = m_bytes.data();
}

Display::Display(const Eeprom& eeprom, int set, Variant variant)
    : m_eeprom(eeprom), m_variant(variant) {
    use(set >= 0 ? set : eeprom.code);
    m_screen = m_reader->powerOnScreen();
    m_screen.startMarquee(0, m_eeprom.scrollData, false, false);
    m_screen.takeDrewHigh(); // only the stream's bytes count
}

Display::~Display() = default;

void Display::use(int set) {
    if (m_reader)
        m_drawnBefore += m_reader->drawn();
    m_set = set;
    m_reader = std::make_unique<Reader>(rulesFor(set), m_variant);
}

void Display::noteScreen(Events* events) {
    if (!events)
        return;
    const bool noted = m_eventAt >= 0 && m_eventAt < events->size();
    const Screen& last = noted ? (*events)[m_eventAt].screen : m_eventScreen;
    if (m_screen == last && m_set == (noted ? (*events)[m_eventAt].set : m_eventSet))
        return;
    events->add(Event::Kind::Screen, m_set).screen = m_screen;
    m_eventAt = events->size() - 1;
}

void Display::beginEvents() {
    m_eventScreen = m_screen;
    m_eventSet = m_set;
    m_eventAt = -1;
}

void Display::frameReports(const QList<FrameDecoder::Report>& reports, Events* events) {
    for (const FrameDecoder::Report& r : reports) {
        noteScreen(events);
        if (r.valid) {
            m_eeprom.code = r.code;
            m_eeprom.scrollData =
                r.bytes.mid(frame::kScrollOffset, r.bytes.size() - frame::kScrollOffset - 1);
            use(r.code);
            m_screen.setMode(m_reader->rules().powerOnMode);
        }
        m_lastIgnored = false;
        if (events) {
            events->add(Event::Kind::Frame, m_set).frame = r;
        }
    }
}

void Display::feed(QByteArrayView bytes, qint64 nowMs, Events* events) {
    flush(nowMs, events);
    beginEvents();
    const qsizetype partedAt = events ? events->size() : 0;
    const char* const data = bytes.data();
    const qsizetype size = bytes.size();
    if (!m_other && !m_watchTable) { // the plain reading alone
        for (qsizetype i = 0; i < size;) {
            if (const qsizetype run = drawsAloneRun(data + i, size - i); run > 0) {
                drawAloneRun(data + i, run);
                i += run;
            } else if (const qsizetype skip = ignoresAloneRun(data + i, size - i); skip > 0) {
                ignoreAloneRun(data + i, skip, events);
                i += skip;
            } else {
                feedByte(data[i++], nowMs, events);
            }
        }
        m_offset += size;
        if (events)
            events->settle();
        return;
    }
    for (qsizetype i = 0; i < size;) {
        const char b = data[i];
        if (m_inStep) {
            // Characters drawn within the row leave the readings in step, and the table is
            // checked at the first byte from 0x80 as it would be byte by byte.
            qsizetype run = m_other->drawsAloneRun(data + i, drawsAloneRun(data + i, size - i));
            if (run > 0) {
                if (m_watchTable && !m_tableReported)
                    run = throughFirstHigh(data + i, run);
                drawAloneRun(data + i, run);
                m_other->drawAloneRun(data + i, run);
                m_offset += run - 1; // at the run's last byte, the one a high byte ends it with
                if (m_screen.takeDrewHigh() && m_watchTable && !m_tableReported)
                    checkTable(events);
                ++m_offset;
                i += run;
                continue;
            }
            if (const qsizetype skip =
                    m_other->ignoresAloneRun(data + i, ignoresAloneRun(data + i, size - i));
                skip > 0) {
                ignoreAloneRun(data + i, skip, events);
                m_other->ignoreAloneRun(data + i, skip, nullptr);
                m_offset += skip;
                i += skip;
                continue;
            }
            feedByte(b, nowMs, events);
            m_other->feedByte(b, nowMs, nullptr);
            // In step, the readings can part only where the wrap is consulted.
            if (Q_UNLIKELY(m_screen.takeWrapConsulted() | m_other->m_screen.takeWrapConsulted()))
                compareReadings(events);
        } else if (m_other) {
            feedByte(b, nowMs, events);
            m_other->feedByte(b, nowMs, nullptr);
            compareReadings(events);
        } else {
            feedByte(b, nowMs, events);
        }
        if (m_screen.takeDrewHigh() && m_watchTable && !m_tableReported)
            checkTable(events);
        ++m_offset;
        ++i;
    }
    // A dependence shows the other reading as this read left it.
    for (qsizetype i = partedAt; events && i < events->size(); ++i)
        if ((*events)[i].kind == Event::Kind::Depends)
            (*events)[i].screen = otherScreen((*events)[i].on);
    if (events)
        events->settle();
}

void Display::watchDependences() {
    Variant other = m_variant;
    other.lateWrap = !other.lateWrap;
    m_other = std::make_unique<Display>(m_eeprom, m_set, other);
    m_watchTable = true;
    m_screen.takeDrewHigh();
    m_parted = !m_screen.sameCells(m_other->m_screen);
    m_inStep = !m_parted && m_screen.sameState(m_other->m_screen);
}

void Display::compareReadings(Events* events) {
    m_screen.takeWrapConsulted();
    m_other->m_screen.takeWrapConsulted();
    const bool parted = !m_screen.sameCells(m_other->m_screen);
    if (parted && !m_parted)
        reportDependence(Event::On::Wrap, events);
    m_parted = parted;
    m_inStep = !parted && m_set == m_other->m_set && m_screen.sameState(m_other->m_screen);
}

void Display::reportDependence(Event::On on, Events* events) {
    ++m_dependences;
    if (!events)
        return;
    noteScreen(events);
    Event& e = events->add(Event::Kind::Depends, m_set);
    e.on = on;
    e.offset = m_offset;
}

void Display::checkTable(Events* events) {
    // A byte from 0x80 drawn in the power-on table, by a stream that never chose one.
    if (m_reader->tableChosen() || m_screen.style() != m_variant.style)
        return;
    reportDependence(Event::On::CodeTable, events);
    m_tableReported = true;
}

Screen Display::otherScreen(Event::On on) const {
    if (on == Event::On::Wrap)
        return m_other->m_screen;
    // The same bytes in the other common table: Windows-1252 for PC437, else PC437.
    const CodeTable other =
        tableOf(m_variant.style) == CodeTable::PC437 ? CodeTable::WPC1252 : CodeTable::PC437;
    Screen s = m_screen;
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kColumns; ++c)
            if (const uchar style = s.styles(r)[size_t(c)];
                tableOf(style) == tableOf(m_variant.style))
                s.setCellStyle(r, c, styleOf(other, nationalOf(style)));
    return s;
}

void Display::feedAroundFrame(char b, qint64 nowMs, Events* events) {
    // ESC and the access code: the bytes that begin every frame.
    static const QByteArray start = frame::kStart + frame::kAccessCode.toLatin1();
    if (m_inFrame) {
        if (b != frame::kStart) {
            if (const auto reports = m_frames.feed(QByteArray(1, b), nowMs); !reports.isEmpty())
                endFrame(reports, events);
            return;
        }
        // Another ESC cuts the frame off and may begin the next.
        endFrame(m_frames.feed(QByteArray(1, b), nowMs), events);
    }
    if (m_start.isEmpty() && b != frame::kStart) {
        toSet(b, events);
        return;
    }
    m_start.append(b);
    if (start.startsWith(m_start)) {
        if (m_start.size() == start.size()) {
            m_frames.feed(std::exchange(m_start, {}), nowMs);
            m_inFrame = true;
        }
        return;
    }
    // Not a frame after all: its bytes go to the set, and an ESC among them may begin one.
    const QByteArray held = std::exchange(m_start, {});
    const bool again = held.back() == frame::kStart;
    for (const char h : QByteArrayView(held).chopped(again ? 1 : 0))
        toSet(h, events);
    if (again)
        m_start.append(frame::kStart);
}

void Display::flush(qint64 nowMs, Events* events) {
    beginEvents();
    if (m_other)
        m_other->flush(nowMs, nullptr);
    if (m_inFrame)
        if (const auto reports = m_frames.flush(nowMs); !reports.isEmpty())
            endFrame(reports, events);
    if (events)
        events->settle();
}

void Display::endFrame(const QList<FrameDecoder::Report>& reports, Events* events) {
    m_inFrame = false;
    m_frames = FrameDecoder();
    frameReports(reports, events);
}

void Display::end(Events* events) {
    beginEvents();
    if (m_other)
        m_other->end(nullptr);
    if (m_inFrame)
        endFrame(m_frames.hangUp(), events);
    if (!m_start.isEmpty()) { // a frame start cut off: the recogniser's to report
        FrameDecoder cut;
        cut.feed(std::exchange(m_start, {}), 0);
        frameReports(cut.hangUp(), events);
    }
    m_events = events;
    m_reader->end(*this);
    if (events)
        events->settle();
}

} // namespace display
