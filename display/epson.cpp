// Set 4, ESC commands for EPSON: US (0x1F) and ESC (0x1B) begin multi-byte commands, a few
// single control bytes act alone, any other byte from 0x20 up is a character.
//
// Unverified, and read as most read them: CLR and ESC @ leave the cursor home, CAN at the
// start of its row, US B at the start of the lower row; US $ outside the grid is dropped;
// ESC W (windows) is n m and, unless m is 0 or '0', four bytes more, read and not applied;
// ESC = 1, 2 and 3 choose the printer, the display or both, and any other n changes nothing.
// The cursor is hidden at power-on. A character drawn with a period or comma (US . , ;) is
// drawn without them, and the clock does not run.
//
// Characters: PC437 at power-on unless the display's setup memory (--code-table) says
// otherwise (the descriptions disagree); ESC t takes 0 to 5, 16 to 19, and 254 and 255 as a
// blank page, and any other number is reported and keeps the table; ESC R takes 0 to 13 and
// reports any other. The wrap after column 20 is eager unless --wrap late (no description
// states the late one). Beyond the table of the manuals: US v n is read and changes no cell;
// US : stores a macro of at most 80 bytes, which are not shown while it is defined, and US ^
// runs it once at once (its timing is not kept), the next byte clearing the screen; US ( A
// and US ( E are read to their length, and US ( E function 2 resets; DLE n is read and drawn
// nothing, and an n that no description lists is reported; 02 05 up to the next 03 (a
// vendor's set-up frame) is read and reported.
#include "display/actions.h"
#include "display/sets.h"

#include <iterator>

