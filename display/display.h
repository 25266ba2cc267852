#pragma once

#include "display/commands.h"
#include "display/screen.h"
#include "protocol/decoder.h"
#include "protocol/frame.h"

#include <QByteArray>
#include <QList>

#include <memory>
#include <string>
#include <vector>

// A pole display in software: bytes in, screen out, with no input or output of its own.
//
// Every byte goes first past the configuration-frame recogniser: ESC and the access code
// begin a frame, which FrameDecoder reads to its end marker (or to what cuts it off). A
// valid frame stores its code and scroll data in the EEPROM, and its set takes over at once.
// Every other byte, a started frame start that turned out not to be one included, goes to
// the decoder of the set in force, in order.
namespace display {

// What the display keeps across power cycles.
struct Eeprom {
    int code = 0;          // the command set, 0 to 6
    QByteArray scrollData; // Windows-1252 bytes, at most 40
    bool operator==(const Eeprom& o) const { return code == o.code && scrollData == o.scrollData; }
};

// The rules of the set with `code` (0 to 6), by frame.h's table of command sets.
const SetRules& rulesFor(int code);

// The bytes that make the set with `code` show the test pattern: "TEST <digit> <NAME>"
// padded to 20 on the upper row, "0123456789ABCDEFGHIJ" on the lower.
QByteArray testPattern(int code);
// The other sets that show the test pattern of the set `code` as cleanly, from power-on:
// those that two clean lines cannot tell from it. Set 0's bytes are a subset that means the
// same in sets 4 and 5; every other pattern uses what its set has and the others lack.
QList<int> readAlike(int code);

class Events;

class Display : private Sink {
public:
    // What happened, in the order of the bytes that caused it. Before a frame or a run of
    // ignored bytes that follows characters which changed the screen (within one feed), a
    // Screen event shows the screen as those characters left it.
    struct Event {
        enum class Kind { Frame, Ignored, Screen, Depends } kind = Kind::Frame;
        // Depends: what the screen depends on, where displays differ. Wrap: the other wrap
        // reading's screen parted from this one at `offset` (once per part). CodeTable: a
        // byte from 0x80 at `offset` was drawn in the power-on table, by a stream that never
        // chose one (once). `screen`: the other reading's screen at the end of that read.
        enum class On { Wrap, CodeTable } on = On::Wrap;
        qint64 offset = 0;          // the byte's offset in the stream, 0 for the first
        FrameDecoder::Report frame; // a frame, valid or not
        QByteArray bytes;           // the bytes ignored, in order, when Ignored (as Events says)
        int set = 0;                // the set in force when it happened
        Screen screen;              // when Screen, and the other reading's when Depends
    };

    // Powers on with what `eeprom` holds, in the set `set` (0 to 6), or the stored one when
    // `set` is -1. The upper row shows the first 20 bytes of the scroll data, as a marquee
    // when there are more.
    // `variant`: the power-on code table and national set, and the wrap, where displays differ.
    explicit Display(const Eeprom& eeprom = {}, int set = -1, Variant variant = {});
    ~Display() override;

    // Reads bytes that came at `nowMs` (any monotonic clock). Appends what happened to
    // `events` when given: frames, and runs of ignored bytes joined while nothing else came
    // between them.
    void feed(QByteArrayView bytes, qint64 nowMs, Events* events = nullptr);
    // Reports a frame whose end marker has not come within a second of its ESC.
    void flush(qint64 nowMs, Events* events);
    // The input ended or the line hung up: a frame under way, or the start of one, is cut
    // off, and the rest of a command under way is ignored.
    void end(Events* events);
    // The marquee moves one cell; false when nothing moved.
    bool tick() { return m_screen.tick(); }
    // From now on, reports Depends events: keeps the other wrap reading alongside.
    void watchDependences();
    qint64 dependences() const { return m_dependences; }

