#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// `text` with every character that is not printable written as an escape ("\x1B",
// "\u00AD"), so that it shows as one line and drives no terminal.
QString escaped(const QString& text);

// `text` as escaped() shows it, cut after 200 characters with "\u2026": for echoing a value
// that came from outside (a path, an argument, a settings line) in a message.
QString shown(const QString& text);

// "1B 6B 71 ...": upper-case hex bytes separated by single spaces, as frames are shown and
// recorded.
QString toHex(const QByteArray& bytes);

// Appends `utf8` to `out` as a JSON string, quotes included: '"', '\\' and every control
// character (C0, DEL and C1) written as escapes, so that it drives no terminal.
void appendJsonString(QByteArray& out, QByteArrayView utf8);

// Compact JSON text (UTF-8) with DEL and the C1 controls (U+0080 to U+009F) written as \u
// escapes too, as the JSON writer leaves them raw: every control character is then escaped,
// and a line of it drives no terminal. Such characters occur only within strings, so the
// text stays the same JSON.
QByteArray terminalSafeJson(const QByteArray& json);
