#include "display/eepromfile.h"

#include "protocol/frame.h"

namespace display::eepromfile {

namespace {

const QString kSection = QStringLiteral("eeprom");

} // namespace

QString scrollText(const QByteArray& scrollData) {
    QString text;
    const QString characters = frame::fromWindows1252(scrollData);
    for (const QChar c : characters) {
        if (c == u'\\')
            text += QStringLiteral("\\\\");
        else if (c.unicode() >= 0x80 && c.unicode() < 0xA0)
            text += QStringLiteral("\\x") + QString::number(c.unicode(), 16).toUpper();
        else
            text += c;
    }
    return text;
}

std::optional<QByteArray> scrollBytes(const QString& text) {
    const QString all = frame::composed(text);
    QByteArray bytes;
    for (qsizetype i = 0; i < all.size(); ++i) {
        if (all.at(i) == u'\\' && all.mid(i + 1, 1) == QLatin1String("\\")) {
            bytes += '\\';
            ++i;
            continue;
        }
        if (all.at(i) == u'\\' && all.mid(i + 1, 1) == QLatin1String("x")) {
            bool ok = false;
            const uint b = all.mid(i + 2, 2).toUInt(&ok, 16);
            if (ok && all.mid(i + 2, 2).size() == 2) {
                bytes += char(b);
                i += 3;
                continue;
            }
        }
        std::optional<unsigned char> b = frame::windows1252(all.at(i).unicode());
        const char16_t u = all.at(i).unicode();
        if (!b && u >= 0x80 && u < 0xA0 &&
            frame::fromWindows1252(QByteArray(1, char(u))) == all.at(i))
            b = uchar(u); // an undefined byte as files written before the escapes hold it
        if (!b)
            return std::nullopt;
        bytes += char(*b);
    }
    if (bytes.size() > frame::kMaxScrollData)
        return std::nullopt;
    for (const char b : bytes)
        if (!frame::isScrollByte(uchar(b)))
            return std::nullopt;
    return bytes;
}

Loaded load(const QString& path) {
    const ConfFile file = ConfFile::read(path);
    Loaded loaded;
    if (file.state() == ConfFile::State::Missing)
        return loaded;
    if (file.state() == ConfFile::State::Unreadable) {
        loaded.problem = Loaded::Problem::Unreadable;
        loaded.why = file.why();
        return loaded;
    }
    std::optional<QString> code, scroll;
    for (const ConfFile::Entry& e : file.entries()) {
        if (e.section != kSection)
            continue;
        if (e.key.compare(QLatin1String("code"), Qt::CaseInsensitive) == 0)
            code = e.value;
        else if (e.key.compare(QLatin1String("scroll"), Qt::CaseInsensitive) == 0)
            scroll = e.value;
    }
    if (!code && !scroll && file.entries().isEmpty() && file.badLines().isEmpty() &&
        file.bytes().trimmed().isEmpty())
        return loaded; // an empty file, as made by touch: a factory-fresh display
    const std::optional<int> set = code ? frame::codeOf(*code) : std::nullopt;
    if (!set) {
        loaded.problem = Loaded::Problem::NoCode;
        return loaded;
    }
    const std::optional<QByteArray> bytes = scrollBytes(scroll.value_or(QString()));
    if (!bytes) {
        loaded.problem = Loaded::Problem::BadScrollData;
        return loaded;
    }
    loaded.eeprom = {*set, *bytes};
    return loaded;
}

ConfFile::SaveError save(const QString& path, const Eeprom& eeprom) {
    ConfFile file = ConfFile::read(path);
    file.set(kSection, QStringLiteral("code"), QString::number(eeprom.code));
    file.set(kSection, QStringLiteral("scroll"), scrollText(eeprom.scrollData));
    return file.save();
}

} // namespace display::eepromfile
