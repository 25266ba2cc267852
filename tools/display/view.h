#pragma once

#include "display/display.h"
#include "display/identify.h"
#include "tools/output.h"

#include <QString>
#include <QStringList>

#include <memory>

// How vorq-display shows what the display does: the screen after each change, each frame,
// each run of ignored bytes. The program drives one view and never asks which it is.
class View {
public:
    enum class Kind { Plain, Json, Terminal };
    using Event = display::Display::Event;

    virtual ~View() = default;
    // The first line, naming the device that the display listens on, for whoever reads it.
    virtual void listening(const QString& where) = 0;
    // The screen changed (or is shown for the first time), in the set `set`.
    virtual void screen(const display::Screen& screen, int set) = 0;
    virtual void ignored(const Event& e) = 0;
    // The screen depends on where displays differ (the wrap, the code table): e.on, e.offset,
    // and the other reading's screen in e.screen.
    virtual void depends(const Event& e) = 0;
    // A frame, valid or not; with `hex`, its bytes are shown too where the view has room.
    virtual void frame(const Event& e, bool hex) = 0;
    // Which set the bytes were written for: every set's reading, best first.
    virtual void identified(const QList<display::SetReading>& ranked) = 0;
    // Events came that changed nothing on the screen.
    virtual void unchanged(const display::Screen& screen, int set) {
        static_cast<void>(screen);
        static_cast<void>(set);
    }
    // A moment passed: the terminal view follows a resize. True when it redrew.
    virtual bool idle(const display::Screen& screen, int set) {
        static_cast<void>(screen);
        static_cast<void>(set);
        return false;
    }
    // Whether the screen moves by itself (a marquee) in this view.
    virtual bool animated() const { return false; }

    // The view for standard output: JSON when asked for, else the terminal view on a
    // terminal that can take it, else plain lines.
    static std::unique_ptr<View> make(bool json, Output& out);
};

// The words that the plain and terminal views share.
namespace viewtext {
// A row as the views show it: each cell's glyph in the code table and national set it was
// drawn in, U+FFFD for a byte with none.
QString row(const display::Screen& screen, int row);
// "overwrite", "vertical scroll", "horizontal scroll".
QString modeName(display::Mode mode);
// The lines of the log for an event: "Frame: ...", "Stores: ...", "Malformed: ...",
// "Ignored by ...", "Depends on ...", and with `hex` the frame's bytes.
QStringList lines(const View::Event& e, bool hex);
// The table of every set's reading and the verdict: which code to write.
QStringList identification(const QList<display::SetReading>& ranked);
} // namespace viewtext
