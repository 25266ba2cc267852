// Set 0, General: no public description defines it, so it is a conservative subset whose
// every byte means the same, or nearly, in the other sets that have it. It has no modes:
// writing always runs on as in overwrite mode. CLR is the common reading.
//
// Characters: PC437 at power-on (no description says), with no command to change it.
#include "display/actions.h"
#include "display/sets.h"

#include <iterator>

namespace display {
namespace general {

using namespace actions;

constexpr Command kCommands[] = {
    {"\x08", back}, {"\x09", right}, {"\x0A", down}, {"\x0D", carriageReturn}, {"\x0C", clear},
};

// Clear, the upper text without its trailing blanks, back over it and forward again, CR
// LF, the lower text. No row is written to its end before the last, so the pattern does not
// depend on a wrap rule; a set whose backspace erases (2 and 6) loses the upper text. Every
// byte means the same in sets 4 and 5, which show it as cleanly.
QByteArray pattern(const QByteArray& upper, const QByteArray& lower) {
    const QByteArray text = upper.trimmed();
    return QByteArray("\x0C") + text + QByteArray(text.size(), '\x08') +
           QByteArray(text.size(), '\x09') + QByteArray("\x0D\x0A") + lower;
}

} // namespace general

const SetRules kGeneral{"GENERAL",
                        Mode::Overwrite,
                        true,
                        true,
                        {},
                        general::kCommands,
                        int(std::size(general::kCommands)),
                        general::pattern};

} // namespace display
