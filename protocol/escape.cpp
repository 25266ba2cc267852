#include "protocol/escape.h"

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

namespace {
void appendControl(QByteArray& out, uint code) {
    static const char hex[] = "0123456789abcdef";
    const char escape[] = {'\\', 'u', '0', '0', hex[code >> 4], hex[code & 0x0F]};
    out.append(escape, sizeof escape);
}
} // namespace

void appendJsonString(QByteArray& out, QByteArrayView utf8) {
    out += '"';
    qsizetype copied = 0;
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const uchar b = uchar(utf8[i]);
        const bool c1 = b == 0xC2 && i + 1 < utf8.size() && uchar(utf8[i + 1]) < 0xA0;
        if (b >= 0x20 && b != 0x7F && b != '"' && b != '\\' && !c1)
            continue;
        out.append(utf8.data() + copied, i - copied);
        if (b == '"' || b == '\\') {
            out += '\\';
            out += char(b);
        } else {
            appendControl(out, c1 ? uchar(utf8[++i]) : b);
        }
        copied = i + 1;
    }
    out.append(utf8.data() + copied, utf8.size() - copied);
    out += '"';
}

QByteArray terminalSafeJson(const QByteArray& json) {
    QByteArray safe;
    qsizetype copied = 0;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const uchar b = uchar(json.at(i));
        const bool del = b == 0x7F;
        const bool c1 = b == 0xC2 && i + 1 < json.size() && uchar(json.at(i + 1)) < 0xA0 &&
                        uchar(json.at(i + 1)) >= 0x80;
        if (!del && !c1)
            continue;
        if (safe.isEmpty())
            safe.reserve(json.size() + 16);
        safe.append(json.constData() + copied, i - copied);
        appendControl(safe, del ? 0x7F : uchar(json.at(i + 1)));
        i += del ? 0 : 1;
        copied = i + 1;
    }
    if (copied == 0)
        return json;
    safe.append(json.constData() + copied, json.size() - copied);
    return safe;
}