    const Screen& screen() const { return m_screen; }
    int set() const { return m_set; }
    const Eeprom& eeprom() const { return m_eeprom; }
    qint64 ignoredBytes() const { return m_ignoredBytes; }
    // The bytes drawn as characters outside any command: those the set did not read as
    // commands, nor ignore.
    qint64 drawnBytes() const { return m_drawnBefore + m_reader->drawn(); }

private:
    // A byte that the set reads: the reader's dropped bytes come back through ignored().
    void toSet(char byte, Events* events) {
        m_screen.stopMarquee();
        m_events = events;
        const qint64 ignored = m_ignoredBytes;
        m_reader->feed(byte, m_screen, *this);
        if (m_ignoredBytes == ignored)
            m_lastIgnored = false;
        if (Q_UNLIKELY(m_reader->switching()))
            use(m_reader->takeSwitch());
    }
    void ignored(QByteArrayView bytes) override;
    void frameReports(const QList<FrameDecoder::Report>& reports, Events* events);
    // The frame under way has ended with `reports`: the decoder starts afresh.
    void endFrame(const QList<FrameDecoder::Report>& reports, Events* events);
    void use(int set);
    void feedByte(char b, qint64 nowMs, Events* events) {
        if (Q_LIKELY(drawsAlone(b)))
            drawAlone(b);
        else if (ignoresAlone(b))
            ignoreAlone(b, events);
        else if (Q_LIKELY(!m_inFrame && m_start.isEmpty() && b != frame::kStart))
            toSet(b, events);
        else
            feedAroundFrame(b, nowMs, events);
    }
    // `b` is drawn at once as a character of its own, outside any frame.
    bool drawsAlone(char b) const {
        static_assert(uchar(frame::kStart) < 0x20, "a frame's first byte is never drawn");
        return m_reader->drawsAlone(b) && !m_inFrame && m_start.isEmpty();
    }
    // Feeds `b`, for which drawsAlone() holds.
    void drawAlone(char b) {
        m_screen.stopMarquee();
        m_reader->drawAlone(b, m_screen);
        m_lastIgnored = false;
    }
    // How many of the `n` bytes at `bytes` are drawn in turn as drawsAlone() says, as one
    // run of the screen's (Screen::runRoom()): the same whichever the wrap.
    qsizetype drawsAloneRun(const char* bytes, qsizetype n) const {
        if (!m_reader->ready() || m_inFrame || !m_start.isEmpty())
            return 0;
        return m_reader->drawsAloneRun(bytes, qMin(n, m_screen.runRoom()));
    }
    // Feeds the `n` bytes at `bytes`, for which drawsAloneRun() holds.
    void drawAloneRun(const char* bytes, qsizetype n) {
        m_screen.stopMarquee();
        m_reader->drawAloneRun(bytes, n, m_screen);
        m_lastIgnored = false;
    }
    // `b` is ignored on its own, outside any frame, and leaves the reader as it is.
    bool ignoresAlone(char b) const { return ignoresAloneRun(&b, 1) == 1; }
    // Feeds `b`, for which ignoresAlone() holds.
    void ignoreAlone(char b, Events* events) { ignoreAloneRun(&b, 1, events); }
    // How many of the `n` bytes at `bytes` ignoresAlone() holds for in turn.
    qsizetype ignoresAloneRun(const char* bytes, qsizetype n) const {
        if (m_inFrame || !m_start.isEmpty())
            return 0;
        qsizetype i = 0;
        while (i < n && bytes[i] != frame::kStart && m_reader->ignores(bytes[i]))
            ++i;
        return i;
    }
    // Feeds the `n` bytes at `bytes`, for which ignoresAloneRun() holds.
    void ignoreAloneRun(const char* bytes, qsizetype n, Events* events) {
        m_screen.stopMarquee();
        m_events = events;
        Display::ignored(QByteArrayView(bytes, n));
    }
    // A byte within a frame or a frame start, or one that may begin them.
    void feedAroundFrame(char b, qint64 nowMs, Events* events);
    void compareReadings(Events* events);
    void checkTable(Events* events);
    void reportDependence(Event::On on, Events* events);
    Screen otherScreen(Event::On on) const;
    // A Screen event when the screen or the set changed since the last event of this call.
    void noteScreen(Events* events);
    void beginEvents();

