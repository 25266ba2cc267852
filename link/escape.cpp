#include "link/escape.h"

#include <QList>

QString escaped(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (const char32_t c : text.toUcs4()) {
        if (QChar::isPrint(c)) {
            shown += QStringView(QChar::fromUcs4(c));
            continue;
        }
        const QString hex = QString::number(uint(c), 16).toUpper();
        if (c < 0x100)
            shown += QStringLiteral("\\x") + hex.rightJustified(2, QLatin1Char('0'));
        else
            shown += QStringLiteral("\\u") + hex.rightJustified(4, QLatin1Char('0'));
    }
    return shown;
}

QString shown(const QString& text) {
    constexpr int kMost = 200;
    if (text.size() <= kMost) // no more code points than UTF-16 units
        return escaped(text);
    const QList<uint> codes = text.left(2 * kMost + 2).toUcs4();
    if (codes.size() <= kMost)
        return escaped(text);
    const QList<uint> kept = codes.first(kMost);
    return escaped(QString::fromUcs4(reinterpret_cast<const char32_t*>(kept.constData()),
                                     kept.size())) +
           QStringLiteral("\u2026");
}

QString toHex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}
