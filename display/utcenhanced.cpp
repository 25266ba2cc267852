// Set 3, UTC enhanced: every command is the attention code (ESC "u" at power-on), a function
// letter, data and 0x0D; bytes outside a command are passed through, not drawn.
//
// "Back to standard" is written ESC RS CR but given in hex as 1B 0F 0D by most tables and as
// 1B 1E by one: both are read. The clock is read as 24-hour, on the lower row at its right
// end; line messages keep 20 bytes, scroll messages 40.
//
// Characters: PC437 at power-on (no description says), with no command to change it.
#include "display/actions.h"
#include "display/sets.h"

#include <iterator>

namespace display {
namespace utcenhanced {

using namespace actions;

void toStandard(Context& c) {
    c.reader.switchTo(2);
}

constexpr Command kCommands[] = {
    cmd("A", upperLine).afterTheAttentionCode().data(20),
    cmd("B", lowerLine).afterTheAttentionCode().data(20),
    cmd("D", scrollUpper).afterTheAttentionCode().data(40),
    cmd("E", clock).afterTheAttentionCode().data(5),
    cmd("F", scrollUpperOnce).afterTheAttentionCode().data(40),
    cmd("H", attention).afterTheAttentionCode().data(2),
    cmd("I", twoLines).afterTheAttentionCode().data(40),
    {"\x1B\x1E\x0D", toStandard},
    {"\x1B\x0F\x0D", toStandard},
};

QByteArray pattern(const QByteArray& upper, const QByteArray& lower) {
    return QByteArray("\x1BuA") + upper + QByteArray("\x0D\x1BuB") + lower + QByteArray("\x0D");
}

} // namespace utcenhanced

const SetRules kUtcEnhanced{"UTC ENH",
                            Mode::Overwrite,
                            false,
                            false,
                            "\x1Bu",
                            utcenhanced::kCommands,
                            int(std::size(utcenhanced::kCommands)),
                            utcenhanced::pattern};

} // namespace display
