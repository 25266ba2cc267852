#pragma once

#include "display/screen.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QStringBuilder>

#include <array>
#include <string>
#include <string_view>
#include <vector>

// The command sets as tables, and the one state machine that reads a byte stream by them.
namespace display {

class Reader;

// What a command's action may touch: the screen, and the reader's own state.
class Sink;
struct Context {
    Screen& screen;
    Reader& reader;
    Sink& sink;
    QByteArrayView bytes;  // the whole command as received (without the data's 0x0D)
    QByteArrayView params; // its parameter bytes, then its data
};

using Action = void (*)(Context&);

// One command of a set. Its bytes are matched in full before its parameters are read:
//   bytes        the command's bytes; after the attention code when `afterAttention`
//   fixed        parameter bytes that follow, any values
//   more         for parameters whose length depends on their values: given the
//                parameters so far, the bytes still needed (0: complete; -1: malformed,
//                and the command is ignored)
//   dataMax      >= 0: then data, ended by 0x0D, of which the first dataMax bytes are kept
//                and the rest ignored
//   stringMode   the data ends early at 0x0C or 0x18, which is then read as a command, and
//                the cut data is ignored
//   whenDeselected  runs even while the display is deselected (see Reader::setDeselected)
struct Command {
    std::string_view bytes;
    Action run = nullptr;
    int fixed = 0;
    int dataMax = -1;
    bool afterAttention = false;
    int (*more)(QByteArrayView params) = nullptr;
    bool stringMode = false;
    bool whenDeselected = false;

    // The table's words for the fields, each on a copy: cmd("\x1F\x24", columnRow).params(2).
    constexpr Command params(int n) const { return with(&Command::fixed, n); }
    constexpr Command paramsBy(int (*needed)(QByteArrayView)) const {
        return with(&Command::more, needed);
    }
    constexpr Command data(int keep) const { return with(&Command::dataMax, keep); }
    constexpr Command afterTheAttentionCode() const { return with(&Command::afterAttention, true); }
    constexpr Command endedByClearOrCancel() const { return with(&Command::stringMode, true); }
    constexpr Command evenWhenDeselected() const { return with(&Command::whenDeselected, true); }

private:
    template <typename T> constexpr Command with(T Command::*field, T value) const {
        Command c = *this;
        c.*field = value;
        return c;
    }
};

// A command of `bytes` that runs `run`, with no parameters and no data.
constexpr Command cmd(std::string_view bytes, Action run) {
    Command c;
    c.bytes = bytes;
    c.run = run;
    return c;
}

// A command set: the name its test pattern shows, how it starts, its commands and its
// test pattern.
struct SetRules {
    const char* patternName; // "AEDEX"
    Mode powerOnMode;
    bool cursorShownAtPowerOn;
    bool drawsCharacters;       // false: bytes outside commands go to a printer, not the screen
    std::string_view attention; // the power-on attention code of sets that have one
    const Command* commands;
    int commandCount;
    // The bytes that clear the screen and show `upper` and `lower` (20 bytes each) in
    // this set, whatever mode the display was left in.
    QByteArray (*pattern)(const QByteArray& upper, const QByteArray& lower);
};

// Receives what the reader could not use.
class Sink {
public:
    virtual ~Sink() = default;
    // Bytes the set does not define, dropped as the display drops them.
    virtual void ignored(QByteArrayView bytes) = 0;
};

// Reads bytes by one set's table, one at a time, keeping the partial command it is in, so
// that bytes split across reads at any point have the same effect as the whole stream.
class Reader {
public:
    // Reads by `rules`, on a display that draws as `variant` says at power-on.
    explicit Reader(const SetRules& rules, Variant variant = {});

    void feed(char byte, Screen& screen, Sink& sink) {
        if (Q_LIKELY(drawsAlone(byte))) {
            drawAlone(byte, screen);
            return;
        }
        if (Q_UNLIKELY(m_inDefinition || m_macroShown))
            feedAroundMacro(byte, screen, sink);
        else
            feedByte(byte, screen, sink);
        settle();
    }
    // Whether `byte` is drawn at once as a character of its own: the reader waits for a
    // command, draws, and `byte` is 0x20 or more and begins none.
    bool drawsAlone(char byte) const { return m_ready && m_plain[uchar(byte)]; }
    // Feeds `byte`, for which drawsAlone() holds.
    void drawAlone(char byte, Screen& screen) {
        screen.put(byte);
        ++m_drawn;
    }
    // No command or sequence is under way, and characters are drawn: drawsAlone() holds for
    // plain bytes.
    bool ready() const { return m_ready; }
    // How many of the `n` bytes at `bytes` drawsAlone() holds for in turn.
    qsizetype drawsAloneRun(const char* bytes, qsizetype n) const {
        if (!m_ready)
            return 0;
        qsizetype i = 0;
        while (i < n && m_plain[uchar(bytes[i])])
            ++i;
        return i;
    }
    // Feeds the `n` bytes at `bytes`, for which drawsAloneRun() holds and that the screen
    // has room for (Screen::runRoom()).
    void drawAloneRun(const char* bytes, qsizetype n, Screen& screen) {
        screen.putRun(bytes, n);
        m_drawn += n;
    }
    // `byte` begins no command and none is under way: it is drawn, or ignored, on its own,
    // and the reader stays as it is.
    bool alone(char byte) const { return m_idle && !m_starts[uchar(byte)]; }
    // A byte alone is drawn as a character; else it is ignored.
    bool draws(char byte) const { return m_drawing && uchar(byte) >= 0x20; }
    // Whether `byte` is ignored on its own and leaves the reader as it is: alone and not
    // drawn, or a data byte past the room of the command under way.
    bool ignores(char byte) const {
        if (alone(byte))
            return !draws(byte);
        return m_command && m_need == 0 && !m_inDefinition && !m_macroShown && byte != 0x0D &&
               !(m_command->stringMode && (byte == 0x0C || byte == 0x18)) &&
               qsizetype(m_sequence.size()) - m_dataStart >= m_command->dataMax;
    }
    // The bytes drawn as characters outside any command so far.
    qint64 drawn() const { return m_drawn; }
    // The rest of a command under way, when the input ends: it is ignored.
    void end(Sink& sink);
    // The screen as the set leaves it at power-on or on its reset command.
    Screen powerOnScreen() const;
    const SetRules& rules() const { return *m_rules; }

