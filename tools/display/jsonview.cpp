// The JSON view: one object per line for each event, its members in a fixed order, every
// control character escaped. Lines are written straight into the output, without a document
// for each: a capture of random bytes makes millions of them.
#include "tools/display/view.h"

#include "display/bytes.h"
#include "display/codetable.h"

#include "protocol/escape.h"
#include "protocol/frame.h"

#include <array>
#include <charconv>
#include <cstring>
#include <memory>

namespace {

// The raw writers below write at `p` and return the end of what they wrote; the caller
// has made room for the most they may write.
template <size_t N> char* put(char* p, const char (&text)[N]) {
    std::memcpy(p, text, N - 1);
    return p + N - 1;
}

char* put(char* p, qint64 n) {
    if (quint64(n) < 10) { // sets, rows and most columns
        *p = char('0' + n);
        return p + 1;
    }
    return std::to_chars(p, p + 20, n).ptr;
}

// A glyph as it stands in a JSON string: its bytes, then room to the size of one word, which
// is stored whole; `size` of them count.
struct JsonGlyph {
    char bytes[7];
    unsigned char size;
};
static_assert(sizeof(JsonGlyph) == 8, "a glyph is stored as one word");
using JsonGlyphs = std::array<JsonGlyph, 256>;

// A style's glyphs as they stand in a JSON string. A glyph is never a control character:
// only a quote and a backslash need escapes. For one thread at a time, as utf8Glyphs().
const JsonGlyphs& jsonGlyphs(unsigned char style) {
    static std::array<std::unique_ptr<JsonGlyphs>, 256> made;
    std::unique_ptr<JsonGlyphs>& table = made[style];
    if (Q_UNLIKELY(!table)) {
        table = std::make_unique<JsonGlyphs>();
        const std::array<display::Utf8Glyph, 256>& utf8 = display::utf8Glyphs(style);
        for (size_t b = 0; b < utf8.size(); ++b) {
            JsonGlyph& g = (*table)[b];
            g = {};
            const int size = utf8[b][0];
            const bool escaped = size == 1 && (utf8[b][1] == '"' || utf8[b][1] == '\\');
            if (escaped)
                g.bytes[0] = '\\';
            std::memcpy(g.bytes + (escaped ? 1 : 0), utf8[b].data() + 1, size_t(size));
            g.size = static_cast<unsigned char>(size + (escaped ? 1 : 0));
        }
    }
    return *table;
}

// Row `r` as a JSON string: at most kRowRoom bytes, the room for a glyph of at most four bytes
// in each column and for the whole word of the last.
constexpr qsizetype kRowRoom = display::kColumns * 4 + 2 + sizeof(JsonGlyph);
char* putRow(char* p, const display::Screen& s, int r) {
    *p++ = '"';
    const display::Screen::Styles& styles = s.styles(r);
    const display::Screen::Row& row = s.row(r);
    unsigned char style = styles[0];
    const JsonGlyphs* glyphs = &jsonGlyphs(style);
    const bool oneStyle =
        display::bytes::same<display::kColumns - 1>(styles.data(), styles.data() + 1);
    if (oneStyle) {
        for (const char b : row) {
            const JsonGlyph& g = (*glyphs)[uchar(b)];
            std::memcpy(p, &g, sizeof g);
            p += g.size;
        }
        *p++ = '"';
        return p;
    }
    for (int c = 0; c < display::kColumns; ++c) {
        if (Q_UNLIKELY(styles[size_t(c)] != style)) {
            style = styles[size_t(c)];
            glyphs = &jsonGlyphs(style);
        }
        const JsonGlyph& g = (*glyphs)[uchar(row[size_t(c)])];
        std::memcpy(p, &g, sizeof g);
        p += g.size;
    }
    *p++ = '"';
    return p;
}

// Bytes as upper-case hex pairs separated by spaces, quoted: 3 bytes each and 2.
char* putHex(char* p, const QByteArray& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    *p++ = '"';
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            *p++ = ' ';
        *p++ = digits[uchar(bytes[i]) >> 4];
        *p++ = digits[uchar(bytes[i]) & 0x0F];
    }
    *p++ = '"';
    return p;
}

// Makes room for `most` bytes at the end of `out`, for `write` to fill; keeps what it wrote.
template <typename Write> void appendRaw(QByteArray& out, qsizetype most, Write write) {
    const qsizetype at = out.size();
    out.resize(at + most);
    char* end = write(out.data() + at);
    out.resize(end - out.constData());
}
template <typename Write> void appendRaw(Output& out, qsizetype most, Write write) {
    out.wrote(write(out.room(most)));
}

