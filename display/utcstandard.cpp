// Set 2, UTC standard: single control bytes; any other byte from 0x20 up is a character.
// Control bytes that the set does not define are dropped. The power-on mode is not stated by
// any description: overwrite is taken. The bytes that only some descriptions give (04, 18,
// 19, 1C, 1D, 1E) are not read.
//
// Characters: PC437 at power-on (no description says), with no command to change it. The
// wrap after column 20 is eager, as set 6 describes it, unless --wrap late.
#include "display/actions.h"
#include "display/sets.h"

#include <iterator>

namespace display {
namespace utcstandard {

using namespace actions;

void clearAndMode(Context& c) {
    c.screen.clear();
    c.screen.setMode(c.reader.rules().powerOnMode);
}

void toEnhanced(Context& c) {
    c.reader.switchTo(3);
}

constexpr Command kCommands[] = {
    {"\x08", backErasing},
    {"\x09", right},
    {"\x0A", down},
    {"\x0D", carriageReturn},
    cmd("\x10", cell).params(1),
    {"\x11", overwrite},
    {"\x12", verticalScroll},
    {"\x13", cursorOn},
    {"\x14", cursorOff},
    {"\x1F", clearAndMode},
    {"\x1B\x64", toEnhanced},
};

// Clear (in overwrite mode), the lower row's first cell, LF, overwrite mode, the upper
// text, the lower row's first cell, the lower text. Here LF from the lower row goes to the
// upper one; set 6, whose clear resets it to vertical scrolling, scrolls instead and writes
// both texts on the lower row. Each text starts at an addressed cell, so the pattern does not
// depend on a wrap rule.
QByteArray pattern(const QByteArray& upper, const QByteArray& lower) {
    return QByteArray("\x1F\x10\x14\x0A\x11") + upper + QByteArray("\x10\x14") + lower;
}

} // namespace utcstandard

const SetRules kUtcStandard{"UTC STD",
                            Mode::Overwrite,
                            true,
                            true,
                            {},
                            utcstandard::kCommands,
                            int(std::size(utcstandard::kCommands)),
                            utcstandard::pattern};

} // namespace display
