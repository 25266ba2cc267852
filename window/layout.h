#pragma once

#include <QList>
#include <QString>

#include <array>

class QWidget;

// The window's fixed layout. Geometry is in twips: 1440 to the inch, 15 to a pixel at
// 96 dpi. Qt's device-independent pixels scale it on high-dpi screens.

enum class ControlKind { GroupBox, OptionButton, Label, TextBox, PushButton };

struct ControlSpec {
    const char* name;
    int index; // position in its control array; -1 for a control that is in none
    ControlKind kind;
    const char* parent; // nullptr: the window itself
    const char* caption;
    int left, top, width, height; // twips, from the parent's top-left corner
    int tab;                      // position in the tab order
};

inline constexpr int kClientWidthTwips = 7170;
inline constexpr int kClientHeightTwips = 6120;

// Rows in stacking order, bottom first: a later row is drawn over an earlier one that it
// overlaps, so Frame3 lies under the Send buttons and the prompts under their text boxes.
// clang-format off
inline constexpr std::array<ControlSpec, 23> kControls{{
    {"Frame1",    -1, ControlKind::GroupBox,     nullptr,  "Port",                                                      480,  240, 1335, 2175,  0},
    {"Opt_Com",   0,  ControlKind::OptionButton, "Frame1", "Com1",                                                      240,  240,  855,  255,  2},
    {"Opt_Com",   1,  ControlKind::OptionButton, "Frame1", "Com2",                                                      240,  600,  855,  255,  3},
    {"Opt_Com",   2,  ControlKind::OptionButton, "Frame1", "Com3",                                                      240,  960,  855,  255,  4},
    {"Opt_Com",   3,  ControlKind::OptionButton, "Frame1", "Com4",                                                      240, 1320,  855,  255,  5},
    {"Opt_Com",   4,  ControlKind::OptionButton, "Frame1", "Com5",                                                      240, 1680,  855,  255,  1},
    {"Frame2",    -1, ControlKind::GroupBox,     nullptr,  "Baud",                                                      480, 2640, 1335,  975,  6},
    {"Opt_speed", 0,  ControlKind::OptionButton, "Frame2", "9600bps",                                                   120,  240,  975,  255,  7},
    {"Opt_speed", 1,  ControlKind::OptionButton, "Frame2", "19200bps",                                                  120,  600, 1095,  255,  8},
    {"Frame3",    -1, ControlKind::GroupBox,     nullptr,  "Command",                                                  2160,  240, 4575, 5295, 11},
    {"Label1",    0,  ControlKind::Label,        "Frame3", "( 0 ) General_Command  ",                                   600,  360, 3615,  255, 12},
    {"Label1",    1,  ControlKind::Label,        "Frame3", "( 1 ) AEDEX_Command",                                       600,  720, 3615,  255, 13},
    {"Label1",    2,  ControlKind::Label,        "Frame3", "( 2 ) UTC_standard_Command",                                600, 1080, 3615,  255, 14},
    {"Label1",    3,  ControlKind::Label,        "Frame3", "( 3 ) UTC_enhanced_Command",                                600, 1440, 3615,  255, 15},
    {"Label1",    4,  ControlKind::Label,        "Frame3", "( 4 ) ESC_Command for EPSON",                               600, 1800, 3615,  255, 16},
    {"Label1",    5,  ControlKind::Label,        "Frame3", "( 5 ) CD7220 Command ",                                     600, 2160, 3615,  255, 21},
    {"Label1",    8,  ControlKind::Label,        "Frame3", "( 6 ) PD3000 Command",                                      600, 2520, 3615,  255, 22},
    {"Label1",    6,  ControlKind::Label,        "Frame3", "Please Input Command_Code Number :",                        600, 3000, 3615,  255, 18},
    {"Ink",       -1, ControlKind::TextBox,      "Frame3", "",                                                         3480, 2880,  735,  375, 17},
    {"Label1",    7,  ControlKind::Label,        "Frame3", "<< Please Input Scroll Data ( Max 40 Byte for ASCII ) >>",  240, 3480, 4215,  375, 19},
    {"Text1",     -1, ControlKind::TextBox,      "Frame3", "",                                                          480, 3720, 3735,  375, 20},
    {"Send",      0,  ControlKind::PushButton,   nullptr,  "Write to EEPROM(Y)",                                       3360, 4440, 2415,  375, 10},
    {"Send",      1,  ControlKind::PushButton,   nullptr,  "END(N)",                                                   3360, 4920, 2415,  375,  9},
}};
// clang-format on

// Device-independent pixels for a length in twips.
constexpr int twipsToPixels(int twips) {
    return (twips + 7) / 15;
}

// Creates every control of kControls under `window`, in stacking order, sets their tab
// order, and chooses the largest font, no larger than the application's, at which every
// caption fits its control. Each widget carries the row's name as its objectName and the
// array index as the property "index". Returns the widgets in table order.
QList<QWidget*> buildControls(QWidget* window);

// Whether every caption of `controls` is fully visible at their current font.
bool captionsFit(const QList<QWidget*>& controls);
