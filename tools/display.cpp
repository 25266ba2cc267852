// vorq-display: a customer display in software. It listens on a pseudo-terminal of its own
// (or on a real serial device, or reads a capture) and shows its 2x20 screen as the command
// set in force draws it, each configuration frame it receives, decoded as the display would
// decode it, what the display then stores, and the bytes that the set does not understand.
//
// Exit statuses: 128 + the signal's number when ended by SIGINT, SIGTERM, SIGHUP, or SIGPIPE
// (the reader of its output has gone), after closing the port and removing the link; 0 for
// --once with a valid frame, and at the end of --input; 1 --once with a malformed one; 65 at
// the end of --input --strict when some bytes were not understood; 66 the input cannot be
// read; 64 usage; 73 the link cannot be made; 69, 74, 77 when the device cannot be opened
// (as vorq-write); 74 also when the device hangs up.
#include "display/display.h"
#include "display/eepromfile.h"
#include "line/serialport.h"
#include "line/signalwatch.h"
#include "protocol/frame.h"
#include "store/conffile.h"
#include "store/files.h"
#include "tools/cli.h"
#include "tools/output.h"
#include "version.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sysexits.h>
#include <termios.h>
#include <unistd.h>
#include <variant>

namespace {

Output out(STDOUT_FILENO);

// The symbolic link that this process made, to be removed when it ends: the directory it
// lies in (held open, so that a parent renamed or swapped meanwhile cannot redirect the
// removal), its name there, its target, and the link's own inode.
struct OwnLink {
    int dir = -1;
    char name[256] = {};
    char target[256] = {};
    dev_t dev = 0;
    ino_t ino = 0;
} g_link;

// Whether the entry `name` in `dir` is a symbolic link to `target`; with `info`, also its
// lstat. Async-signal-safe.
bool linksTo(int dir, const char* name, const char* target, struct stat* info = nullptr) {
    struct stat st {};
    if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode))
        return false;
    char got[256] = {};
    const ssize_t n = ::readlinkat(dir, name, got, sizeof got - 1);
    if (info)
        *info = st;
    return n > 0 && std::strcmp(got, target) == 0;
}

// Removes the link only while it is still the very one this process made: same target,
// same inode.
void removeOwnLink() {
    struct stat st {};
    if (g_link.dir >= 0 && linksTo(g_link.dir, g_link.name, g_link.target, &st) &&
        st.st_dev == g_link.dev && st.st_ino == g_link.ino)
        ::unlinkat(g_link.dir, g_link.name, 0);
}

