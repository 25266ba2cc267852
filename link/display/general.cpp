// Set 0, General: no public description defines it, so it is a conservative subset whose
// every byte means the same, or nearly, in the other sets that have it. It has no modes:
// writing always runs on as in overwrite mode. CLR is the common reading.
#include "link/display/actions.h"
#include "link/display/sets.h"

#include <iterator>

namespace display {
namespace general {

using namespace actions;

constexpr Command kCommands[] = {
    {"\x08", back}, {"\x09", right}, {"\x0A", down}, {"\x0D", carriageReturn}, {"\x0C", clear},
};

// Clear, the upper text without its trailing blanks, CR LF, the lower text: no row is
// written to its end before the last, so the pattern does not depend on a wrap rule.
QByteArray pattern(const QByteArray& upper, const QByteArray& lower) {
    return QByteArray("\x0C") + upper.trimmed() + QByteArray("\x0D\x0A") + lower;
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
