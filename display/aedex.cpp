// Set 1, AEDEX: every command is the attention code ("!#" at power-on), a function
// character, data and 0x0D. Bytes outside a command go to the printer port that the display
// shares, never to the screen.
//
// Unverified in the public descriptions, and read here as most read them: line commands
// blank the rest of their row and leave the cursor; "!#A" with data is an upper-line message
// and without data a reset; "!#B" is a lower-line message; the clock shows on the lower row,
// at its right end; scroll messages keep 40 bytes.
#include "display/actions.h"
#include "display/sets.h"

#include <iterator>

namespace display {
namespace aedex {

using namespace actions;

void upperOrReset(Context& c) {
    if (c.params.isEmpty()) {
        reset(c);
        c.reader.setAttention("!#");
    } else {
        upperLine(c);
    }
}

constexpr Command kCommands[] = {
    {"1", upperLine, 0, 20, true},
    {"2", lowerLine, 0, 20, true},
    {"4", scrollUpper, 0, 40, true},
    {"5", clock, 0, 5, true},
    {"6", scrollUpperOnce, 0, 40, true},
    {"7", ignore, 0, 40, true}, // character trapping off: no effect
    {"8", attention, 0, 2, true},
    {"9", twoLines, 0, 40, true},
    {"A", upperOrReset, 0, 20, true},
    {"B", lowerLine, 0, 20, true},
};

QByteArray pattern(const QByteArray& upper, const QByteArray& lower) {
    return QByteArray("!#1") + upper + QByteArray("\x0D!#2") + lower + QByteArray("\x0D");
}

} // namespace aedex

const SetRules kAedex{"AEDEX",
                      Mode::Overwrite,
                      false,
                      false,
                      "!#",
                      aedex::kCommands,
                      int(std::size(aedex::kCommands)),
                      aedex::pattern};

} // namespace display
