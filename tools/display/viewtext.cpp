#include "tools/display/view.h"

#include "display/codetable.h"

#include "protocol/escape.h"
#include "protocol/frame.h"

namespace viewtext {

namespace {

// "1 byte", "15 bytes".
QString byteCount(const QByteArray& bytes) {
    return bytes.size() == 1 ? QStringLiteral("1 byte")
                             : QStringLiteral("%1 bytes").arg(bytes.size());
}

QString quoted(const QString& s) {
    return QLatin1Char('"') + escaped(s) + QLatin1Char('"');
}

} // namespace

QString row(const display::Screen& screen, int row) {
    return display::glyphs(screen, row);
}

QString modeName(display::Mode mode) {
    switch (mode) {
    case display::Mode::Overwrite:
        return QStringLiteral("overwrite");
    case display::Mode::VerticalScroll:
        return QStringLiteral("vertical scroll");
    case display::Mode::HorizontalScroll:
        return QStringLiteral("horizontal scroll");
    }
    return {};
}

QStringList lines(const View::Event& e, bool hex) {
    if (e.kind == View::Event::Kind::Ignored)
        return {QStringLiteral("Ignored by command set %1: %2, %3")
                    .arg(e.set)
                    .arg(toHex(e.bytes.left(64)) +
                             (e.bytes.size() > 64 ? QStringLiteral(" …") : QString()),
                         byteCount(e.bytes))};
    if (e.kind == View::Event::Kind::Depends)
        return {QStringLiteral("Depends on the %1 from byte %2: %3 shows |%4|%5|")
                    .arg(e.on == View::Event::On::Wrap ? QStringLiteral("wrap")
                                                       : QStringLiteral("code table"))
                    .arg(e.offset)
                    .arg(e.on == View::Event::On::Wrap
                             ? QStringLiteral("the other wrap")
                             : QStringLiteral("another power-on code table"),
                         e.lines.value(0), e.lines.value(1))};
    const FrameDecoder::Report& r = e.frame;
    QStringList text;
    if (r.valid)
        text << QStringLiteral("Frame: command set %1 %2, scroll data %3, %4")
                    .arg(r.code)
                    .arg(frame::commandSetName(r.code), quoted(r.scrollData), byteCount(r.bytes))
             << QStringLiteral("Stores: command set %1, scroll data %2")
                    .arg(r.code)
                    .arg(quoted(r.scrollData));
    else
        text << QStringLiteral("Malformed: %1, %2").arg(r.problem, byteCount(r.bytes));
    if (hex)
        text << QStringLiteral("  ") + toHex(r.bytes);
    return text;
}

} // namespace viewtext
