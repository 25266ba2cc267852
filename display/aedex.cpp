// Set 1, AEDEX: every command is the attention code ("!#" at power-on), a function
// character, data and 0x0D. Bytes outside a command go to the printer port that the display
// shares, never to the screen.
//
// Unverified in the public descriptions, and read here as most read them: line commands
// blank the rest of their row and leave the cursor; "!#A" with data is an upper-line message
// and without data a reset; "!#B" is a lower-line message; the clock shows on the lower row,
// at its right end; scroll messages keep 40 bytes.
//
// Characters: PC437 at power-on (no description says), with no command to change it.
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
    cmd("1", upperLine).afterTheAttentionCode().data(20),
    cmd("2", lowerLine).afterTheAttentionCode().data(20),
    cmd("4", scrollUpper).afterTheAttentionCode().data(40),
    cmd("5", clock).afterTheAttentionCode().data(5),
    cmd("6", scrollUpperOnce).afterTheAttentionCode().data(40),
    cmd("7", ignore).afterTheAttentionCode().data(40), // character trapping off: no effect
    cmd("8", attention).afterTheAttentionCode().data(2),
    cmd("9", twoLines).afterTheAttentionCode().data(40),
    cmd("A", upperOrReset).afterTheAttentionCode().data(20),
    cmd("B", lowerLine).afterTheAttentionCode().data(20),
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