// Writes one JSON object into `out`, member by member, in the order of the calls.
class Object {
public:
    explicit Object(QByteArray& out) : m_out(out) { m_out += '{'; }
    ~Object() { m_out += '}'; }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    Object& number(const char* key, qint64 n) {
        name(key);
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
        m_out.append(digits, end - digits);
        return *this;
    }
    Object& boolean(const char* key, bool b) {
        name(key);
        m_out += b ? "true" : "false";
        return *this;
    }
    Object& string(const char* key, const QString& s) {
        name(key);
        appendJsonString(m_out, s.toUtf8());
        return *this;
    }
    // A string of bytes that need no escapes (ASCII words and hex).
    Object& plain(const char* key, QByteArrayView ascii) {
        name(key);
        m_out += '"';
        m_out += ascii;
        m_out += '"';
        return *this;
    }
    Object& strings(const char* key, const QStringList& list) {
        name(key);
        m_out += '[';
        for (qsizetype i = 0; i < list.size(); ++i) {
            if (i > 0)
                m_out += ',';
            appendJsonString(m_out, list[i].toUtf8());
        }
        m_out += ']';
        return *this;
    }
    Object& hex(const char* key, const QByteArray& bytes) {
        name(key);
        appendRaw(m_out, 3 * bytes.size() + 2, [&](char* p) { return putHex(p, bytes); });
        return *this;
    }
    // The member's name; its value is then written into the returned buffer.
    QByteArray& value(const char* key) {
        name(key);
        return m_out;
    }

private:
    void name(const char* key) {
        const size_t length = std::strlen(key);
        const qsizetype at = m_out.size();
        m_out.resize(at + qsizetype(length) + 4);
        char* p = m_out.data() + at;
        if (!m_first)
            *p++ = ',';
        m_first = false;
        *p++ = '"';
        std::memcpy(p, key, length);
        p += length;
        *p++ = '"';
        *p++ = ':';
        m_out.resize(p - m_out.constData());
    }
    QByteArray& m_out;
    bool m_first = true;
};

// One event's object, its "event" member first, on one line of the output.
template <typename Fill> void line(Output& out, const char* event, Fill fill) {
    {
        Object o(out.pending());
        o.plain("event", event);
        fill(o);
    }
    out.pending() += '\n';
}

class JsonView : public View {
public:
    explicit JsonView(Output& out) : m_out(out) {}

    void listening(const QString& where) override {
        line(m_out, "listening", [&](Object& o) { o.string("device", where); });
    }
    // The most frequent events, each written with one resize.
    void screen(const display::Screen& s, int set) override {
        appendRaw(m_out, 2 * kRowRoom + 100, [&](char* p) {
            p = put(p, "{\"event\":\"screen\",\"set\":");
            p = put(p, set);
            p = put(p, ",\"lines\":[");
            p = putRowOnce(p, s, 0);
            *p++ = ',';
            p = putRowOnce(p, s, 1);
            p = put(p, "],\"cursor\":[");
            p = put(p, s.cursorRow());
            *p++ = ',';
            p = put(p, s.cursorColumn());
            p = put(p, "],\"cursorShown\":");
            return s.cursorShown() ? put(p, "true}\n") : put(p, "false}\n");
        });
    }
    void ignored(const Event& e) override {
        appendRaw(m_out, 3 * e.bytes.size() + 60, [&](char* p) {
            p = put(p, "{\"event\":\"ignored\",\"set\":");
            p = put(p, e.set);
            p = put(p, ",\"bytes\":");
            p = putHex(p, e.bytes);
            return put(p, "}\n");
        });
    }
    void depends(const Event& e) override {
        appendRaw(m_out, 2 * kRowRoom + 100, [&](char* p) {
            p = put(p, "{\"event\":\"depends\",\"on\":");
            p = e.on == Event::On::Wrap ? put(p, "\"wrap\"") : put(p, "\"code-table\"");
            p = put(p, ",\"offset\":");
            p = put(p, e.offset);
            p = put(p, ",\"lines\":[");
            p = putRow(p, e.screen, 0);
            *p++ = ',';
            p = putRow(p, e.screen, 1);
            return put(p, "]}\n");
        });
    }
    void identified(const QList<display::SetReading>& ranked) override {
        line(m_out, "identify", [&](Object& o) {
            QByteArray& best = o.value("best");
            best += '[';
            const char* comma = "";
            for (const display::SetReading& r : display::best(ranked)) {
                best += comma;
                best += char('0' + r.set);
                comma = ",";
            }
            best += ']';
            QByteArray& sets = o.value("sets");
            sets += '[';
            comma = "";
            for (const display::SetReading& r : ranked) {
                sets += comma;
                comma = ",";
                Object(sets)
                    .number("set", r.set)
                    .string("name", frame::commandSetName(r.set))
                    .number("ignored", r.notUnderstood)
                    .number("depends", r.dependences)
                    .strings("lines", r.lines);
            }
            sets += ']';
        });
    }
    void frame(const Event& e, bool) override {
        const FrameDecoder::Report& r = e.frame;
        line(m_out, "frame", [&](Object& o) {
            o.boolean("valid", r.valid);
            if (r.valid)
                o.number("code", r.code)
                    .string("name", frame::commandSetName(r.code))
                    .string("scrollData", r.scrollData);
            else
                o.string("problem", r.problem);
            o.number("length", r.bytes.size()).hex("bytes", r.bytes);
        });
    }

private:
    // Row `r` as putRow() writes it, which is kept for the next screen: most screens change
    // one row of the last.
    char* putRowOnce(char* p, const display::Screen& s, int r) {
        Written& w = m_rows[size_t(r)];
        if (w.size < 0 ||
            !display::bytes::same<display::kColumns>(s.row(r).data(), w.cells.data()) ||
            !display::bytes::same<display::kColumns>(s.styles(r).data(), w.styles.data())) {
            w.cells = s.row(r);
            w.styles = s.styles(r);
            w.size = int(putRow(w.json.data(), s, r) - w.json.data());
        }
        std::memcpy(p, w.json.data(), size_t(w.size));
        return p + w.size;
    }
    struct Written {
        display::Screen::Row cells{};
        display::Screen::Styles styles{};
        std::array<char, kRowRoom> json{};
        int size = -1; // none yet
    };
    std::array<Written, display::kRows> m_rows;
    Output& m_out;
};

} // namespace

std::unique_ptr<View> makeJsonView(Output& out) {
    return std::make_unique<JsonView>(out);
}