// Makes the symbolic link `at` to `target`. It never replaces an existing path, except a
// dangling link into /dev/pts (one left by an earlier run), and that only by an atomic
// exchange that is undone if the path changed meanwhile; a link that already points at
// `target` (this process's own pseudo-terminal) is adopted as it is. Empty on success, else
// why not.
QString makeOwnLink(const QString& at, const QString& target) {
    const QFileInfo where(at);
    const QByteArray dirPath = QFile::encodeName(where.absolutePath());
    const QByteArray name = QFile::encodeName(where.fileName());
    const QByteArray to = QFile::encodeName(target);
    if (name.size() >= int(sizeof g_link.name) || to.size() >= int(sizeof g_link.target))
        return QStringLiteral("the path is too long");
    const int dir = ::open(dirPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    auto fail = [dir](const QString& why) {
        ::close(dir);
        return why;
    };
    if (::symlinkat(to.constData(), dir, name.constData()) != 0) {
        if (errno != EEXIST)
            return fail(QString::fromLocal8Bit(std::strerror(errno)));
        // A leftover: a symbolic link into /dev/pts whose pseudo-terminal is gone.
        auto leftover = [dir](const char* entry) {
            char old[256] = {};
            struct stat st {};
            return ::readlinkat(dir, entry, old, sizeof old - 1) > 0 &&
                   std::strncmp(old, "/dev/pts/", 9) == 0 && ::fstatat(dir, entry, &st, 0) != 0 &&
                   errno == ENOENT;
        };
        // A link to the very pseudo-terminal that this process now holds, left by an earlier
        // run that was killed before it could remove it (the number was reused), is adopted
        // as it is: the check below records it as this process's own.
        char old[256] = {};
        const bool ours = ::readlinkat(dir, name.constData(), old, sizeof old - 1) > 0 &&
                          std::strcmp(old, to.constData()) == 0;
        if (!ours) {
            if (!leftover(name.constData()))
                return fail(QStringLiteral("it exists and is not a leftover link to a gone "
                                           "pseudo-terminal; it was left alone"));
            const QByteArray spare = name + ".vorq-" + QByteArray::number(::getpid());
            if (::symlinkat(to.constData(), dir, spare.constData()) != 0)
                return fail(QString::fromLocal8Bit(std::strerror(errno)));
            if (::renameat2(dir, spare.constData(), dir, name.constData(), RENAME_EXCHANGE) != 0) {
                const int err = errno;
                ::unlinkat(dir, spare.constData(), 0);
                return fail(QString::fromLocal8Bit(std::strerror(err)));
            }
            if (!leftover(spare.constData())) { // changed meanwhile: put it back
                ::renameat2(dir, spare.constData(), dir, name.constData(), RENAME_EXCHANGE);
                ::unlinkat(dir, spare.constData(), 0);
                return fail(QStringLiteral("it changed while it was being replaced; it was "
                                           "left alone"));
            }
            ::unlinkat(dir, spare.constData(), 0);
        }
    }
    struct stat st {};
    if (!linksTo(dir, name.constData(), to.constData(), &st))
        return fail(QStringLiteral("it changed right after it was made"));
    g_link.dir = dir;
    g_link.dev = st.st_dev;
    g_link.ino = st.st_ino;
    qstrncpy(g_link.name, name.constData(), sizeof g_link.name);
    qstrncpy(g_link.target, to.constData(), sizeof g_link.target);
    return {};
}

// "1 byte", "15 bytes".
QString byteCount(const QByteArray& bytes) {
    return bytes.size() == 1 ? QStringLiteral("1 byte")
                             : QStringLiteral("%1 bytes").arg(bytes.size());
}

QString quoted(const QString& s) {
    return QLatin1Char('"') + escaped(s) + QLatin1Char('"');
}

// What the command line asks for, once it has been checked.
struct Request {
    QString link;   // a symbolic link to make to the pseudo-terminal, or empty
    QString device; // a serial device to listen on instead of a pseudo-terminal, or empty
    QString input;  // a capture to read instead, "-" for stdin, or empty
    QString eeprom; // the file that keeps the EEPROM, or empty
    int set = -1;   // the set at power-on; -1: the stored one
    int bps = 9600;
    bool hex = false;
    bool once = false;
    bool json = false;
    bool strict = false;
};

// The request that `argv` makes, or the exit status when it makes none that can be run.
std::variant<Request, int> parse(int argc, char* argv[]) {
    cli::Parser parser(
        QStringLiteral(
            "A pole display in software. It shows its 2x20 screen as the command set in force "
            "draws it, each configuration frame it receives and what it then stores, and the bytes "
            "that the set does not understand. On a terminal the screen is redrawn in place; "
            "otherwise each change is printed as two lines between bars.\n\nCommand sets: %1.")
            .arg([] {
                QStringList sets;
                for (const frame::CommandSet& set : frame::kCommandSets)
                    sets << QLatin1Char(set.digit) + QLatin1Char(' ') + QLatin1String(set.name);
                return sets.join(QStringLiteral(", "));
            }()));
    const QCommandLineOption link(
        QStringLiteral("link"),
        QStringLiteral("Also make a symbolic link at PATH to the pseudo-terminal."),
        QStringLiteral("PATH"));
    const QCommandLineOption device(
        QStringLiteral("device"),
        QStringLiteral("Listen on this serial device instead of a pseudo-terminal."),
        QStringLiteral("PATH"));
    const QCommandLineOption input(
        QStringLiteral("input"),
        QStringLiteral("Read a capture of bytes from FILE (- for stdin) instead of a port, print "
                       "what the display does, and exit at its end."),
        QStringLiteral("FILE"));
    const QCommandLineOption set(
        QStringLiteral("set"),
        QStringLiteral("The command set at power-on, %1. Default: the one in --eeprom, else 0.")
            .arg(frame::codeRange()),
        QStringLiteral("digit"));
    const QCommandLineOption eeprom(
        QStringLiteral("eeprom"),
        QStringLiteral("Keep the command set and scroll data in FILE across restarts, as the "
                       "display's EEPROM does. A missing file is a factory-fresh display."),
        QStringLiteral("FILE"));
    const QCommandLineOption speed(
        QStringLiteral("speed"),
        QStringLiteral("The device's speed, 9600 or 19200 (8N1). Default: 9600."),
        QStringLiteral("bps"), QStringLiteral("9600"));
    const QCommandLineOption hex(QStringLiteral("hex"),
                                 QStringLiteral("Also print the raw bytes of each frame."));
    const QCommandLineOption once(
        QStringLiteral("once"),
        QStringLiteral("Exit after the first frame: 0 when it was valid, 1 when not."));
    const QCommandLineOption json(
        QStringLiteral("json"),
        QStringLiteral("Print one JSON object per line for each event: the screen at power-on "
                       "and after each change, each frame, each run of ignored bytes."));
    const QCommandLineOption strict(
        QStringLiteral("strict"),
        QStringLiteral("With --input: exit with 65 when some bytes were not understood."));
    QList<int> invalid; // arguments that are not valid UTF-8
    const QStringList arguments = cli::arguments(argc, argv, &invalid);
    if (const auto stop = parser.parse(
            {link, device, input, set, eeprom, speed, hex, once, json, strict}, arguments))
        return *stop;
    // A path is opened by its bytes: one that is not UTF-8 cannot be named exactly; and an
    // empty one names nothing.
    for (const QCommandLineOption* o : {&link, &device, &input, &eeprom}) {
        const QString option = QStringLiteral("--") + o->names().first();
        for (const int i : invalid)
            if (arguments[i].startsWith(option + u'=') || (i > 1 && arguments[i - 1] == option))
                return cli::fail(EX_USAGE, QStringLiteral("%1 is not valid UTF-8").arg(option));
        if (parser.isSet(*o) && parser.value(*o).isEmpty())
            return cli::fail(EX_USAGE, QStringLiteral("%1 needs a path").arg(option));
    }
    const QString bps = parser.value(speed);
    if (const auto stop = cli::refuseSpeed(bps))
        return *stop;
    if (parser.isSet(device) && parser.isSet(link))
        return cli::fail(EX_USAGE,
                         QStringLiteral("--link applies to the pseudo-terminal, not to --device"));
    if (parser.isSet(input) && (parser.isSet(device) || parser.isSet(link)))
        return cli::fail(EX_USAGE, QStringLiteral("--input reads a capture; it takes no --%1")
                                       .arg(parser.isSet(device) ? QStringLiteral("device")
                                                                 : QStringLiteral("link")));
    if (parser.isSet(strict) && !parser.isSet(input))
        return cli::fail(EX_USAGE, QStringLiteral("--strict applies to --input"));
    Request request{parser.value(link),
                    parser.value(device),
                    parser.value(input),
                    parser.value(eeprom),
                    -1,
                    bps.toInt(),
                    parser.isSet(hex),
                    parser.isSet(once),
                    parser.isSet(json),
                    parser.isSet(strict)};
    if (parser.isSet(set)) {
        const QString digit = parser.value(set);
        if (digit.size() != 1 || !frame::isCodeDigit(digit.at(0).unicode()))
            return cli::fail(EX_USAGE, QStringLiteral("--set must be one digit from %1, not \"%2\"")
                                           .arg(frame::codeRange(), shown(digit)));
        request.set = digit.at(0).unicode() - u'0';
    }
    return request;
}

// The EEPROM at power-on, from the file; a file that cannot be used is a warning and a
// factory-fresh display that keeps it as it is and persists nothing.
display::eepromfile::Loaded loadEeprom(const QString& path) {
    using Problem = display::eepromfile::Loaded::Problem;
    const display::eepromfile::Loaded loaded = display::eepromfile::load(path);
    QString why;
    switch (loaded.problem) {
    case Problem::None:
        return loaded;
    case Problem::Unreadable:
        why = QStringLiteral("cannot be read (%1)").arg(loaded.why);
        break;
    case Problem::NoCode:
        why =
            QStringLiteral("has no command set from %1 in [eeprom] code=").arg(frame::codeRange());
        break;
    case Problem::BadScrollData:
        why = QStringLiteral("holds scroll data that the display cannot store");
        break;
    }
    cli::fail(0, QStringLiteral("warning: the EEPROM file %1 %2; it is kept as it is, and the "
                                "display starts factory-fresh and runs without persisting")
                     .arg(shown(path), why));
    return loaded;
}

void saveEeprom(const QString& path, const display::Eeprom& eeprom) {
    if (const ConfFile::SaveError error = display::eepromfile::save(path, eeprom); !error.ok())
        cli::fail(0, QStringLiteral("warning: the EEPROM file %1 could not be saved: %2")
                         .arg(shown(error.path), error.error));
}

// A row as the views show it: the bytes through Windows-1252, and a byte that is no
// printable character there as U+FFFD.
QString shownRow(const display::Screen& screen, int row) {
    QString text = frame::fromWindows1252(QByteArray(screen.row(row).data(), display::kColumns));
    for (QChar& c : text)
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F))
            c = QChar(0xFFFD);
    return text;
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

