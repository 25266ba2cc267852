#include "display/codetable.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <iterator>
#include <memory>

namespace display {

namespace {

struct TableRow {
    CodeTable table;
    const char* name;  // as --code-table takes it
    const char* iconv; // the converter's name; null: none
};
constexpr TableRow kTables[] = {
    {CodeTable::PC437, "PC437", "IBM437"}, {CodeTable::Katakana, "KATAKANA", nullptr},
    {CodeTable::PC850, "PC850", "IBM850"}, {CodeTable::PC852, "PC852", "IBM852"},
    {CodeTable::PC858, "PC858", "IBM858"}, {CodeTable::PC860, "PC860", "IBM860"},
    {CodeTable::PC863, "PC863", "IBM863"}, {CodeTable::PC865, "PC865", "IBM865"},
    {CodeTable::PC866, "PC866", "IBM866"}, {CodeTable::WPC1252, "WPC1252", "CP1252"},
    {CodeTable::Blank, "BLANK", nullptr},
};

constexpr char32_t kNone = 0xFFFD;

// The national sets' replacements, by set, for the twelve positions in kNationalBytes; 0 keeps
// the ASCII character.
constexpr unsigned char kNationalBytes[12] = {0x23, 0x24, 0x40, 0x5B, 0x5C, 0x5D,
                                              0x5E, 0x60, 0x7B, 0x7C, 0x7D, 0x7E};
constexpr char32_t kNational[kNationalSets][12] = {
    {},                                                                    // 0 USA
    {0, 0, U'à', U'°', U'ç', U'§', 0, 0, U'é', U'ù', U'è', U'¨'},          // 1 France
    {0, 0, U'§', U'Ä', U'Ö', U'Ü', 0, 0, U'ä', U'ö', U'ü', U'ß'},          // 2 Germany
    {U'£'},                                                                // 3 UK
    {0, 0, 0, U'Æ', U'Ø', U'Å', 0, 0, U'æ', U'ø', U'å', 0},                // 4 Denmark I
    {0, U'¤', U'É', U'Ä', U'Ö', U'Å', U'Ü', U'é', U'ä', U'ö', U'å', U'ü'}, // 5 Sweden
    {0, 0, 0, U'°', 0, U'é', 0, U'ù', U'à', U'ò', U'è', U'ì'},             // 6 Italy
    {U'₧', 0, 0, U'¡', U'Ñ', U'¿', 0, 0, U'¨', U'ñ', 0, 0},                // 7 Spain I
    {0, 0, 0, 0, U'¥', 0, 0, 0, 0, 0, 0, 0},                               // 8 Japan
    {0, U'¤', U'É', U'Æ', U'Ø', U'Å', U'Ü', U'é', U'æ', U'ø', U'å', U'ü'}, // 9 Norway
    {0, 0, U'É', U'Æ', U'Ø', U'Å', U'Ü', U'é', U'æ', U'ø', U'å', U'ü'},    // 10 Denmark II
    {0, 0, U'á', U'¡', U'Ñ', U'¿', U'é', 0, U'í', U'ñ', U'ó', U'ú'},       // 11 Spain II
    {0, 0, U'á', U'¡', U'Ñ', U'¿', U'é', U'ü', U'í', U'ñ', U'ó', U'ú'},    // 12 Latin America
    {0, 0, 0, 0, U'₩', 0, 0, 0, 0, 0, 0, 0},                               // 13 Korea
};

// Bytes 0x80 to 0xFF of `table`, converted once.
const std::array<char32_t, 128>& upperHalf(CodeTable table) {
    static std::array<std::array<char32_t, 128>, std::size(kTables)> halves{};
    static std::array<bool, std::size(kTables)> made{};
    const size_t t = size_t(table);
    if (made[t])
        return halves[t];
    made[t] = true;
    std::array<char32_t, 128>& half = halves[t];
    half.fill(kNone);
    if (table == CodeTable::Katakana) {
        for (int b = 0xA1; b <= 0xDF; ++b)
            half[size_t(b - 0x80)] = char32_t(0xFF61 + (b - 0xA1));
        return half;
    }
    if (table == CodeTable::Blank) {
        half.fill(U' ');
        return half;
    }
    const iconv_t cd = ::iconv_open("UTF-32LE", kTables[t].iconv);
    if (cd == iconv_t(-1))
        return half;
    for (int b = 0x80; b <= 0xFF; ++b) {
        char in = char(b);
        char32_t out = 0;
        char* inPtr = &in;
        char* outPtr = reinterpret_cast<char*>(&out);
        size_t inLeft = 1, outLeft = sizeof out;
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != size_t(-1) && outLeft == 0 &&
            !(out >= 0x80 && out < 0xA0))
            half[size_t(b - 0x80)] = out;
    }
    ::iconv_close(cd);
    return half;
}

} // namespace

