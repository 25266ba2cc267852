#pragma once

// The actions that several command sets share, for their tables.
#include "display/codetable.h"
#include "display/commands.h"

#include <optional>

#include <algorithm>

namespace display::actions {

inline void ignore(Context&) {}
inline void refuse(Context& c) {
    c.sink.ignored(c.bytes);
}
inline void clear(Context& c) {
    c.screen.clear();
}
inline void home(Context& c) {
    c.screen.home();
}
inline void carriageReturn(Context& c) {
    c.screen.carriageReturn();
}
inline void endOfLine(Context& c) {
    c.screen.endOfLine();
}
inline void right(Context& c) {
    c.screen.right();
}
inline void left(Context& c) {
    c.screen.left();
}
inline void back(Context& c) {
    c.screen.backWrapping(false);
}
inline void backErasing(Context& c) {
    c.screen.backWrapping(true);
}
inline void down(Context& c) {
    c.screen.down();
}
inline void up(Context& c) {
    c.screen.up();
}
inline void bottomRow(Context& c) {
    c.screen.moveTo(1, 0); // column 1 assumed: the descriptions name only the row
}
// The cursor's row blank, the cursor to its first column.
inline void clearCursorRow(Context& c) {
    c.screen.clearRow(c.screen.cursorRow());
    c.screen.carriageReturn();
}
inline void overwrite(Context& c) {
    c.screen.setMode(Mode::Overwrite);
}
inline void verticalScroll(Context& c) {
    c.screen.setMode(Mode::VerticalScroll);
}
inline void horizontalScroll(Context& c) {
    c.screen.setMode(Mode::HorizontalScroll);
}
inline void cursorOn(Context& c) {
    c.screen.setCursorShown(true);
}
inline void cursorOff(Context& c) {
    c.screen.setCursorShown(false);
}
// Settings and screen as at power-on.
inline void reset(Context& c) {
    c.screen = c.reader.powerOnScreen();
}
// One parameter byte, the cell number 0x00 to 0x27 (row * 20 + column); larger: nothing.
inline void cell(Context& c) {
    const int n = uchar(c.params[0]);
    if (n >= kRows * kColumns)
        return refuse(c);
    c.screen.moveTo(n / kColumns, n % kColumns);
}
// Two parameter bytes, the column 1 to 20 and the row 1 to 2; outside the grid: nothing.
inline void columnRow(Context& c) {
    if (!c.screen.moveTo(uchar(c.params[1]) - 1, uchar(c.params[0]) - 1))
        refuse(c);
}
// One parameter byte: 0 or '0' hides the cursor, 1 or '1' shows it.
inline void cursorShown(Context& c) {
    const char n = c.params[0];
    if (n == 0 || n == '0' || n == 1 || n == '1')
        c.screen.setCursorShown(n == 1 || n == '1');
    else
        refuse(c);
}
// One parameter byte, the level 1 (dimmest) to 4 (full).
inline void brightnessLevel(Context& c) {
    static constexpr int kPercent[] = {20, 40, 60, 100};
    const int n = uchar(c.params[0]);
    if (n < 1 || n > 4)
        return refuse(c);
    c.screen.setBrightness(kPercent[n - 1]);
}
// Line commands replace the whole row; data past 20 bytes was dropped by the table.
inline void upperLine(Context& c) {
    c.screen.setRow(0, c.params);
}
inline void lowerLine(Context& c) {
    c.screen.setRow(1, c.params);
}
inline void twoLines(Context& c) {
    c.screen.setRow(0, c.params.first(std::min<qsizetype>(c.params.size(), kColumns)));
    c.screen.setRow(1, c.params.size() > kColumns ? c.params.sliced(kColumns) : QByteArrayView());
}
// Scrolling messages: shown as a marquee on their row until another byte comes.
inline void scrollUpper(Context& c) {
    c.screen.startMarquee(0, c.params.toByteArray(), false, true);
}
inline void scrollUpperOnce(Context& c) {
    c.screen.startMarquee(0, c.params.toByteArray(), true, true);
}
inline void scrollLower(Context& c) {
    c.screen.startMarquee(1, c.params.toByteArray(), false, true);
}
// The clock: empty data shows it, "hh:mm" in ASCII digits (24-hour) sets and shows it, at
// the right end of the lower row. The model's clock does not run.
inline void clock(Context& c) {
    const QByteArrayView p = c.params;
    if (!p.isEmpty()) {
        auto digits = [p](int at, int below) {
            const int tens = p[at] - '0', units = p[at + 1] - '0';
            return tens >= 0 && tens <= 9 && units >= 0 && units <= 9 && tens * 10 + units < below;
        };
        if (p.size() != 5 || p[2] != ':' || !digits(0, 24) || !digits(3, 60))
            return refuse(c);
        c.reader.setClock(p.toByteArray());
    }
    c.screen.draw(1, kColumns - 5, c.reader.clock());
}
// A new attention code of two bytes, ended by 0x0D.
inline void attention(Context& c) {
    if (c.params.size() != 2)
        return refuse(c);
    c.reader.setAttention(c.params);
}

// User-defined characters, ESC & s n m: then, for each character n to m, a count a (0 to 5)
// and a bytes of pattern. Read and dropped, as their glyphs are not drawn.
inline int userCharacters(QByteArrayView p) {
    if (p.size() < 3)
        return int(3 - p.size());
    const int first = uchar(p[1]), last = uchar(p[2]);
    if (first > last || first < 0x20 || last > 0x7E)
        return -1;
    qsizetype at = 3;
    for (int ch = first; ch <= last; ++ch) {
        if (at >= p.size())
            return int(at + 1 - p.size());
        const int a = uchar(p[at]);
        if (a > 5)
            return -1;
        at += 1 + a;
        if (at > p.size())
            return int(at - p.size());
    }
    return 0;
}

// ESC = n: 1 the printer alone (the display draws nothing until selected again), 2 the
// display alone, 3 both. Any other n goes to the printer and changes nothing here.
inline void select(Context& c) {
    const int n = uchar(c.params[0]);
    if (n >= 1 && n <= 3)
        c.reader.setDeselected(!(n & 0x02));
}

// The code table for later characters; an unknown one is reported and changes nothing.
inline void useTable(Context& c, std::optional<CodeTable> table) {
    if (!table)
        return refuse(c);
    c.reader.chooseTable();
    c.screen.setStyle(styleOf(*table, nationalOf(c.screen.style())));
}
// The national set for later characters, 0 to 13; another is reported and changes nothing.
inline void useNational(Context& c, int national) {
    if (national < 0 || national >= kNationalSets)
        return refuse(c);
    c.reader.chooseTable();
    c.screen.setStyle(styleOf(tableOf(c.screen.style()), national));
}

} // namespace display::actions