// Shows what the display does, in one of three views, and with --once ends the program
// after the first frame.
class Printer {
public:
    enum class View { Plain, Json, Terminal };

    // With `persist`, each valid frame is saved to the request's EEPROM file.
    Printer(const Request& request, const display::Eeprom& eeprom, bool persist)
        : m_request(request), m_display(eeprom, request.set), m_persist(persist) {
        m_clock.start();
        const QByteArray term = qgetenv("TERM");
        if (request.json)
            m_view = View::Json;
        else if (::isatty(STDOUT_FILENO) && !term.isEmpty() && term != "dumb")
            m_view = View::Terminal;
        m_colour = m_view == View::Terminal && qEnvironmentVariableIsEmpty("NO_COLOR");
    }

    View view() const { return m_view; }
    const display::Display& display() const { return m_display; }
    bool understoodAll() const { return m_understoodAll; }
    // With --once, the exit status once the first frame has come.
    std::optional<int> onceStatus() const { return m_onceStatus; }

    // The line that a listening display starts with.
    void listening(const QString& where) {
        // The first line, for whoever reads the device name.
        if (m_view == View::Json)
            json({{"event", QStringLiteral("listening")}, {"device", where}});
        else
            out << QStringLiteral("Listening on ") + escaped(where) << '\n';
        out.flush();
    }
    void powerOn() {
        m_shown = m_display.screen();
        m_shownSet = m_display.set();
        printScreen();
        out.flush();
    }
    // One batch of bytes: what one read returned.
    void arrived(QByteArrayView bytes) {
        QList<display::Display::Event> events;
        m_display.feed(bytes, m_clock.elapsed(), &events);
        print(events);
    }
    // Reports a frame whose end marker is overdue.
    void tick() {
        QList<display::Display::Event> events;
        m_display.flush(m_clock.elapsed(), &events);
        print(events);
    }
    // The power-on marquee and scrolling messages move in the terminal view.
    void marquee() {
        if (m_view != View::Terminal)
            return;
        if (m_display.tick())
            print({});
        else if (terminalWidth() != m_drawnWidth)
            redraw();
    }
    void ended() {
        QList<display::Display::Event> events;
        m_display.end(&events);
        print(events);
    }
    // The line hung up: reports what was left of a frame, says why and ends, releasing the
    // port and its lock.
    void hungUp(const QString& why) {
        ended();
        removeOwnLink();
        QCoreApplication::exit(cli::fail(EX_IOERR, why));
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
        out << terminalSafeJson(line) << "}\n";
    }

