// Set 6, PD3000: single control bytes, largely those of set 2, and scrolling messages.
// Control bytes that it does not define are dropped.
//
// The three ESC scroll messages are documented for the family, not on the set's own page;
// they are read, and every message is shown moving left, whichever way it runs on a display.
//
// Characters: PC437 at power-on, as a related emulation states; its 02 n, which the set's own
// list lacks, is not read. The wrap after column 20 is eager, as the descriptions say,
// unless --wrap late.
#include "display/actions.h"
#include "display/sets.h"

#include <iterator>

namespace display {
namespace pd3000 {

using namespace actions;

// 04 n: n is FF (100 %), 60, 40 or 20 (that many percent).
void brightness(Context& c) {
    const int n = uchar(c.params[0]);
    if (n == 0xFF)
        c.screen.setBrightness(100);
    else if (n == 0x60 || n == 0x40 || n == 0x20)
        c.screen.setBrightness(n / 16 * 10);
    else
        refuse(c);
}

// 05: the message runs on the upper row, and a cursor there goes to the lower row.
void scrollMessage(Context& c) {
    if (c.screen.cursorRow() == 0)
        c.screen.moveTo(1, 0);
    scrollUpper(c);
}

constexpr Command kCommands[] = {
    {"\x12", verticalScroll},
    {"\x11", overwrite},
    cmd("\x04", brightness).params(1),
    {"\x08", backErasing},
    {"\x09", right},
    {"\x0A", down},
    {"\x0D", carriageReturn},
    cmd("\x10", cell).params(1),
    {"\x13", cursorOn},
    {"\x14", cursorOff},
    {"\x1F", reset},
    cmd("\x03", ignore).params(6), // a user character: the glyph and five pattern bytes
    cmd("\x05", scrollMessage).data(45),
    cmd("\x1B\x06", scrollLower).data(45),
    cmd("\x1B\x07", scrollUpper).data(45),
    cmd("\x1B\x0B", scrollLower).data(45),
};

// Reset (to vertical scrolling), the lower row's first cell, the upper text without its
// trailing blanks and five marks erased again by backspace, LF, overwrite mode, CR, the lower
// text. Here LF on the lower row scrolls the upper text up to its row; set 2, whose clear
// leaves it in overwrite mode, goes to the upper row instead and writes the lower text over
// it; sets whose backspace does not erase keep the marks. No row is written to its end before
// the last.
QByteArray pattern(const QByteArray& upper, const QByteArray& lower) {
    return QByteArray("\x1F\x10\x14") + upper.trimmed() + QByteArray("<<<<<\x08\x08\x08\x08\x08") +
           QByteArray("\x0A\x11\x0D") + lower;
}

} // namespace pd3000

const SetRules kPd3000{"PD3000",
                       Mode::VerticalScroll,
                       true,
                       true,
                       {},
                       pd3000::kCommands,
                       int(std::size(pd3000::kCommands)),
                       pd3000::pattern};

} // namespace display
