#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <iterator>
#include <optional>

// The configuration frame that the display stores in its EEPROM:
//
//   offset 0        0x1B (ESC)
//   offset 1 .. n   one byte per character of the command text, in order
//   offset n + 1    0xFF, the end marker
//
// The command text is the access code (kAccessCode, 7 characters), the command-set code
// digit (kCommandSets, sent as its character code) and the scroll data (0 to kMaxScrollData
// characters), so a frame is 10 + k bytes for k characters of scroll data:
//
//   offset 0             kStart
//   offset 1 .. 7        the access code                     (kAccessCodeOffset)
//   offset 8             the code digit                      (kCodeOffset)
//   offset 9 .. 8 + k    the scroll data, one byte each      (kScrollOffset)
//   offset 9 + k         kEnd
//
// There is no length field, no checksum and no reply.

namespace frame {

inline constexpr char kStart = '\x1B';
inline constexpr char kEnd = '\xFF';
inline constexpr int kMaxScrollData = 40;
inline const QString kAccessCode = QStringLiteral("kq5172@");
inline constexpr int kHeaderCharacters = 8; // the access code and the code digit
inline constexpr int kAccessCodeOffset = 1;
inline constexpr int kCodeOffset = kAccessCodeOffset + kHeaderCharacters - 1;
inline constexpr int kScrollOffset = kCodeOffset + 1;
// The bytes of a frame around k bytes of scroll data: the start, the header and the end.
inline constexpr int kFrameOverhead = 1 + kHeaderCharacters + 1;

// Whether the display takes byte `b` as scroll data: anything but a control byte (below
// 0x20, and 0x7F) and the end marker.
constexpr bool isScrollByte(unsigned char b) {
    return b >= 0x20 && b != 0x7F && b != 0xFF;
}

// The frame's bytes before the scroll data, for the code digit `digit`.
QByteArray header(char digit);

// The command sets that the display knows, by their code digit: the one table of them.
struct CommandSet {
    char digit;       // '0' to '6', sent as 0x30 to 0x36
    const char* name; // as the display's documentation names it, "AEDEX_Command"
};
inline constexpr CommandSet kCommandSets[] = {
    {'0', "General_Command"},      {'1', "AEDEX_Command"},         {'2', "UTC_standard_Command"},
    {'3', "UTC_enhanced_Command"}, {'4', "ESC_Command for EPSON"}, {'5', "CD7220 Command"},
    {'6', "PD3000 Command"},
};
inline constexpr int kCommandSetCount = int(std::size(kCommandSets));

// Whether `c` is a command-set code digit.
constexpr bool isCodeDigit(char16_t c) {
    for (const CommandSet& set : kCommandSets)
        if (c == char16_t(set.digit))
            return true;
    return false;
}
// The code (0 for "0") that `text` names when it is one code digit, else nothing.
std::optional<int> codeOf(QStringView text);
// The name of the command set with code `code` (0 for '0'), such as "AEDEX_Command"; empty
// for a code that names none.
QString commandSetName(int code);
// The code digits as a range for messages: "0 to 6".
QString codeRange();

// The Windows-1252 byte of one UTF-16 code unit, or nothing when the code page has none
// (among them the five undefined positions 0x81, 0x8D, 0x8F, 0x90 and 0x9D, U+0080 to
// U+009F, and surrogates).
std::optional<unsigned char> windows1252(char16_t unit);

// One character that the display must not be sent.
struct Refusal {
    // 1 for the first character of the scroll data (or of the text given to
    // refusedCharacters), counted in characters as typed (code points, so that a character
    // outside the Basic Multilingual Plane counts once); 0 for the code digit or the access
    // code of a command text.
    int position = 0;
    char32_t code = 0; // the character, a whole code point where a surrogate pair forms one
    QString why;       // "control character", "no single-byte code", "the frame's end marker"
};

// `text` in Unicode normalisation form C, as it is sent: a letter followed by a combining
// accent becomes the one accented letter that the code page has ("e" and U+0301 become
// "é").
QString composed(const QString& text);

// Every character of composed(`text`) that cannot be sent as scroll data: one with no
// Windows-1252 byte, one that encodes to 0xFF (it would end the frame early), and control
// characters (below 0x20, and 0x7F; they would drive the display rather than show). Empty
// when the whole text can be sent.
QList<Refusal> refusedCharacters(const QString& text);

// One sentence per refusal, naming the character and its position, for the operator.
QString describe(const QList<Refusal>& refusals);

// A frame, or why there is none.
struct Built {
    QByteArray bytes;        // empty when refused
    QList<Refusal> refusals; // empty when built
    explicit operator bool() const { return refusals.isEmpty(); }
    const QByteArray& operator*() const { return bytes; }
    const QByteArray* operator->() const { return &bytes; }
};

// The frame for a command text: the access code, one code digit '0' to '6', and at most 40
// characters of scroll data (after composed()) that refusedCharacters() accepts. Anything else is
// refused whole, with every reason: a frame is never sent with a character replaced or dropped, nor
// with a code or a length that the display does not take. A scroll data longer than 40
// characters is refused once, at its 41st character.
Built build(const QString& commandText);

// The characters of Windows-1252 bytes. Each of the five undefined bytes becomes the C1
// control character of the same number (0x81 becomes U+0081), which escaped() shows as
// "\x81".
QString fromWindows1252(const QByteArray& bytes);

} // namespace frame
