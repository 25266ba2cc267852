#pragma once

#include "display/display.h"
#include "store/conffile.h"

#include <QString>

// The file that keeps a display's EEPROM across restarts, in INI form:
//
//   [eeprom]
//   code=<digit 0 to 6>
//   scroll=<the scroll data>
//
// The scroll data is its Windows-1252 bytes as UTF-8 text, in double quotes when it has
// outer spaces; a byte with no character there (0x81, 0x8D, 0x8F, 0x90, 0x9D) is written
// "\xNN", and a backslash "\\". Any other backslash is read as itself, as files written
// before the escapes hold it. Every other line of the file is kept as it is.
namespace display::eepromfile {

struct Loaded {
    enum class Problem {
        None,          // read, or missing: a factory-fresh display
        Unreadable,    // the file is there but cannot be read: `why`
        NoCode,        // no code from 0 to 6 in [eeprom] code=
        BadScrollData, // scroll data that the display cannot store
    };
    Eeprom eeprom;
    Problem problem = Problem::None;
    QString why; // Unreadable: what is at the path, or the system's words
    // Whether a save may replace the file: never over one that the load refused, so that a
    // mistyped path loses nothing.
    bool savable() const { return problem == Problem::None; }
};

Loaded load(const QString& path);

// Saves `eeprom`, changing only its two lines of the file, atomically.
[[nodiscard]] ConfFile::SaveError save(const QString& path, const Eeprom& eeprom);

// The scroll data as the file writes it, and back; nothing when the text holds a character
// with no byte, a byte the display does not take, or more than 40 bytes.
QString scrollText(const QByteArray& scrollData);
std::optional<QByteArray> scrollBytes(const QString& text);

} // namespace display::eepromfile