    void printScreen() {
        const display::Screen& s = m_display.screen();
        if (m_view == View::Json) {
            auto text = [&s](int r) {
                return frame::fromWindows1252(QByteArray(s.row(r).data(), display::kColumns));
            };
            json({{"event", QStringLiteral("screen")},
                  {"set", m_display.set()},
                  {"lines", QJsonArray{text(0), text(1)}},
                  {"cursor", QJsonArray{s.cursorRow(), s.cursorColumn()}},
                  {"cursorShown", s.cursorShown()}});
        } else if (m_view == View::Plain) {
            out << '|' << shownRow(s, 0) << "|\n|" << shownRow(s, 1) << "|\n\n";
        } else {
            redraw();
        }
    }

    void print(const QList<display::Display::Event>& events) {
        for (const display::Display::Event& e : events) {
            if (m_onceStatus) {
                out.flush();
                return;
            }
            if (e.kind == display::Display::Event::Kind::Ignored)
                ignored(e);
            else
                frameSeen(e);
        }
        const display::Screen& s = m_display.screen();
        if (s != m_shown || m_display.set() != m_shownSet) {
            m_shown = s;
            m_shownSet = m_display.set();
            printScreen();
        } else if (m_view == View::Terminal && !events.isEmpty()) {
            redraw();
        }
        out.flush();
    }

