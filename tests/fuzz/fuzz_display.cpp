// Fuzzes the display model. The first byte picks the command set (modulo 7) and the second
// the size of the reads (1 to 256); the rest is the byte stream. The same stream fed whole
// and in those reads must leave the same screen, the same set and EEPROM, the same count of
// ignored bytes and the same dependences at the same offsets, and the cursor stays on the grid.
//
// Built with -fsanitize=fuzzer it is a libFuzzer target (make fuzz). Without, it is a program
// that feeds samples (every command of every set, with parameters) and then `n` random
// streams, and with --write-corpus DIR writes the samples there instead.
#include "display/codetable.h"
#include "display/display.h"
#include "protocol/frame.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_display: %s\n", what);
        std::abort();
    }
}

void run(const uint8_t* data, size_t size) {
    if (size < 2)
        return;
    // The first byte: the set, then (from bit 3) the power-on code table and (bit 7) the late
    // wrap; the second: the size of the split reads.
    const int set = (data[0] & 0x07) % frame::kCommandSetCount;
    const display::Variant variant{
        display::styleOf(display::CodeTable(((data[0] >> 3) & 0x0F) % 11)), (data[0] & 0x80) != 0};
    const size_t chunk = size_t(data[1]) + 1;
    const QByteArrayView bytes(reinterpret_cast<const char*>(data) + 2, qsizetype(size - 2));
    display::Display whole(display::Eeprom{set, {}}, -1, variant);
    display::Display split(display::Eeprom{set, {}}, -1, variant);
    whole.watchDependences();
    split.watchDependences();
    // Where each dependence was reported: the same bytes, however they were read.
    using Report = std::pair<display::Display::Event::On, qint64>;
    std::vector<Report> wholeReports, splitReports;
    const auto note = [](const display::Events& events, std::vector<Report>& reports) {
        for (const display::Display::Event& e : events)
            if (e.kind == display::Display::Event::Kind::Depends)
                reports.emplace_back(e.on, e.offset);
    };
    display::Events events;
    whole.feed(bytes, 0, &events);
    whole.end(&events);
    note(events, wholeReports);
    for (qsizetype at = 0; at < bytes.size(); at += qsizetype(chunk)) {
        events.clear();
        split.feed(bytes.sliced(at, qMin(qsizetype(chunk), bytes.size() - at)), 0, &events);
        note(events, splitReports);
    }
    split.end(nullptr);
    for (const display::Display* d : {&whole, &split}) {
        const display::Screen& s = d->screen();
        check(s.cursorRow() >= 0 && s.cursorRow() < display::kRows && s.cursorColumn() >= 0 &&
                  s.cursorColumn() < display::kColumns,
              "the cursor left the grid");
    }
    check(whole.screen() == split.screen(), "split reads gave another screen");
    for (int r = 0; r < display::kRows; ++r)
        check(display::glyphs(whole.screen(), r).size() >= display::kColumns,
              "a row drew fewer than 20 glyphs");
    check(whole.set() == split.set() && whole.eeprom() == split.eeprom(),
          "split reads gave another set or EEPROM");
    check(whole.ignoredBytes() == split.ignoredBytes(), "split reads ignored other bytes");
    check(wholeReports == splitReports, "split reads gave other dependences");
}

// For each set, each command of its table with three parameter bytes and a data run ended
// by 0x0D after it, and the set's test pattern; each sample is prefixed with the set and a
// read size.
QList<QByteArray> samples() {
    QList<QByteArray> all;
    for (int set = 0; set < frame::kCommandSetCount; ++set) {
        const display::SetRules& rules = display::rulesFor(set);
        const QByteArray head = QByteArray(1, char(set)) + char(set * 7 % 5);
        all << head + display::testPattern(set);
        for (int i = 0; i < rules.commandCount; ++i) {
            const display::Command& c = rules.commands[i];
            QByteArray sample = head;
            if (c.afterAttention)
                sample += QByteArray(rules.attention.data(), qsizetype(rules.attention.size()));
            sample += QByteArray(c.bytes.data(), qsizetype(c.bytes.size()));
            sample += QByteArray("\x01\x02\x21"
                                 "DATA\x0D"
                                 "AB",
                                 10);
            all << sample;
        }
    }
    return all;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    run(data, size);
    return 0;
}

#ifndef VORQ_LIBFUZZER
int main(int argc, char* argv[]) {
    if (argc == 3 && qstrcmp(argv[1], "--write-corpus") == 0) {
        QDir().mkpath(QString::fromLocal8Bit(argv[2]));
        int n = 0;
        for (const QByteArray& sample : samples()) {
            QFile f(QString::fromLocal8Bit(argv[2]) + QStringLiteral("/sample-%1").arg(n++));
            if (!f.open(QIODevice::WriteOnly) || f.write(sample) != sample.size())
                return 1;
        }
        return 0;
    }
    for (const QByteArray& sample : samples())
        run(reinterpret_cast<const uint8_t*>(sample.constData()), size_t(sample.size()));
    const int streams = argc > 1 ? std::atoi(argv[1]) : 2000;
    std::mt19937 random(12345);
    for (int i = 0; i < streams; ++i) {
        // Mostly control bytes and prefixes, where the state machines are.
        QByteArray stream(int(random() % 600) + 2, '\0');
        for (char& b : stream)
            b = char(random() % 3 == 0 ? random() % 256 : random() % 0x30);
        run(reinterpret_cast<const uint8_t*>(stream.constData()), size_t(stream.size()));
    }
    std::printf("fuzz_display: %d samples and %d random streams, no fault\n", int(samples().size()),
                streams);
    return 0;
}
#endif
