#include "display/identify.h"

#include "display/codetable.h"
#include "protocol/frame.h"

#include <algorithm>
#include <tuple>

namespace display {

namespace {
std::tuple<qint64, qint64, qint64> rank(const SetReading& r) {
    return {r.notUnderstood, r.dependences, r.drawn};
}
} // namespace

QList<SetReading> identify(QByteArrayView bytes, Variant variant) {
    QList<SetReading> readings;
    for (int set = 0; set < frame::kCommandSetCount; ++set) {
        Display d(Eeprom{set, {}}, set, variant);
        d.watchDependences();
        qint64 malformed = 0;
        Events events;
        auto count = [&] {
            for (const Display::Event& e : events)
                if (e.kind == Display::Event::Kind::Frame && !e.frame.valid)
                    malformed += e.frame.bytes.size();
            events.clear();
        };
        for (qsizetype at = 0; at < bytes.size(); at += 4096) { // in reads, with memory flat
            d.feed(bytes.sliced(at, qMin<qsizetype>(4096, bytes.size() - at)), 0, &events);
            count();
        }
        d.end(&events);
        count();
        readings << SetReading{set,
                               d.ignoredBytes() + malformed,
                               d.dependences(),
                               d.drawnBytes(),
                               {glyphs(d.screen(), 0), glyphs(d.screen(), 1)}};
    }
    std::stable_sort(readings.begin(), readings.end(),
                     [](const SetReading& a, const SetReading& b) { return rank(a) < rank(b); });
    return readings;
}

QList<SetReading> best(const QList<SetReading>& ranked) {
    QList<SetReading> tied;
    for (const SetReading& r : ranked)
        if (rank(r) == rank(ranked.first()))
            tied << r;
    return tied;
}

} // namespace display
