#pragma once

#include <QByteArray>
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