    // For the actions:
    void setAttention(QByteArrayView code);
    // While deselected (ESC = of sets 4 and 5), commands are read but only those marked
    // whenDeselected run, and characters are not drawn.
    void setDeselected(bool deselected) {
        m_deselected = deselected;
        setDrawing();
    }
    // Asks for the set with `code` to take over after this command (sets 2 and 3 switch to
    // each other).
    void switchTo(int code) { m_switchTo = code; }
    int takeSwitch();
    bool switching() const { return m_switchTo >= 0; }
    // Whether the stream has chosen a code table or national set.
    bool tableChosen() const { return m_tableChosen; }
    void chooseTable() { m_tableChosen = true; }
    // Set 4's macro: from the next byte on, bytes are stored and not read until `end` comes;
    // more than `most` bytes, or `abort` among them, end the definition with no macro.
    void defineMacro(QByteArrayView end, QByteArrayView abort, int most);
    // Runs the stored macro once (its bytes are read now); the next byte from the line stops
    // it, clearing the screen first. No macro: nothing.
    void runMacro(Screen& screen, Sink& sink);
    // The time that the clock commands set and show, "hh:mm".
    QByteArray clock() const { return m_clock; }
    void setClock(const QByteArray& hhmm) { m_clock = hhmm; }

private:
    void feedAroundMacro(char byte, Screen& screen, Sink& sink);
    void feedByte(char byte, Screen& screen, Sink& sink);
    void begin(const Command& c, Screen& screen, Sink& sink);
    void parameter(char byte, Screen& screen, Sink& sink);
    void finish(Screen& screen, Sink& sink);
    void reset();
    QByteArrayView sequence() const { return {m_sequence.data(), qsizetype(m_sequence.size())}; }
    // Keeps m_drawing true only while a character byte may go straight to the screen.
    void setDrawing() {
        m_drawing = m_rules->drawsCharacters && !m_deselected && !m_inDefinition && !m_macroShown;
        settle();
    }
    // After every byte read in full: m_ready follows the state it is derived from.
    void settle() {
        m_idle = !m_command && m_sequence.empty() && !m_inDefinition && !m_macroShown;
        m_ready = m_idle && m_drawing;
    }

    const SetRules* m_rules;
    Variant m_variant;
    QByteArray m_attention;
    std::array<bool, 256> m_starts{}; // bytes that begin a command
    // Each command's bytes, the attention code first for those that follow it, sorted by
    // their bytes (rows of the same bytes in the table's order); the commands that begin
    // with byte b are m_prefixes[m_firstAt[b]] up to m_firstAt[b + 1].
    struct Prefix {
        int at, size; // in m_prefixBytes
        const Command* command;
    };
    QByteArray m_prefixBytes;
    std::vector<Prefix> m_prefixes;
    std::array<int, 257> m_firstAt{};
    int m_lo = 0, m_hi = 0; // the prefixes that begin with m_sequence, while it is matched
    std::string m_sequence; // the command's bytes so far, then its parameters
    const Command* m_command = nullptr;
    int m_need = 0;         // parameter bytes still to come
    bool m_inData = false;  // reading the data, up to 0x0D
    int m_prefixLength = 0; // bytes of the command itself in m_sequence
    int m_dataStart = 0;    // where its data begins in m_sequence
    bool m_deselected = false;
    bool m_tableChosen = false;
    int m_switchTo = -1;
    QByteArray m_clock = QByteArrayLiteral("00:00");
    QByteArray m_macro;    // the stored macro
    QByteArray m_defining; // the bytes so far while one is defined
    bool m_inDefinition = false;
    QByteArray m_macroEnd, m_macroAbort;
    int m_macroMost = 0;
    bool m_macroShown = false; // a macro has run: the next byte clears the screen
    qint64 m_drawn = 0;
    bool m_drawing = false; // the set draws, not deselected, no macro being defined or shown
    bool m_idle = false;    // no command, macro definition or shown macro under way
    bool m_ready = false;   // m_idle and m_drawing
    std::array<bool, 256> m_plain{}; // bytes of 0x20 or more that begin no command
};

} // namespace display
