#include "display/commands.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace display {

namespace {
constexpr char kCR = 0x0D;
} // namespace

Reader::Reader(const SetRules& rules, Variant variant) : m_rules(&rules), m_variant(variant) {
    setAttention(QByteArrayView(rules.attention.data(), qsizetype(rules.attention.size())));
    setDrawing();
}

void Reader::setAttention(QByteArrayView code) {
    m_attention = code.toByteArray();
    m_starts.fill(false);
    m_prefixBytes.clear();
    m_prefixes.clear();
    for (int i = 0; i < m_rules->commandCount; ++i) {
        const Command& c = m_rules->commands[i];
        const qsizetype at = m_prefixBytes.size();
        if (c.afterAttention)
            m_prefixBytes += m_attention;
        m_prefixBytes.append(c.bytes.data(), qsizetype(c.bytes.size()));
        if (m_prefixBytes.size() > at)
            m_prefixes.push_back({int(at), int(m_prefixBytes.size() - at), &c});
    }
    const auto bytes = [this](const Prefix& p) {
        return std::string_view(m_prefixBytes.constData() + p.at, size_t(p.size));
    };
    std::stable_sort(m_prefixes.begin(), m_prefixes.end(),
                     [&](const Prefix& a, const Prefix& b) { return bytes(a) < bytes(b); });
    size_t i = 0; // string_view orders bytes as unsigned
    for (int b = 0; b <= 256; ++b) {
        while (i < m_prefixes.size() && uchar(m_prefixBytes[m_prefixes[i].at]) < b)
            ++i;
        m_firstAt[size_t(b)] = int(i);
    }
    for (const Prefix& p : m_prefixes)
        m_starts[uchar(m_prefixBytes[p.at])] = true;
    for (int b = 0; b < 256; ++b)
        m_plain[size_t(b)] = b >= 0x20 && !m_starts[size_t(b)];
}

Screen Reader::powerOnScreen() const {
    return Screen(m_rules->powerOnMode, m_rules->cursorShownAtPowerOn, m_variant);
}

int Reader::takeSwitch() {
    const int code = m_switchTo;
    m_switchTo = -1;
    return code;
}

void Reader::reset() {
    m_sequence.clear(); // keeps its capacity for the next command
    m_command = nullptr;
    m_need = 0;
    m_inData = false;
}

void Reader::defineMacro(QByteArrayView end, QByteArrayView abort, int most) {
    m_inDefinition = true;
    setDrawing();
    m_defining.clear();
    m_macroEnd = end.toByteArray();
    m_macroAbort = abort.toByteArray();
    m_macroMost = most;
}

void Reader::runMacro(Screen& screen, Sink& sink) {
    if (m_macro.isEmpty())
        return;
    const QByteArray macro = m_macro;
    for (const char b : macro)
        feed(b, screen, sink);
    m_macroShown = true;
    setDrawing();
}

void Reader::feedAroundMacro(char byte, Screen& screen, Sink& sink) {
    if (m_inDefinition) {
        m_defining.append(byte);
        if (m_defining.endsWith(m_macroEnd)) {
            m_inDefinition = false;
            m_macro = m_defining.chopped(m_macroEnd.size());
        } else if (m_defining.contains(m_macroAbort) ||
                   m_defining.size() > m_macroMost + m_macroEnd.size()) {
            m_inDefinition = false;
            m_macro.clear();
        }
        setDrawing();
        return;
    }
    if (m_macroShown && !m_command && m_sequence.empty()) {
        m_macroShown = false;
        setDrawing();
        screen.clear();
    }
    feedByte(byte, screen, sink);
}