namespace display {
namespace epson {

using namespace actions;

void blink(Context& c) {
    c.screen.setBlink(uchar(c.params[0]));
}

void reversed(Context& c) {
    const char n = c.params[0];
    if (n != 0 && n != 1)
        return refuse(c);
    c.screen.setReversed(n == 1);
}

// US T h m: the screen cleared and a clock from h:m at the right end of the lower row.
void setClock(Context& c) {
    const int h = uchar(c.params[0]), m = uchar(c.params[1]);
    if (h > 23 || m > 59)
        return refuse(c);
    c.reader.setClock(QByteArray::number(100 + h).right(2) + ':' +
                      QByteArray::number(100 + m).right(2));
    c.screen.clear();
    c.screen.draw(1, kColumns - 5, c.reader.clock());
}

void showClock(Context& c) {
    c.screen.draw(1, kColumns - 5, c.reader.clock());
    c.screen.home();
}

// US . n, US , n, US ; n: character n with punctuation, drawn as the character.
void punctuated(Context& c) {
    if (uchar(c.params[0]) < 0x20)
        return refuse(c);
    c.screen.put(c.params[0]);
}

// ESC W n m [x1 y1 x2 y2]: m 1 (or '1') defines window n with four more bytes, m 0 (or '0')
// cancels it.
int window(QByteArrayView p) {
    if (p.size() < 2)
        return int(2 - p.size());
    return p[1] == 0 || p[1] == '0' ? 0 : int(6 - p.size());
}

// ESC t n: the code table by its number on set-4 displays.
void codeTable(Context& c) {
    switch (uchar(c.params[0])) {
    case 0:
        return useTable(c, CodeTable::PC437);
    case 1:
        return useTable(c, CodeTable::Katakana);
    case 2:
        return useTable(c, CodeTable::PC850);
    case 3:
        return useTable(c, CodeTable::PC860);
    case 4:
        return useTable(c, CodeTable::PC863);
    case 5:
        return useTable(c, CodeTable::PC865);
    case 16:
        return useTable(c, CodeTable::WPC1252);
    case 17:
        return useTable(c, CodeTable::PC866);
    case 18:
        return useTable(c, CodeTable::PC852);
    case 19:
        return useTable(c, CodeTable::PC858);
    case 254:
    case 255:
        return useTable(c, CodeTable::Blank);
    }
    useTable(c, std::nullopt);
}

void nationalSet(Context& c) {
    useNational(c, uchar(c.params[0]));
}

// US v n: the ready line; no cell changes.
void readySignal(Context& c) {
    const char n = c.params[0];
    if (n != 0 && n != 1 && n != '0' && n != '1')
        refuse(c);
}

void macroDefinition(Context& c) {
    c.reader.defineMacro("\x1F\x3A", "\x1F\x5E", 80);
}

void macroRun(Context& c) {
    c.reader.runMacro(c.screen, c.sink);
}

// US ( A pL pH ... and US ( E pL pH fn ...: pL + 256 pH bytes follow pH.
int lengthGiven(QByteArrayView p) {
    if (p.size() < 2)
        return int(2 - p.size());
    return int(2 + uchar(p[0]) + 256 * uchar(p[1]) - p.size());
}

// US ( E: user settings; function 2 leaves the setup mode with a software reset.
void userSetting(Context& c) {
    if (c.params.size() > 2 && c.params[2] == 2)
        reset(c);
}

// DLE n: a real-time command for the printer, drawn nothing.
void realTime(Context& c) {
    const int n = uchar(c.params[0]);
    if (!(n <= 8 || n == 0x10 || n == 0x12 || n == 0x14))
        refuse(c);
}

// 02 05 ... 03: a vendor's set-up frame, which no description defines: read to its 03 and
// reported.
int toEtx(QByteArrayView p) {
    if (p.size() > 64)
        return -1;
    return !p.isEmpty() && p.back() == '\x03' ? 0 : 1;
}

constexpr Command kCommands[] = {
    {"\x08", left},
    {"\x09", right},
    {"\x0A", down},
    {"\x0B", home},
    {"\x0C", clear},
    {"\x0D", carriageReturn},
    {"\x18", clearCursorRow},
    {"\x1F\x0A", up},
    {"\x1F\x0D", endOfLine},
    {"\x1F\x42", bottomRow},
    cmd("\x1F\x24", columnRow).params(2),
    {"\x1F\x01", overwrite},
    {"\x1F\x02", verticalScroll},
    {"\x1F\x03", horizontalScroll},
    cmd("\x1F\x43", cursorShown).params(1),
    cmd("\x1F\x58", brightnessLevel).params(1),
    cmd("\x1F\x45", blink).params(1),
    cmd("\x1F\x72", reversed).params(1),
    cmd("\x1F\x54", setClock).params(2),
    {"\x1F\x55", showClock},
    cmd("\x1F\x2E", punctuated).params(1),
    cmd("\x1F\x2C", punctuated).params(1),
    cmd("\x1F\x3B", punctuated).params(1),
    cmd("\x1F\x23", ignore).params(2), // annunciator marks, above the cells
    {"\x1F\x40", clear},               // self test, which ends on a blank screen
    {"\x1B\x40", reset},
    cmd("\x1B\x74", codeTable).params(1),
    cmd("\x1B\x52", nationalSet).params(1),
    cmd("\x1F\x76", readySignal).params(1),
    cmd("\x1F\x3A", macroDefinition),
    cmd("\x1F\x5E", macroRun).params(2),
    cmd("\x1F\x28\x41", ignore).paramsBy(lengthGiven), // displays chained: this one selected
    cmd("\x1F\x28\x45", userSetting).paramsBy(lengthGiven),
    cmd("\x10", realTime).params(1),
    cmd("\x02\x05", refuse).paramsBy(toEtx),
    cmd("\x1B\x25", ignore).params(1), // user-defined characters on or off
    cmd("\x1B\x3F", ignore).params(1), // a user-defined character cancelled
    cmd("\x1B\x26", ignore).paramsBy(userCharacters),
    cmd("\x1B\x3D", select).params(1).evenWhenDeselected(),
    cmd("\x1B\x57", ignore).paramsBy(window),
};

// Reset, overwrite mode, each row addressed and written whole, the lower one first: a set
// that does not read the addresses shows the rows swapped.
QByteArray pattern(const QByteArray& upper, const QByteArray& lower) {
    return QByteArray("\x1B\x40\x1F\x01\x1F\x24\x01\x02") + lower + QByteArray("\x1F\x24\x01\x01") +
           upper;
}

} // namespace epson

const SetRules kEpson{"EPSON",
                      Mode::Overwrite,
                      false,
                      true,
                      {},
                      epson::kCommands,
                      int(std::size(epson::kCommands)),
                      epson::pattern};

} // namespace display