std::optional<CodeTable> codeTableNamed(QStringView name) {
    for (const TableRow& row : kTables)
        if (row.table != CodeTable::Blank &&
            name.compare(QLatin1String(row.name), Qt::CaseInsensitive) == 0)
            return row.table;
    return std::nullopt;
}

QString codeTableName(CodeTable table) {
    return QLatin1String(kTables[size_t(table) % std::size(kTables)].name);
}

QStringList codeTableNames() {
    QStringList names;
    for (const TableRow& row : kTables)
        if (row.table != CodeTable::Blank)
            names << QLatin1String(row.name);
    return names;
}

char32_t glyph(unsigned char byte, unsigned char style) {
    if (byte >= 0x80)
        return upperHalf(
            CodeTable(qMin(int(tableOf(style)), int(std::size(kTables)) - 1)))[size_t(byte - 0x80)];
    if (byte < 0x20)
        return kNone;
    if (byte == 0x7F)
        return U'\u2302';
    const int national = nationalOf(style);
    for (int i = 0; national > 0 && national < kNationalSets && i < 12; ++i)
        if (kNationalBytes[i] == byte && kNational[national][i] != 0)
            return kNational[national][i];
    return byte;
}

namespace {
Utf8Glyph toUtf8(char32_t c) {
    Utf8Glyph u{};
    if (c < 0x80) {
        u = {1, char(c)};
    } else if (c < 0x800) {
        u = {2, char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))};
    } else if (c < 0x10000) {
        u = {3, char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
    } else {
        u = {4, char(0xF0 | (c >> 18)), char(0x80 | ((c >> 12) & 0x3F)),
             char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
    }
    return u;
}
} // namespace

const std::array<Utf8Glyph, 256>& utf8Glyphs(unsigned char style) {
    // Every style's 256 glyphs, made when the style is first drawn.
    static std::array<std::unique_ptr<std::array<Utf8Glyph, 256>>, 256> made;
    std::unique_ptr<std::array<Utf8Glyph, 256>>& table = made[style];
    if (Q_UNLIKELY(!table)) {
        table = std::make_unique<std::array<Utf8Glyph, 256>>();
        for (int b = 0; b < 256; ++b)
            (*table)[size_t(b)] = toUtf8(glyph(uchar(b), style));
    }
    return *table;
}

void appendGlyphs(QByteArray& out, const Screen& screen, int row) {
    const Screen::Row& bytes = screen.row(row);
    const Screen::Styles& styles = screen.styles(row);
    const qsizetype at = out.size();
    out.resize(at + 4 * kColumns + 1); // the last glyph's copy takes 4 bytes whatever its length
    char* p = out.data() + at;
    for (int c = 0; c < kColumns; ++c) {
        const Utf8Glyph& g = utf8Glyphs(styles[size_t(c)])[uchar(bytes[size_t(c)])];
        std::memcpy(p, g.data() + 1, 4);
        p += g[0];
    }
    out.resize(p - out.constData());
}

QString glyphs(const Screen& screen, int row) {
    const Screen::Row& bytes = screen.row(row);
    const Screen::Styles& styles = screen.styles(row);
    std::array<char16_t, 2 * kColumns> units;
    size_t n = 0;
    for (int c = 0; c < kColumns; ++c) {
        const char32_t g = glyph(uchar(bytes[size_t(c)]), styles[size_t(c)]);
        if (QChar::requiresSurrogates(g)) {
            units[n++] = QChar::highSurrogate(g);
            units[n++] = QChar::lowSurrogate(g);
        } else {
            units[n++] = char16_t(g);
        }
    }
    return QString(reinterpret_cast<const QChar*>(units.data()), qsizetype(n));
}

} // namespace display
