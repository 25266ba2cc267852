#include "tools/display/view.h"

#include "display/codetable.h"

#include "protocol/escape.h"
#include "protocol/frame.h"

namespace viewtext {

namespace {

// "1 byte", "15 bytes".
QString byteCount(qint64 n) {
    return n == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(n);
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
                         byteCount(e.bytes.size()))};
    if (e.kind == View::Event::Kind::Depends)
        return {QStringLiteral("Depends on the %1 from byte %2: %3 shows |%4|%5|")
                    .arg(e.on == View::Event::On::Wrap ? QStringLiteral("wrap")
                                                       : QStringLiteral("code table"))
                    .arg(e.offset)
                    .arg(e.on == View::Event::On::Wrap
                             ? QStringLiteral("the other wrap")
                             : QStringLiteral("another power-on code table"),
                         row(e.screen, 0), row(e.screen, 1))};
    const FrameDecoder::Report& r = e.frame;
    QStringList text;
    if (r.valid)
        text << QStringLiteral("Frame: command set %1 %2, scroll data %3, %4")
                    .arg(r.code)
                    .arg(frame::commandSetName(r.code), quoted(r.scrollData),
                         byteCount(r.bytes.size()))
             << QStringLiteral("Stores: command set %1, scroll data %2")
                    .arg(r.code)
                    .arg(quoted(r.scrollData));
    else
        text << QStringLiteral("Malformed: %1, %2").arg(r.problem, byteCount(r.bytes.size()));
    if (hex)
        text << QStringLiteral("  ") + toHex(r.bytes);
    return text;
}

QStringList identification(const QList<display::SetReading>& ranked) {
    QStringList text{
        QStringLiteral("code  set                    not understood  depends  screen")};
    for (const display::SetReading& r : ranked)
        text << QStringLiteral("%1     %2 %3  %4  |%5|%6|")
                    .arg(r.set)
                    .arg(frame::commandSetName(r.set).leftJustified(22))
                    .arg(r.notUnderstood, 14)
                    .arg(r.dependences, 7)
                    .arg(escaped(r.lines.value(0)), escaped(r.lines.value(1)));
    const QList<display::SetReading> tied = display::best(ranked);
    const display::SetReading& first = tied.first();
    const QString name =
        QStringLiteral("code %1 (%2)").arg(first.set).arg(frame::commandSetName(first.set));
    if (first.notUnderstood > 0) {
        text << QStringLiteral("No code understands every byte: %1 comes closest, with %2 not "
                               "understood.")
                    .arg(name)
                    .arg(byteCount(first.notUnderstood));
        return text;
    }
    QStringList codes;
    bool sameScreen = true;
    for (const display::SetReading& r : tied) {
        codes << QString::number(r.set);
        sameScreen = sameScreen && r.lines == first.lines;
    }
    if (tied.size() == 1)
        text << QStringLiteral("Write %1: every byte understood.").arg(name);
    else if (sameScreen)
        text << QStringLiteral("Write code %1: every byte understood, and each of them draws the "
                               "same screen, so either code works.")
                    .arg(codes.join(QStringLiteral(" or ")));
    else
        text << QStringLiteral("Codes %1 understand every byte but draw different screens: "
                               "compare them with what your display should show, or send each "
                               "one's test pattern.")
                    .arg(codes.join(QStringLiteral(" and ")));
    return text;
}

} // namespace viewtext