void Reader::feedByte(char byte, Screen& screen, Sink& sink) {
    if (m_command) {
        parameter(byte, screen, sink);
        return;
    }
    if (m_sequence.empty() && !m_starts[uchar(byte)]) {
        if (m_rules->drawsCharacters && !m_deselected && uchar(byte) >= 0x20) {
            screen.put(byte);
            ++m_drawn;
        } else
            sink.ignored(QByteArrayView(&byte, 1));
        return;
    }
    m_sequence.push_back(byte);
    // The commands that begin with the bytes so far are together, as the prefixes are sorted;
    // the shortest comes first. Keep those whose next byte is this one: among them, the byte
    // at k orders them, with those that end before it first (as -1).
    const int k = int(m_sequence.size()) - 1;
    int lo = m_firstAt[uchar(byte)], hi = m_firstAt[uchar(byte) + 1];
    if (k > 0) {
        const auto key = [&](int i) {
            const Prefix& p = m_prefixes[size_t(i)];
            return p.size > k ? int(uchar(m_prefixBytes[p.at + k])) : -1;
        };
        const auto firstAbove = [&](int from, int to, int value) {
            while (from < to) {
                const int mid = from + (to - from) / 2;
                if (key(mid) > value)
                    to = mid;
                else
                    from = mid + 1;
            }
            return from;
        };
        lo = firstAbove(m_lo, m_hi, int(uchar(byte)) - 1);
        hi = firstAbove(lo, m_hi, int(uchar(byte)));
    }
    m_lo = lo;
    m_hi = hi;
    const Command* exact =
        lo < hi && m_prefixes[size_t(lo)].size == k + 1 ? m_prefixes[size_t(lo)].command : nullptr;
    const bool longer = hi - lo > (exact ? 1 : 0);
    if (exact) {
        begin(*exact, screen, sink);
    } else if (!longer) {
        // No command: the prefix goes with the byte that named none, unless that byte
        // begins a command of its own.
        const char last = m_sequence.back();
        if (m_starts[uchar(last)]) {
            sink.ignored(sequence().chopped(1));
            m_sequence.clear();
            feed(last, screen, sink);
        } else {
            sink.ignored(sequence());
            m_sequence.clear();
        }
    }
}

void Reader::begin(const Command& c, Screen& screen, Sink& sink) {
    m_command = &c;
    m_need = c.fixed;
    m_prefixLength = int(m_sequence.size());
    m_dataStart = m_prefixLength;
    if (m_need == 0 && c.more)
        m_need = c.more({});
    if (m_need < 0) {
        sink.ignored(sequence());
        reset();
        return;
    }
    m_inData = m_need == 0 && c.dataMax >= 0;
    if (m_need == 0 && !m_inData)
        finish(screen, sink);
}

void Reader::parameter(char byte, Screen& screen, Sink& sink) {
    const Command& c = *m_command;
    if (m_need > 0) {
        m_sequence.push_back(byte);
        if (--m_need > 0)
            return;
        if (c.more) {
            m_need = c.more(sequence().sliced(m_prefixLength));
            if (m_need < 0) {
                sink.ignored(sequence());
                reset();
                return;
            }
            if (m_need > 0)
                return;
        }
        if (c.dataMax < 0) {
            finish(screen, sink);
            return;
        }
        m_inData = true;
        m_dataStart = int(m_sequence.size());
        return;
    }
    if (byte == kCR) {
        finish(screen, sink);
    } else if (c.stringMode && (byte == 0x0C || byte == 0x18)) {
        sink.ignored(sequence());
        reset();
        feed(byte, screen, sink);
    } else if (qsizetype(m_sequence.size()) - m_dataStart < c.dataMax) {
        m_sequence.push_back(byte);
    } else {
        sink.ignored(QByteArrayView(&byte, 1));
    }
}

void Reader::finish(Screen& screen, Sink& sink) {
    const Command& c = *m_command;
    // The action may feed bytes of its own (a macro): it reads the command from a buffer of
    // its own, which is handed back afterwards for its capacity.
    std::string sequence = std::move(m_sequence);
    m_sequence.clear();
    const int prefix = m_prefixLength;
    reset();
    if (!m_deselected || c.whenDeselected) {
        const QByteArrayView bytes(sequence.data(), qsizetype(sequence.size()));
        Context context{screen, *this, sink, bytes, bytes.sliced(prefix)};
        c.run(context);
    }
    if (m_sequence.empty()) {
        sequence.clear();
        m_sequence = std::move(sequence);
    }
}

void Reader::end(Sink& sink) {
    if (!m_sequence.empty())
        sink.ignored(sequence());
    reset();
    settle();
}

} // namespace display
