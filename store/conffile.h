#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A settings file in INI form, read and edited line by line: an edit changes one line (or
// adds one) and leaves every other byte as it was, comments, order, a byte-order mark and
// line endings included.
//
// Lines are "[section]", "key = value", comments starting with '#' or ';', and blank lines.
// Section and key names are compared without regard to case; spaces around names, around
// '=' and around the value are not part of them, and a value in double quotes is read
// without the quotes. A UTF-8 byte-order mark is allowed at the start. Any other line (no
// '=', invalid UTF-8, a key with nothing before '=') is a bad line, kept as it is.
class ConfFile {
public:
    enum class State {
        Missing,    // nothing at the path: no settings
        Read,       // a regular file, read whole
        Unreadable, // something is there but cannot be used; see why()
    };
    struct Entry {
        QString section; // lower case; empty before the first [section]
        QString key;     // as written
        QString value;   // may hold any character, NUL and control characters included
        int line = 0;    // 1 for the first line of the file
    };
    struct BadLine {
        QString section; // lower case, as for an entry
        QString text;    // the line as far as it could be decoded
        int line = 0;
        QString why;
    };

    // Reads `path` without ever blocking: a FIFO, a device, a directory, a dangling symbolic
    // link, a loop and a file over 1 MiB are Unreadable, with the reason.
    static ConfFile read(const QString& path);

    State state() const { return m_state; }
    QString why() const { return m_why; } // what is at the path, when Unreadable
    const QList<Entry>& entries() const { return m_entries; }
    const QList<BadLine>& badLines() const { return m_bad; }

    // Gives `key` in `section` the value `value`: changes the last line that sets it, or adds
    // a line after the section's last entry, or adds the section at the end of the file.
    void set(const QString& section, const QString& key, const QString& value);
    // Removes every line that sets `key` in `section`.
    void remove(const QString& section, const QString& key);

    QByteArray bytes() const { return m_bytes; }

    // Why a save failed: the path concerned (the final target of links, or its folder) and
    // the system's words or what is there ("a FIFO"); an empty error on success.
    struct SaveError {
        QString path;
        QString error;
        bool ok() const { return error.isEmpty(); }
    };
    // Writes the bytes to the path atomically (a new file in the same directory, named only
    // once it is whole, then a rename), creating the directory when needed. Symbolic links are
    // followed to their final target only where the kernel would follow them (not another
    // user's link in a sticky folder that everyone may write to), and never to make a file
    // that is not there. A file that read() found Unreadable is never saved over. Never opens
    // anything but a regular file; nothing is written on failure. A temporary file left by a
    // save that was killed is removed by the next one. With `flush`, the new file reaches the
    // disk before the rename; without, a power cut soon after the save may leave the file as
    // it was before (never a part of either).
    [[nodiscard]] SaveError save(bool flush = true) const;

private:
    void parse();
    // The file's lines, each with its line ending (the last may have none).
    QList<QByteArray> lines() const;

    QString m_path;
    State m_state = State::Missing;
    QString m_why;
    QByteArray m_bytes;
    QList<Entry> m_entries;
    QList<BadLine> m_bad;
};
