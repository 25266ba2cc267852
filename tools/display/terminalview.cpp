// The terminal view: the panel, a caption and the last lines of the log, redrawn in place.
// Each line is cut to the terminal's width, so that it takes one row; after a resize, which
// the terminal may have reflowed the old lines for, the screen is cleared first.
#include "tools/display/view.h"

#include "protocol/escape.h"
#include "protocol/frame.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

class TerminalView : public View {
public:
    TerminalView(Output& out, bool colour) : m_out(out), m_colour(colour) {}

    void listening(const QString& where) override {
        m_out << QStringLiteral("Listening on ") + escaped(where) << '\n';
    }
    void screen(const display::Screen& s, int set) override { redraw(s, set); }
    void ignored(const Event& e) override { log(viewtext::lines(e, false)); }
    void depends(const Event& e) override { log(viewtext::lines(e, false)); }
    void identified(const QList<display::SetReading>& ranked) override {
        for (const QString& l : viewtext::identification(ranked))
            m_out << escaped(l) << '\n';
    }
    void frame(const Event& e, bool hex) override { log(viewtext::lines(e, hex)); }
    void unchanged(const display::Screen& s, int set) override { redraw(s, set); }
    bool idle(const display::Screen& s, int set) override {
        if (width() == m_drawnWidth)
            return false;
        redraw(s, set);
        return true;
    }
    bool animated() const override { return true; }

private:
    static constexpr int kLogLines = 8;

    void log(const QStringList& lines) {
        for (const QString& l : lines)
            m_log << escaped(l);
        while (m_log.size() > kLogLines)
            m_log.removeFirst();
    }

    // The terminal's columns, the panel's width when it cannot tell.
    static int width() {
        winsize size{};
        if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
            return size.ws_col;
        return display::kColumns + 2;
    }

    QString caption(const display::Screen& s, int set, int width) const {
        const QString text =
            QStringLiteral("set %1 %2, %3, cursor %4,%5 %6")
                .arg(set)
                .arg(frame::commandSetName(set), viewtext::modeName(s.mode()))
                .arg(s.cursorRow() + 1)
                .arg(s.cursorColumn() + 1)
                .arg(s.cursorShown() ? QStringLiteral("shown") : QStringLiteral("hidden"))
                .left(width);
        return m_colour ? QStringLiteral("\x1B[1m") + text + QStringLiteral("\x1B[22m") : text;
    }

    void redraw(const display::Screen& s, int set) {
        const int columns = width();
        const QString bar = QString(display::kColumns, QChar(0x2500));
        QStringList lines{QString(QChar(0x250C) + bar + QChar(0x2510)).left(columns)};
        for (int r = 0; r < display::kRows; ++r) {
            QString row =
                QString(QChar(0x2502) + viewtext::row(s, r) + QChar(0x2502)).left(columns);
            const int at = s.cursorColumn() + 1; // after the frame's left side
            if (m_colour && s.cursorShown() && s.cursorRow() == r && at < row.size())
                row = row.left(at) + QStringLiteral("\x1B[7m") + row.at(at) +
                      QStringLiteral("\x1B[27m") + row.mid(at + 1);
            lines << row;
        }
        lines << QString(QChar(0x2514) + bar + QChar(0x2518)).left(columns)
              << caption(s, set, columns);
        for (const QString& l : m_log)
            lines << l.left(columns);
        if (m_drawn > 0 && columns != m_drawnWidth)
            m_out << "\x1B[H\x1B[2J";
        else if (m_drawn > 0)
            m_out << "\x1B[" << m_drawn << 'F';
        for (const QString& l : lines)
            m_out << "\x1B[2K" << l << '\n';
        m_drawn = int(lines.size());
        m_drawnWidth = columns;
    }

    Output& m_out;
    const bool m_colour;
    QStringList m_log;
    int m_drawn = 0;      // lines of the last redraw, to go back over
    int m_drawnWidth = 0; // the terminal's width then
};

} // namespace

std::unique_ptr<View> makePlainView(Output& out);
std::unique_ptr<View> makeJsonView(Output& out);

std::unique_ptr<View> View::make(bool json, Output& out) {
    if (json)
        return makeJsonView(out);
    const QByteArray term = qgetenv("TERM");
    if (out.terminal() && !term.isEmpty() && term != "dumb")
        return std::make_unique<TerminalView>(out, qEnvironmentVariableIsEmpty("NO_COLOR"));
    return makePlainView(out);
}