    void ignored(const display::Display::Event& e) {
        m_understoodAll = false;
        if (m_view == View::Json) {
            json({{"event", QStringLiteral("ignored")}, {"set", e.set}, {"bytes", toHex(e.bytes)}});
            return;
        }
        line(QStringLiteral("Ignored by command set %1: %2, %3")
                 .arg(e.set)
                 .arg(toHex(e.bytes.left(64)) +
                          (e.bytes.size() > 64 ? QStringLiteral(" …") : QString()),
                      byteCount(e.bytes)));
    }

    void frameSeen(const display::Display::Event& e) {
        const FrameDecoder::Report& r = e.frame;
        if (!r.valid)
            m_understoodAll = false;
        if (m_view == View::Json) {
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
        } else if (r.valid) {
            line(QStringLiteral("Frame: command set %1 %2, scroll data %3, %4")
                     .arg(r.code)
                     .arg(frame::commandSetName(r.code), quoted(r.scrollData), byteCount(r.bytes)));
            line(QStringLiteral("Stores: command set %1, scroll data %2")
                     .arg(r.code)
                     .arg(quoted(r.scrollData)));
        } else {
            line(QStringLiteral("Malformed: %1, %2").arg(r.problem, byteCount(r.bytes)));
        }
        if (m_request.hex && m_view != View::Json)
            line(QStringLiteral("  ") + toHex(r.bytes));
        if (r.valid && m_persist)
            saveEeprom(m_request.eeprom, m_display.eeprom());
        if (m_request.once) {
            m_onceStatus = r.valid ? 0 : 1;
            if (!m_request.input.isEmpty())
                return;
            // The line stays open a moment longer, as a display's would: a sender still
            // draining its port must not see it hang up.
            QTimer::singleShot(250, qApp, [this] { QCoreApplication::exit(*m_onceStatus); });
        }
    }

    // A line of the log: printed as it is, or in the terminal view kept among the last few
    // under the panel.
    void line(const QString& text) {
        if (m_view == View::Plain) {
            out << text << '\n';
            return;
        }
        m_log << escaped(text);
        while (m_log.size() > kLogLines)
            m_log.removeFirst();
    }

    // The panel, its caption and the log, drawn over what was drawn before. Each line is cut
    // to the terminal's width, so that it takes one row; after a resize, which the terminal
    // may have reflowed the old lines for, the screen is cleared first.
    void redraw() {
        const display::Screen& s = m_display.screen();
        const int width = terminalWidth();
        auto cut = [width](const QString& text) { return text.left(width); };
        QStringList lines;
        const QString bar = QString(display::kColumns, QChar(0x2500));
        lines << cut(QChar(0x250C) + bar + QChar(0x2510));
        for (int r = 0; r < display::kRows; ++r) {
            QString row = cut(QChar(0x2502) + shownRow(s, r) + QChar(0x2502));
            const int at = s.cursorColumn() + 1; // after the frame's left side
            if (m_colour && s.cursorShown() && s.cursorRow() == r && at < row.size())
                row = row.left(at) + QStringLiteral("\x1B[7m") + row.at(at) +
                      QStringLiteral("\x1B[27m") + row.mid(at + 1);
            lines << row;
        }
        lines << cut(QChar(0x2514) + bar + QChar(0x2518));
        QString caption =
            cut(QStringLiteral("set %1 %2, %3, cursor %4,%5 %6")
                    .arg(m_display.set())
                    .arg(frame::commandSetName(m_display.set()), modeName(s.mode()))
                    .arg(s.cursorRow() + 1)
                    .arg(s.cursorColumn() + 1)
                    .arg(s.cursorShown() ? QStringLiteral("shown") : QStringLiteral("hidden")));
        if (m_colour)
            caption = QStringLiteral("\x1B[1m") + caption + QStringLiteral("\x1B[22m");
        lines << caption;
        for (const QString& l : m_log)
            lines << cut(l);
        if (width != m_drawnWidth && m_drawn > 0)
            out << "\x1B[H\x1B[2J";
        else if (m_drawn > 0)
            out << "\x1B[" << m_drawn << 'F';
        for (const QString& l : lines)
            out << "\x1B[2K" << l << '\n';
        out.flush();
        m_drawn = int(lines.size());
        m_drawnWidth = width;
    }

