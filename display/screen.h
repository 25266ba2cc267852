#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <array>

// The screen of a pole display: two rows of 20 cells and a cursor, as the command sets drive
// it. Rows and columns count from 0 (row 0 is the upper line). A cell holds the byte that was
// drawn there, 0x20 to 0xFF, a space when blank; the views map the bytes through the
// Windows-1252 table of the frame.
//
// The cursor is the cell that takes the next character. Writing advances it at once: the
// wrap or scroll of the chosen mode happens right after the last column is written, not when
// the next character comes.
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
    int row = -1;      // -1: none
    QByteArray text;   // the message, whose first 20 bytes are shown before the first tick
    int offset = 0;    // the ticks so far
    bool once = false; // passes once, then leaves the row blank; else loops
    bool operator==(const Marquee& o) const {
        return row == o.row && text == o.text && offset == o.offset && once == o.once;
    }
};

class Screen {
public:
    using Row = std::array<char, kColumns>;

    // A blank screen, the cursor home and shown, in `mode`.
    explicit Screen(Mode mode = Mode::Overwrite, bool cursorShown = true);

    const Row& row(int r) const { return m_cells[size_t(r)]; }
    int cursorRow() const { return m_row; }
    int cursorColumn() const { return m_column; }
    bool cursorShown() const { return m_cursorShown; }
    Mode mode() const { return m_mode; }
    int brightness() const { return m_brightness; } // percent of full
    int blink() const { return m_blink; }           // 50 ms units on and off; 0: steady
    bool reversed() const { return m_reversed; }    // characters now drawn reversed
    const Marquee& marquee() const { return m_marquee; }

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
    void put(char c);
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
    void stopMarquee() { m_marquee = {}; }
    // The marquee moves one cell; false when there is none.
    bool tick();

private:
    void scrollUp();   // row 1 onto row 0, row 1 blank
    void scrollDown(); // row 0 onto row 1, row 0 blank
    bool inWindow() const;
    int firstColumn() const;
    int lastColumn() const;
    void shiftLeft(); // the cursor's row, within the scroll window
    void shiftRight();
    void showMarquee();

    std::array<Row, kRows> m_cells;
    int m_row = 0;
    int m_column = 0;
    bool m_cursorShown = true;
    bool m_atEnd = false; // horizontal scroll: the last column was just written
    Mode m_mode;
    int m_brightness = 100;
    int m_blink = 0;
    bool m_reversed = false;
    int m_windowRow = -1;
    int m_windowFirst = 0;
    int m_windowLast = kColumns - 1;
    Marquee m_marquee;
};

} // namespace display
