#include "protocol/frame.h"

#include <QStringList>

namespace frame {

namespace {

// Windows-1252 0x80 to 0x9F; 0 marks the undefined positions.
constexpr char16_t kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

QString codePointName(char32_t code) {
    return QStringLiteral("U+%1").arg(static_cast<uint>(code), 4, 16, QLatin1Char('0')).toUpper();
}

} // namespace

QString commandSetName(int code) {
    for (const CommandSet& set : kCommandSets)
        if (set.digit - '0' == code)
            return QString::fromLatin1(set.name);
    return {};
}

QString codeRange() {
    return QStringLiteral("%1 to %2")
        .arg(QLatin1Char(kCommandSets[0].digit))
        .arg(QLatin1Char(kCommandSets[kCommandSetCount - 1].digit));
}

QByteArray header(char digit) {
    return kStart + kAccessCode.toLatin1() + digit;
}

std::optional<unsigned char> windows1252(char16_t unit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return static_cast<unsigned char>(unit);
    for (int i = 0; i < 32; ++i) {
        if (kHigh[i] != 0 && kHigh[i] == unit)
            return static_cast<unsigned char>(0x80 + i);
    }
    return std::nullopt;
}

QString composed(const QString& text) {
    return text.normalized(QString::NormalizationForm_C);
}

QList<Refusal> refusedCharacters(const QString& typed) {
    const QString text = composed(typed);
    QList<Refusal> refusals;
    int position = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text.at(i).unicode();
        ++position;
        if (QChar::isHighSurrogate(unit) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            const char32_t code = QChar::surrogateToUcs4(unit, text.at(i + 1).unicode());
            refusals.append({position, code, QStringLiteral("no single-byte code")});
            ++i;
            continue;
        }
        const auto byte = windows1252(unit);
        if (!byte)
            refusals.append({position, unit, QStringLiteral("no single-byte code")});
        else if (*byte == uchar(kEnd))
            refusals.append({position, unit, QStringLiteral("the frame's end marker")});
        else if (!isScrollByte(*byte))
            refusals.append({position, unit, QStringLiteral("control character")});
    }
    return refusals;
}

QString describe(const QList<Refusal>& refusals) {
    QStringList lines;
    for (const Refusal& r : refusals) {
        const bool printable = QChar::isPrint(r.code);
        const QString shown =
            printable ? QStringLiteral("\"%1\" ").arg(QString::fromUcs4(&r.code, 1)) : QString();
        const QString where = r.position > 0 ? QStringLiteral("Position %1").arg(r.position)
                                             : QStringLiteral("Command code");
        lines << QStringLiteral("%1: %2%3 (%4)").arg(where, shown, codePointName(r.code), r.why);
    }
    return lines.join(QLatin1Char('\n'));
}

Built build(const QString& typed) {
    Built built;
    const QString commandText = composed(typed);
    if (!commandText.startsWith(kAccessCode))
        built.refusals.append(
            {0, commandText.isEmpty() ? U'\0' : char32_t(commandText.at(0).unicode()),
             QStringLiteral("the text does not start with the access code")});
    const QChar digit =
        commandText.size() >= kHeaderCharacters ? commandText.at(kHeaderCharacters - 1) : QChar();
    if (!isCodeDigit(digit.unicode()))
        built.refusals.append(
            {0, digit.unicode(), QStringLiteral("not a code digit %1").arg(codeRange())});
    const QList<uint> scroll = commandText.mid(kHeaderCharacters).toUcs4();
    built.refusals += refusedCharacters(commandText.mid(kHeaderCharacters));
    if (scroll.size() > kMaxScrollData)
        built.refusals.append({kMaxScrollData + 1, scroll.at(kMaxScrollData),
                               QStringLiteral("the scroll data has %1 characters; at most %2 fit")
                                   .arg(scroll.size())
                                   .arg(kMaxScrollData)});
    if (!built.refusals.isEmpty())
        return built;
    built.bytes.reserve(commandText.size() + 2);
    built.bytes.append(kStart);
    for (const QChar c : commandText)
        built.bytes.append(static_cast<char>(*windows1252(c.unicode())));
    built.bytes.append(kEnd);
    return built;
}

std::optional<int> codeOf(QStringView text) {
    if (text.size() != 1 || !isCodeDigit(text.at(0).unicode()))
        return std::nullopt;
    return text.at(0).unicode() - u'0';
}

QString fromWindows1252(const QByteArray& bytes) {
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const uchar b = uchar(c);
        if (b < 0x80 || b >= 0xA0)
            text.append(QChar(char16_t(b)));
        else
            text.append(QChar(kHigh[b - 0x80] ? kHigh[b - 0x80] : char16_t(b)));
    }
    return text;
}

} // namespace frame
