#pragma once

// The rules of each command set, each defined in a file of its own; frame.h's table of
// command sets is the one list of them, by code digit.
namespace display {
struct SetRules;
extern const SetRules kGeneral;
extern const SetRules kAedex;
extern const SetRules kUtcStandard;
extern const SetRules kUtcEnhanced;
extern const SetRules kEpson;
extern const SetRules kCd7220;
extern const SetRules kPd3000;
} // namespace display
