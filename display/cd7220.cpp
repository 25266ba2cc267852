// Set 5, CD7220: ESC commands, with single control bytes as shorter forms of some.
//
// Unverified, and read as most read them: the power-on mode is overwrite with the cursor
// shown; CLR leaves the cursor home, CAN at the start of its row, ESC [ K at the start of the
// lower row; ESC l outside the grid is dropped; string mode (ESC Q A, ESC Q B) lasts until
// its 0x0D, and CLR or CAN end it early; horizontal scrolling keeps to the ESC W window, and
// without one to the cursor's whole row. The set-4 forms with US are not read.
//
// Characters: PC437 at power-on (no description says); ESC c takes A (PC437), J (Katakana),
// R (PC866) and L (PC852); ESC f takes the letters of the one readable table, A for the USA
// and N for Norway inferred, with L and R choosing font families as ESC c does; any other
// letter is reported and changes nothing. The wrap after column 20 is eager unless --wrap
// late (the descriptions fit both).
#include "display/actions.h"
#include "display/sets.h"

#include <iterator>

namespace display {
namespace cd7220 {

using namespace actions;

// ESC W s x1 x2 y: s 1 sets the window of columns x1 to x2 on row y, s 0 removes it.
void scrollWindow(Context& c) {
    const int s = uchar(c.params[0]), x1 = uchar(c.params[1]), x2 = uchar(c.params[2]),
              y = uchar(c.params[3]);
    if (s == 0)
        return c.screen.setScrollWindow(-1, 0, 0);
    if (s != 1 || x1 < 1 || x1 > x2 || x2 > kColumns || y < 1 || y > kRows)
        return refuse(c);
    c.screen.setScrollWindow(y - 1, x1 - 1, x2 - 1);
}

// ESC c n: the font family, by letter.
void fontFamily(Context& c) {
    switch (c.params[0]) {
    case 'A':
        return useTable(c, CodeTable::PC437);
    case 'J':
        return useTable(c, CodeTable::Katakana);
    case 'R':
        return useTable(c, CodeTable::PC866);
    case 'L':
        return useTable(c, CodeTable::PC852);
    }
    useTable(c, std::nullopt);
}

// ESC f n: the national set, by a country's letter; Slavonic and Russia are font families.
void nationalLetter(Context& c) {
    const char n = c.params[0];
    if (n == 'L' || n == 'R')
        return fontFamily(c);
    constexpr struct {
        char letter;
        int national;
    } kLetters[] = {{'A', 0}, {'F', 1}, {'G', 2}, {'U', 3}, {'D', 4}, {'W', 5},
                    {'I', 6}, {'S', 7}, {'J', 8}, {'N', 9}, {'E', 10}};
    for (const auto& l : kLetters)
        if (l.letter == n)
            return useNational(c, l.national);
    useNational(c, -1);
}

constexpr Command kCommands[] = {
    {"\x1B\x11", overwrite},
    {"\x1B\x12", verticalScroll},
    {"\x1B\x13", horizontalScroll},
    cmd("\x1B\x51\x41", upperLine).data(20).endedByClearOrCancel(),
    cmd("\x1B\x51\x42", lowerLine).data(20).endedByClearOrCancel(),
    cmd("\x1B\x51\x44", scrollUpper).data(40),
    {"\x1B\x5B\x44", left},
    {"\x08", left},
    {"\x1B\x5B\x43", right},
    {"\x09", right},
    {"\x1B\x5B\x41", up},
    {"\x1B\x5B\x42", down},
    {"\x0A", down},
    {"\x1B\x5B\x48", home},
    {"\x0B", home},
    {"\x1B\x5B\x4C", carriageReturn},
    {"\x0D", carriageReturn},
    {"\x1B\x5B\x52", endOfLine},
    {"\x1B\x5B\x4B", bottomRow},
    cmd("\x1B\x6C", columnRow).params(2),
    {"\x1B\x40", reset},
    {"\x0C", clear},
    {"\x18", clearCursorRow},
    cmd("\x1B\x57", scrollWindow).params(4),
    cmd("\x1B\x2A", brightnessLevel).params(1),
    cmd("\x1B\x5F", cursorShown).params(1),
    cmd("\x1B\x66", nationalLetter).params(1),
    cmd("\x1B\x63", fontFamily).params(1),
    cmd("\x1B\x25", ignore).params(1),
    cmd("\x1B\x3F", ignore).params(1),
    cmd("\x1B\x26", ignore).paramsBy(userCharacters),
    cmd("\x1B\x3D", select).params(1).evenWhenDeselected(),
};

// Initialise, overwrite mode, each row addressed and written whole, the lower one first: a
// set that does not read the addresses shows the rows swapped.
QByteArray pattern(const QByteArray& upper, const QByteArray& lower) {
    return QByteArray("\x1B\x40\x1B\x11\x1B\x6C\x01\x02") + lower + QByteArray("\x1B\x6C\x01\x01") +
           upper;
}

} // namespace cd7220

const SetRules kCd7220{"CD7220",
                       Mode::Overwrite,
                       true,
                       true,
                       {},
                       cd7220::kCommands,
                       int(std::size(cd7220::kCommands)),
                       cd7220::pattern};

} // namespace display
