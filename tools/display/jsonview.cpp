// The JSON view: one object per line for each event, its members in a fixed order, every
// control character escaped.
#include "tools/display/view.h"

#include "display/codetable.h"

#include "protocol/escape.h"
#include "protocol/frame.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <initializer_list>
#include <utility>

namespace {

// `text` as a JSON string: UTF-8, with '"', '\\' and every control character (C0, DEL and
// C1) written as escapes, so that a line drives no terminal.
void appendString(QByteArray& out, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    out += '"';
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const uchar b = uchar(utf8[i]);
        uint control = 0x100; // none
        if (b < 0x20 || b == 0x7F)
            control = b;
        else if (b == 0xC2 && i + 1 < utf8.size() && uchar(utf8[i + 1]) < 0xA0)
            control = uchar(utf8[++i]);
        if (control < 0x100) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[control >> 4];
            out += hex[control & 0x0F];
        } else if (b == '"' || b == '\\') {
            out += '\\';
            out += char(b);
        } else {
            out += char(b);
        }
    }
    out += '"';
}

class JsonView : public View {
public:
    explicit JsonView(Output& out) : m_out(out) {}

    void listening(const QString& where) override {
        json({{"event", QStringLiteral("listening")}, {"device", where}});
    }
    // The most frequent events are written directly, without a document for each.
    void screen(const display::Screen& s, int set) override {
        QByteArray line =
            "{\"event\":\"screen\",\"set\":" + QByteArray::number(set) + ",\"lines\":[";
        appendString(line, display::glyphs(s, 0));
        line += ',';
        appendString(line, display::glyphs(s, 1));
        line += "],\"cursor\":[" + QByteArray::number(s.cursorRow()) + ',' +
                QByteArray::number(s.cursorColumn()) +
                "],\"cursorShown\":" + (s.cursorShown() ? "true" : "false") + "}\n";
        m_out << line;
    }
    void ignored(const Event& e) override {
        m_out << "{\"event\":\"ignored\",\"set\":" + QByteArray::number(e.set) + ",\"bytes\":\"" +
                     e.bytes.toHex(' ').toUpper() + "\"}\n";
    }
    void depends(const Event& e) override {
        json({{"event", QStringLiteral("depends")},
              {"on",
               e.on == Event::On::Wrap ? QStringLiteral("wrap") : QStringLiteral("code-table")},
              {"offset", double(e.offset)},
              {"lines", QJsonArray::fromStringList(e.lines)}});
    }
    void identified(const QList<display::SetReading>& ranked) override {
        QJsonArray best, sets;
        for (const display::SetReading& r : display::best(ranked))
            best << r.set;
        for (const display::SetReading& r : ranked)
            sets << QJsonObject{{QStringLiteral("set"), r.set},
                                {QStringLiteral("name"), frame::commandSetName(r.set)},
                                {QStringLiteral("ignored"), double(r.notUnderstood)},
                                {QStringLiteral("depends"), double(r.dependences)},
                                {QStringLiteral("lines"), QJsonArray::fromStringList(r.lines)}};
        json({{"event", QStringLiteral("identify")}, {"best", best}, {"sets", sets}});
    }
    void frame(const Event& e, bool) override {
        const FrameDecoder::Report& r = e.frame;
        if (r.valid)
            json({{"event", QStringLiteral("frame")},
                  {"valid", true},
                  {"code", r.code},
                  {"name", frame::commandSetName(r.code)},
                  {"scrollData", r.scrollData},
                  {"length", int(r.bytes.size())},
                  {"bytes", toHex(r.bytes)}});
        else
            json({{"event", QStringLiteral("frame")},
                  {"valid", false},
                  {"problem", r.problem},
                  {"length", int(r.bytes.size())},
                  {"bytes", toHex(r.bytes)}});
    }

private:
    // One object on one line, its members in the order given.
    void json(std::initializer_list<std::pair<const char*, QJsonValue>> members) {
        QByteArray line = "{";
        for (const auto& [key, value] : members) {
            const QByteArray v = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
            line +=
                (line.size() > 1 ? ",\"" : "\"") + QByteArray(key) + "\":" + v.mid(1, v.size() - 2);
        }
        m_out << terminalSafeJson(line) << "}\n";
    }

    Output& m_out;
};

} // namespace

std::unique_ptr<View> makeJsonView(Output& out) {
    return std::make_unique<JsonView>(out);
}
