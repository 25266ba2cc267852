#include "display/identify.h"

#include "display/codetable.h"
#include "protocol/frame.h"

#include <algorithm>

namespace display {

QList<SetReading> identify(QByteArrayView bytes, Variant variant) {
    QList<SetReading> readings;
    for (int set = 0; set < frame::kCommandSetCount; ++set) {
        Display d(Eeprom{set, {}}, set, variant);
        d.watchDependences();
        QList<Display::Event> events;
        d.feed(bytes, 0, &events);
        d.end(&events);
        SetReading r{
            set, d.ignoredBytes(), d.dependences(), {glyphs(d.screen(), 0), glyphs(d.screen(), 1)}};
        for (const Display::Event& e : events)
            if (e.kind == Display::Event::Kind::Frame && !e.frame.valid)
                r.notUnderstood += e.frame.bytes.size();
        readings << r;
    }
    std::stable_sort(readings.begin(), readings.end(),
                     [](const SetReading& a, const SetReading& b) {
                         return std::pair(a.notUnderstood, a.dependences) <
                                std::pair(b.notUnderstood, b.dependences);
                     });
    return readings;
}

QList<SetReading> best(const QList<SetReading>& ranked) {
    QList<SetReading> tied;
    for (const SetReading& r : ranked)
        if (r.notUnderstood == ranked.first().notUnderstood &&
            r.dependences == ranked.first().dependences)
            tied << r;
    return tied;
}

} // namespace display
