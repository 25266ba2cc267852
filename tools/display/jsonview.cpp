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

class JsonView : public View {
public:
    explicit JsonView(Output& out) : m_out(out) {}

    void listening(const QString& where) override {
        json({{"event", QStringLiteral("listening")}, {"device", where}});
    }
    void screen(const display::Screen& s, int set) override {
        auto text = [&s](int r) { return display::glyphs(s, r); };
        json({{"event", QStringLiteral("screen")},
              {"set", set},
              {"lines", QJsonArray{text(0), text(1)}},
              {"cursor", QJsonArray{s.cursorRow(), s.cursorColumn()}},
              {"cursorShown", s.cursorShown()}});
    }
    void ignored(const Event& e) override {
        json({{"event", QStringLiteral("ignored")}, {"set", e.set}, {"bytes", toHex(e.bytes)}});
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