    Eeprom m_eeprom;
    Variant m_variant;
    int m_set = 0;
    Screen m_screen;
    std::unique_ptr<Reader> m_reader;
    QByteArray m_start;     // the bytes of a frame start seen so far, while they match
    bool m_inFrame = false; // FrameDecoder is reading a frame
    FrameDecoder m_frames;
    qint64 m_ignoredBytes = 0;
    qint64 m_drawnBefore = 0;         // by the readers before this one
    bool m_lastIgnored = false;       // the last event is Ignored, and may still grow
    Events* m_events = nullptr;       // where ignored() reports, for the byte being read
    std::unique_ptr<Display> m_other; // the other wrap reading, while dependences are watched
    bool m_parted = false;
    bool m_inStep = false; // the other reading's screen is this one's, all but the wrap
    bool m_watchTable = false;
    bool m_tableReported = false;
    qint64 m_offset = 0;
    qint64 m_dependences = 0;
    // The screen and set as the last Screen event of the call left them, the one at m_eventAt,
    // or before it as the call's start left them.
    Screen m_eventScreen;
    int m_eventSet = 0;
    qsizetype m_eventAt = -1;
};

// The events of calls to a Display, in order. clear() keeps every event and its room for the
// next call: a stream read in many calls stops allocating once its largest read has been seen.
// The bytes of Ignored events are kept together, and each event's `bytes` refers to its part
// without a copy: it is good until the events are cleared or another call adds to them, and a
// QByteArray(e.bytes.constData(), e.bytes.size()) outlives them.
class Events {
public:
    using Event = Display::Event;

    Events() = default;
    Events(const Events&) = delete; // its events' bytes lie in its own buffer
    Events& operator=(const Events&) = delete;

    // A new last event of `kind` in `set`, its other members empty but for `screen`, which
    // holds any screen until the caller sets it.
    Event& add(Event::Kind kind, int set) {
        if (m_size == qsizetype(m_events.size())) {
            m_events.emplace_back();
            m_spans.emplace_back();
        }
        Event& e = m_events[size_t(m_size)];
        m_spans[size_t(m_size++)] = {qsizetype(m_bytes.size()), 0};
        if (Q_UNLIKELY(e.kind == Event::Kind::Frame))
            e.frame = {};
        e.bytes = QByteArray();
        e.kind = kind;
        e.on = Event::On::Wrap;
        e.offset = 0;
        e.set = set;
        return e;
    }
    // Adds `bytes` to those of the last event, an Ignored one; they show in its `bytes` once
    // the call that adds them ends (settle()).
    void addBytes(QByteArrayView bytes) {
        if (bytes.size() == 1)
            m_bytes.push_back(bytes[0]);
        else
            m_bytes.append(bytes.data(), size_t(bytes.size()));
        m_spans[size_t(m_size - 1)].size += bytes.size();
    }
    // Points the Ignored events' `bytes` at their parts, where they now lie.
    void settle();
    void clear() {
        m_size = 0;
        m_settled = 0;
        m_bytes.clear(); // keeps its capacity
    }
    qsizetype size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }
    const Event& operator[](qsizetype i) const { return m_events[size_t(i)]; }
    Event& operator[](qsizetype i) { return m_events[size_t(i)]; }
    Event& back() { return m_events[size_t(m_size - 1)]; }
    const Event* begin() const { return m_events.data(); }
    const Event* end() const { return m_events.data() + m_size; }

private:
    struct Span {
        qsizetype at = 0, size = 0; // in m_bytes
    };
    std::vector<Event> m_events;
    std::vector<Span> m_spans; // of each event's bytes
    std::string m_bytes;       // the bytes of every Ignored event, in order
    qsizetype m_size = 0;
    qsizetype m_settled = 0;           // the events that settle() has seen
    const char* m_settledAt = nullptr; // where m_bytes lay then
};

} // namespace display
