// The plain view: each screen as two lines between bars and a blank line, each event as its
// lines of the log, for a file or a pipe.
#include "tools/display/view.h"

#include "protocol/escape.h"

namespace {

class PlainView : public View {
public:
    explicit PlainView(Output& out) : m_out(out) {}

    void listening(const QString& where) override {
        m_out << QStringLiteral("Listening on ") + escaped(where) << '\n';
    }
    void screen(const display::Screen& s, int) override {
        m_out << '|' << viewtext::row(s, 0) << "|\n|" << viewtext::row(s, 1) << "|\n\n";
    }
    void ignored(const Event& e) override { log(viewtext::lines(e, false)); }
    void depends(const Event& e) override { log(viewtext::lines(e, false)); }
    void identified(const QList<display::SetReading>& ranked) override {
        log(viewtext::identification(ranked));
    }
    void frame(const Event& e, bool hex) override { log(viewtext::lines(e, hex)); }

private:
    void log(const QStringList& lines) {
        for (const QString& l : lines)
            m_out << l << '\n';
    }

    Output& m_out;
};

} // namespace

std::unique_ptr<View> makePlainView(Output& out) {
    return std::make_unique<PlainView>(out);
}
