#pragma once

#include "display/bytes.h"

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <cstring>
#include <limits>
#include <utility>

// The screen of a pole display: two rows of 20 cells and a cursor, as the command sets drive
// it. Rows and columns count from 0 (row 0 is the upper line). A cell holds the byte that was
// drawn there, 0x20 to 0xFF, a space when blank, and the style it was drawn in (its code table
// and national set, codetable.h), which glyphs() turns into characters.
//
// The cursor is the cell that takes the next character. With the eager wrap (what the
// descriptions say), writing advances it at once: the wrap or scroll of the chosen mode
// happens right after the last column is written. With the late wrap (what some displays do),
// the cursor waits at the last column and the next character wraps before it is drawn; any
// cursor command (CR, LF, BS, HT, a move, a clear) settles the wait, acting from the last
// column.
namespace display {

inline constexpr int kRows = 2;
inline constexpr int kColumns = 20;

enum class Mode {
    Overwrite,        // the cursor runs on from (0,19) to (1,0) and from (1,19) to (0,0)
    VerticalScroll,   // past (1,19), and down from row 1, row 1 moves up and row 1 is blank
    HorizontalScroll, // at the last column, the row moves left under the cursor
};

// A message that moves one cell to the left on each tick: the power-on scroll data, or a
// scrolling message of a command set.
struct Marquee {
    int row = -1;            // -1: none
    QByteArray text;         // the message, whose first 20 bytes are shown before the first tick
    unsigned char style = 0; // the style it was drawn in
    int offset = 0;          // the ticks so far
    bool once = false;       // passes once, then leaves the row blank; else loops
    bool operator==(const Marquee& o) const {
        return row == o.row && offset == o.offset && once == o.once &&
               text.size() == o.text.size() && (text.isEmpty() || text == o.text);
    }
};

// Where displays differ: the style that characters are drawn in at power-on, and the wrap.
struct Variant {
    unsigned char style = 0; // codetable.h: PC437, no national set
    bool lateWrap = false;
    bool operator==(const Variant& o) const { return style == o.style && lateWrap == o.lateWrap; }
};

class Screen {
public:
    using Row = std::array<char, kColumns>;
    using Styles = std::array<unsigned char, kColumns>;

    // A blank screen, the cursor home and shown, in `mode`, drawing as `variant` says.
    explicit Screen(Mode mode = Mode::Overwrite, bool cursorShown = true, Variant variant = {});

    const Row& row(int r) const { return m_cells[size_t(r)]; }
    // The style each cell of row `r` was drawn in.
    const Styles& styles(int r) const { return m_styles[size_t(r)]; }
    // The style that later characters are drawn in (ESC t, ESC R and their like change it).
    unsigned char style() const { return m_style; }
    void setStyle(unsigned char style) { m_style = style; }
    // The cell at (`row`, `column`) shows its byte in `style`.
    void setCellStyle(int row, int column, unsigned char style) {
        m_styles[size_t(row)][size_t(column)] = style;
    }
    int cursorRow() const { return m_row; }
    int cursorColumn() const { return m_column; }
    bool cursorShown() const { return m_cursorShown; }
    Mode mode() const { return m_mode; }
    int brightness() const { return m_brightness; } // percent of full
    int blink() const { return m_blink; }           // 50 ms units on and off; 0: steady
    bool reversed() const { return m_reversed; }    // characters now drawn reversed
    const Marquee& marquee() const { return m_marquee; }

    // The same bytes in every cell (styles aside).
    bool sameCells(const Screen& o) const {
        return bytes::same<sizeof m_cells>(m_cells.data(), o.m_cells.data());
    }
    // What operator== compares, and all that later bytes act on but the wrap: the style
    // that characters are drawn in, the scroll window and a waiting cursor.
    bool sameState(const Screen& o) const;
    // Every cell, the cursor, its visibility, the mode, brightness, blink and marquee.
    bool operator==(const Screen& o) const;
    bool operator!=(const Screen& o) const { return !(*this == o); }

    void setMode(Mode mode);
    void setCursorShown(bool shown) { m_cursorShown = shown; }
    void setBrightness(int percent) { m_brightness = percent; }
    void setBlink(int units) { m_blink = units; }
    void setReversed(bool reversed) { m_reversed = reversed; }
    // The window that horizontal scrolling keeps to on `row`: columns `first` to `last`,
    // while the cursor is among them. A row < 0 makes every row scroll whole.
    void setScrollWindow(int row, int first, int last);