    // The terminal's columns, at least the panel's width when it cannot tell.
    static int terminalWidth() {
        winsize size{};
        if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
            return size.ws_col;
        return display::kColumns + 2;
    }

    static constexpr int kLogLines = 8;
    const Request m_request;
    display::Display m_display;
    const bool m_persist;
    View m_view = View::Plain;
    bool m_colour = false;
    display::Screen m_shown;
    int m_shownSet = 0;
    QElapsedTimer m_clock;
    QStringList m_log;
    int m_drawn = 0;      // lines of the last redraw, to go back over
    int m_drawnWidth = 0; // the terminal's width then
    bool m_understoodAll = true;
    std::optional<int> m_onceStatus;
};

// Reads the capture, showing each read as it comes (a FIFO or a pipe included), until its
// end or a signal; at its end, what a hang-up would report. `stdinOpen`: whether the program
// was started with a standard input.
int readInput(const Request& request, Printer& printer, bool stdinOpen) {
    const bool stdinput = request.input == QLatin1String("-");
    const QString name = stdinput ? QStringLiteral("the standard input") : shown(request.input);
    int fd = STDIN_FILENO;
    if (stdinput && !stdinOpen)
        return cli::fail(EX_NOINPUT, QStringLiteral("cannot read %1: it is closed").arg(name));
    if (!stdinput) {
        // O_NONBLOCK: a FIFO opens without waiting for a writer; poll() then waits for one, and
        // its end is the end of the input.
        fd = ::open(QFile::encodeName(request.input).constData(),
                    O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            return cli::fail(EX_NOINPUT,
                             QStringLiteral("cannot read %1: %2").arg(name, systemError(errno)));
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode))
        return cli::fail(EX_NOINPUT, QStringLiteral("cannot read %1: it is a directory").arg(name));
    printer.powerOn();
    char buffer[65536];
    int err = 0;
    while (!printer.onceStatus() && !SignalWatch::pending()) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {SignalWatch::wakeFd(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            err = errno;
            break;
        }
        if (SignalWatch::pending())
            break;
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            printer.arrived(QByteArrayView(buffer, n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR && errno != EAGAIN) {
            err = errno;
            break;
        }
    }
    if (fd != STDIN_FILENO)
        ::close(fd);
    if (err != 0)
        return cli::fail(EX_IOERR,
                         QStringLiteral("cannot read %1: %2").arg(name, systemError(err)));
    if (SignalWatch::pending())
        return SignalWatch::exitStatus();
    if (!printer.onceStatus())
        printer.ended();
    if (printer.onceStatus())
        return *printer.onceStatus();
    return request.strict && !printer.understoodAll() ? EX_DATAERR : EX_OK;
}

// Listens on the serial device that the request names.
int listenOnDevice(const Request& request, Printer& printer) {
    const QString path = request.device;
    SerialPort serial([path](int) { return path; });
    serial.setCommPort(0);
    serial.setReceiving(true);
    const QString settings = lineSettingsFor(request.bps);
    LinkResult opened = serial.setSettings(settings);
    if (opened)
        opened = serial.setPortOpen(true);
    if (!opened)
        return cli::fail(cli::exitStatus(opened.cause), cli::describe(opened));
    QObject::connect(&serial, &SerialPort::received, &serial,
                     [&](const QByteArray& bytes) { printer.arrived(bytes); });
    QObject::connect(&serial, &SerialPort::closedByError, &serial, [&](const LinkResult& why) {
        printer.hungUp(why.error.isEmpty()
                           ? QStringLiteral("%1 hung up").arg(shown(path))
                           : QStringLiteral("%1 hung up: %2").arg(shown(path), why.error));
    });
    printer.listening(path + QStringLiteral(" at ") + settings);
    printer.powerOn();
    return QCoreApplication::exec();
}

// Listens on a pseudo-terminal of its own, linked from the request's path if it names one.
int listenOnPty(const Request& request, Printer& printer) {
    int master = -1;
    int lineFd = -1; // kept open, so that the master still reads after a sender closes
    char name[256] = {};
    if (::openpty(&master, &lineFd, name, nullptr, nullptr) != 0)
        return cli::fail(EX_OSERR, QStringLiteral("cannot open a pseudo-terminal"));
    termios raw{};
    ::tcgetattr(lineFd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(lineFd, TCSANOW, &raw);
    const QString slave = QString::fromLocal8Bit(name);
    if (!request.link.isEmpty()) {
        if (const QString why = makeOwnLink(request.link, slave); !why.isEmpty())
            return cli::fail(
                EX_CANTCREAT,
                QStringLiteral("cannot make the link %1: %2").arg(shown(request.link), why));
    }
    // A real port's exclusive mode ends with its last close; a pseudo-terminal's lasts while
    // this program holds the line open. So the opens and closes of the line are counted, and
    // once every sender has closed it (a killed one included), the mode is cleared.
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch >= 0 && ::inotify_add_watch(watch, name, IN_OPEN | IN_CLOSE) < 0)
        ::close(watch);
    std::optional<QSocketNotifier> closes;
    int senders = 0;
    if (watch >= 0) {
        closes.emplace(watch, QSocketNotifier::Read);
        QObject::connect(&*closes, &QSocketNotifier::activated, &*closes, [&] {
            alignas(inotify_event) char events[4096];
            ssize_t n = 0;
            while ((n = ::read(watch, events, sizeof events)) > 0) {
                for (ssize_t at = 0; at < n;) {
                    const auto* e = reinterpret_cast<const inotify_event*>(events + at);
                    senders += (e->mask & IN_OPEN) ? 1 : (e->mask & IN_CLOSE) ? -1 : 0;
                    at += ssize_t(sizeof(inotify_event)) + e->len;
                }
            }
            if (senders <= 0) {
                senders = 0;
                ::ioctl(lineFd, TIOCNXCL);
            }
        });
    }
    QSocketNotifier readable(master, QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, &readable, [&] {
        char buffer[512];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0) {
            printer.arrived(QByteArrayView(buffer, n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            readable.setEnabled(false);
            printer.hungUp(QStringLiteral("%1 hung up").arg(slave));
        }
    });
    printer.listening(request.link.isEmpty() ? slave
                                             : slave + QStringLiteral(" (linked from ") +
                                                   request.link + QLatin1Char(')'));
    printer.powerOn();
    const int status = QCoreApplication::exec();
    removeOwnLink();
    return status;
}

} // namespace

int main(int argc, char* argv[]) {
    // A standard descriptor that the program was started without is opened on /dev/null, so
    // that no file this program opens takes its number.
    const bool stdinOpen = ::fcntl(STDIN_FILENO, F_GETFD) != -1;
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        if (::fcntl(fd, F_GETFD) == -1)
            ::open("/dev/null", O_RDWR);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vorq-display"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORQ_VERSION));
    const auto parsed = parse(argc, argv);
    if (const int* status = std::get_if<int>(&parsed))
        return *status;
    const Request request = std::get<Request>(parsed);

    SignalWatch signals({SIGINT, SIGTERM, SIGHUP, SIGPIPE});
    const display::eepromfile::Loaded stored =
        request.eeprom.isEmpty() ? display::eepromfile::Loaded{} : loadEeprom(request.eeprom);
    Printer printer(request, stored.eeprom, !request.eeprom.isEmpty() && stored.savable());
    if (!request.input.isEmpty())
        return readInput(request, printer, stdinOpen);
    QTimer expiry;
    QObject::connect(&expiry, &QTimer::timeout, &expiry, [&] { printer.tick(); });
    expiry.start(100);
    QTimer marquee;
    if (printer.view() == Printer::View::Terminal) {
        QObject::connect(&marquee, &QTimer::timeout, &marquee, [&] { printer.marquee(); });
        marquee.start(300);
    }
    signals.endEventLoopOnSignal();
    return request.device.isEmpty() ? listenOnPty(request, printer)
                                    : listenOnDevice(request, printer);
}
