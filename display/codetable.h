#pragma once

#include "display/screen.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <optional>

// The characters that a display draws for its bytes: a code table for 0x80 to 0xFF and a
// national set that replaces up to twelve ASCII positions (0x23 0x24 0x40 0x5B to 0x5E 0x60
// 0x7B to 0x7E). The two are chosen independently and make a cell's style: the table in the
// low four bits, the national set (0 USA to 13 Korea, as ESC R numbers them) in the high four.
//
// The code tables' characters come from the C library's converters (iconv), byte by byte;
// Katakana is JIS X 0201's half-width katakana for 0xA1 to 0xDF. A byte that a table leaves
// undefined (Katakana outside 0xA1 to 0xDF, the five holes of Windows-1252, every byte of the
// blank page) draws as U+FFFD, and so does a control byte; 0x7F draws as U+2302, the house
// glyph of the PC fonts.
namespace display {

enum class CodeTable : unsigned char {
    PC437,
    Katakana,
    PC850,
    PC852,
    PC858,
    PC860,
    PC863,
    PC865,
    PC866,
    WPC1252,
    Blank, // set 4's pages 254 and 255: a space for every byte from 0x80
};

constexpr unsigned char styleOf(CodeTable table, int national = 0) {
    return static_cast<unsigned char>(static_cast<int>(table) | (national << 4));
}
constexpr CodeTable tableOf(unsigned char style) {
    return static_cast<CodeTable>(style & 0x0F);
}
constexpr int nationalOf(unsigned char style) {
    return style >> 4;
}
inline constexpr int kNationalSets = 14;

// The table that a name of --code-table gives ("PC437", "KATAKANA", ..., "WPC1252"), without
// regard to case; nothing for another name.
std::optional<CodeTable> codeTableNamed(QStringView name);
QString codeTableName(CodeTable table);
// Every name, in the order of the enum (without the blank page).
QStringList codeTableNames();

// The character drawn for `byte` in `style`.
char32_t glyph(unsigned char byte, unsigned char style);
// The character drawn for `byte` in `style`, as UTF-8 (1 to 4 bytes). The glyphs of a style
// are converted on its first use, so this is for one thread at a time.
// A glyph as UTF-8: its length, then its bytes.
using Utf8Glyph = std::array<char, 5>;
const std::array<Utf8Glyph, 256>& utf8Glyphs(unsigned char style);
inline QByteArrayView utf8Glyph(unsigned char byte, unsigned char style) {
    const Utf8Glyph& g = utf8Glyphs(style)[byte];
    return QByteArrayView(g.data() + 1, g[0]);
}
// Row `row` of `screen` as its glyphs, 20 characters.
QString glyphs(const Screen& screen, int row);
// The same as UTF-8, appended to `out`.
void appendGlyphs(QByteArray& out, const Screen& screen, int row);

} // namespace display