    // Draws `c` (0x20 to 0xFF) at the cursor and advances it as the mode says.
    void put(char c) {
        if (Q_LIKELY(putsWithinRow())) {
            m_cells[size_t(m_row)][size_t(m_column)] = c;
            m_styles[size_t(m_row)][size_t(m_column)] = m_style;
            m_drewHigh |= uchar(c) >= 0x80;
            ++m_column;
            return;
        }
        putAtEdge(c);
    }
    // put() would draw and move one cell right, with no wrap, scroll or wait: the same
    // whichever the wrap.
    bool putsWithinRow() const {
        return m_mode != Mode::HorizontalScroll && !m_atEnd && m_column + 1 < kColumns;
    }
    // How many characters putRun() may draw at once as put() would in turn, whichever the
    // wrap: those that move the cursor one cell right within the row (in horizontal scroll
    // mode, short of the last column), or in horizontal scroll mode at the last column any
    // number, the row moving left under the cursor.
    qsizetype runRoom() const {
        if (m_atEnd && m_mode != Mode::HorizontalScroll)
            return 0;
        if (m_mode != Mode::HorizontalScroll)
            return kColumns - 1 - m_column;
        if (m_row == m_windowRow && m_column < m_windowFirst) // up to the window
            return m_windowFirst - m_column;
        if (m_column == lastColumn())
            return std::numeric_limits<qsizetype>::max();
        return m_atEnd ? 0 : lastColumn() - m_column;
    }
    // Draws the `n` characters at `text` (0x20 to 0xFF) as n calls of put() would, n being
    // at most runRoom().
    void putRun(const char* text, qsizetype n) {
        if (m_mode == Mode::HorizontalScroll && m_column == lastColumn()) {
            putRunAtScrollEdge(text, n);
            return;
        }
        bytes::move(&m_cells[size_t(m_row)][size_t(m_column)], text, size_t(n));
        bytes::fill(&m_styles[size_t(m_row)][size_t(m_column)], m_style, size_t(n));
        m_drewHigh |= anyHigh(text, n);
        m_column += int(n);
    }
    // Whether a byte from 0x80 was drawn since the last call.
    bool takeDrewHigh() {
        if (Q_LIKELY(!m_drewHigh))
            return false;
        m_drewHigh = false;
        return true;
    }
    // Whether the wrap was consulted since the last call: two screens in the same state but
    // the wrap (sameState) stay so until it is.
    bool takeWrapConsulted() {
        if (Q_LIKELY(!m_wrapConsulted))
            return false;
        m_wrapConsulted = false;
        return true;
    }
    // Moves the cursor to (`row`, `column`); false, and nothing moves, when outside the grid.
    bool moveTo(int row, int column);
    void home() { moveTo(0, 0); }
    void carriageReturn() { moveTo(m_row, 0); }
    void endOfLine() { moveTo(m_row, kColumns - 1); }
    // One cell right without erasing; at the end as the mode says (a wrap, a scroll, or in
    // horizontal scroll mode the row moving left with a blank last column).
    void right();
    // One cell left, wrapping (1,0) to (0,19) and (0,0) to (1,19) in every mode; with
    // `erase`, the cell moved onto is blanked.
    void backWrapping(bool erase);
    // One cell left as the mode says: a wrap in overwrite mode; in vertical scroll mode at
    // (0,0) row 0 moves down and the cursor goes to (0,19); in horizontal scroll mode at the
    // first column the row moves right, its first column blank.
    void left();
    // One row down (up): in overwrite mode to the other row; in vertical scroll mode past
    // the bottom (top) the rows move up (down) and the cursor keeps its column; in
    // horizontal scroll mode the cursor stays.
    void down();
    void up();

    void clear();           // every cell blank, cursor home
    void clearRow(int row); // the row blank
    // The row shows `data` from column 0, the rest of it blank; bytes past 20 are dropped.
    void setRow(int row, QByteArrayView data);
    // Draws `text` into `row` from `column` on, as far as the row goes; the cursor stays.
    void draw(int row, int column, QByteArrayView text);

    // Shows `text` on `row` as a marquee; `text` of 20 bytes or fewer stands still unless
    // `always`.
    void startMarquee(int row, const QByteArray& text, bool once, bool always);
    // The marquee stops where it is.
    void stopMarquee() {
        if (m_marquee.row >= 0)
            m_marquee = {};
    }
    // The marquee moves one cell; false when there is none.
    bool tick();

private:
    void putAtEdge(char c); // put() at the last column, after it, or in horizontal scroll mode
    void putRunAtScrollEdge(const char* text, qsizetype n);
    static bool anyHigh(const char* text, qsizetype n) {
        unsigned char high = 0;
        for (qsizetype i = 0; i < n; ++i)
            high |= uchar(text[i]);
        return high >= 0x80;
    }
    void scrollUp();   // row 1 onto row 0, row 1 blank
    void scrollDown(); // row 0 onto row 1, row 0 blank
    // The window holds only a cursor inside it; elsewhere the whole row scrolls.
    bool inWindow() const {
        return m_row == m_windowRow && m_column >= m_windowFirst && m_column <= m_windowLast;
    }
    int firstColumn() const { return inWindow() ? m_windowFirst : 0; }
    int lastColumn() const { return inWindow() ? m_windowLast : kColumns - 1; }
    void shiftLeft(); // the cursor's row, within the scroll window
    void shiftRight();
    void showMarquee();

    // Writes `text` into the row from `column` on, in the current style.
    void write(int row, int column, QByteArrayView text);

    std::array<Row, kRows> m_cells;
    std::array<Styles, kRows> m_styles{};
    unsigned char m_style = 0;
    bool m_lateWrap = false;
    int m_row = 0;
    int m_column = 0;
    bool m_cursorShown = true;
    bool m_atEnd = false; // the last column was just written: horizontal scroll, late wrap
    Mode m_mode;
    int m_brightness = 100;
    int m_blink = 0;
    bool m_reversed = false;
    bool m_drewHigh = false;
    bool m_wrapConsulted = false;
    int m_windowRow = -1;
    int m_windowFirst = 0;
    int m_windowLast = kColumns - 1;
    Marquee m_marquee;
};

} // namespace display
