#include "tools/display/request.h"

#include "display/codetable.h"
#include "protocol/escape.h"
#include "protocol/frame.h"
#include "tools/cli.h"

#include <iterator>
#include <optional>

namespace {

enum Option {
    Link,
    Device,
    Input,
    Set,
    Eeprom,
    Speed,
    Hex,
    Once,
    Json,
    Strict,
    Table,
    Wrap,
    Identify,
    Forward,
    kOptions
};

// The options, in the order of the enum: name, value name (empty for a switch), help.
struct OptionRow {
    const char* name;
    const char* value;
    const char* help;
};
constexpr OptionRow kOptionRows[] = {
    {"link", "PATH", "Also make a symbolic link at PATH to the pseudo-terminal."},
    {"device", "PATH", "Listen on this serial device instead of a pseudo-terminal."},
    {"input", "FILE",
     "Read a capture of bytes from FILE (- for stdin) instead of a port, print what the display "
     "does, and exit at its end."},
    {"set", "digit", "The command set at power-on, %1. Default: the one in --eeprom, else 0."},
    {"eeprom", "FILE",
     "Keep the command set and scroll data in FILE across restarts, as the display's EEPROM "
     "does. A missing file is a factory-fresh display."},
    {"speed", "bps", "The device's speed, 9600 or 19200 (8N1). Default: 9600."},
    {"hex", "", "Also print the raw bytes of each frame."},
    {"once", "", "Exit after the first frame: 0 when it was valid, 1 when not."},
    {"json", "",
     "Print one JSON object per line for each event: the screen at power-on and after each "
     "change, each frame, each run of ignored bytes."},
    {"strict", "", "With --input: exit with 65 when some bytes were not understood."},
    {"code-table", "NAME",
     "The code table at power-on, as a display's setup memory sets it: %2. Default: PC437."},
    {"wrap", "eager|late",
     "After the 20th character of a row: eager, the cursor moves on at once (as the "
     "descriptions say); late, it waits at column 20 until the next character (as some "
     "displays do). Default: eager."},
    {"identify", "",
     "Tell which command set the bytes were written for: read them in all seven sets and rank "
     "the sets by the bytes each does not understand. With --input, at its end; live, once the "
     "line has been quiet for 3 s or the program is ended. Exit 0 when some set understands "
     "every byte, 65 when none does."},
    {"forward", "DEVICE",
     "Pass every byte the software writes to the pseudo-terminal on to the real display at "
     "DEVICE (COM1 to COM5, as mapped in vorq.conf, or a device path; at --speed), and what "
     "the display sends back to the software, unchanged, while the screen is shown as this "
     "display reads it. The device is opened as vorq-write opens it."},
};
static_assert(std::size(kOptionRows) == kOptions, "a row for every option");

QList<QCommandLineOption> options() {
    QList<QCommandLineOption> all;
    for (const OptionRow& row : kOptionRows) {
        const QString help = QString::fromUtf8(row.help);
        QCommandLineOption o(
            QString::fromLatin1(row.name),
            help.contains(QLatin1String("%1")) ? help.arg(frame::codeRange())
            : help.contains(QLatin1String("%2"))
                ? QString(help).replace(QLatin1String("%2"),
                                        display::codeTableNames().join(QStringLiteral(", ")))
                : help,
            QString::fromLatin1(row.value));
        if (qstrcmp(row.name, "speed") == 0)
            o.setDefaultValue(QStringLiteral("9600"));
        all << o;
    }
    return all;
}

QString description() {
    QStringList sets;
    for (const frame::CommandSet& set : frame::kCommandSets)
        sets << QLatin1Char(set.digit) + QLatin1Char(' ') + QLatin1String(set.name);
    return QStringLiteral("A pole display in software. It shows its 2x20 screen as the command "
                          "set in force draws it, each configuration frame it receives and what "
                          "it then stores, and the bytes that the set does not understand. On a "
                          "terminal the screen is redrawn in place; otherwise each change is "
                          "printed as two lines between bars.\n\nCommand sets: %1.")
        .arg(sets.join(QStringLiteral(", ")));
}

// A path is opened by its bytes: one that is not UTF-8 cannot be named exactly, and an empty
// one names nothing.
std::optional<int> refusePaths(const cli::Parser& parser, const QList<QCommandLineOption>& all,
                               const QStringList& arguments, const QList<int>& invalid) {
    for (const Option path : {Link, Device, Input, Eeprom, Forward}) {
        const QString option = QStringLiteral("--") + all[path].names().first();
        for (const int i : invalid)
            if (arguments[i].startsWith(option + u'=') || (i > 1 && arguments[i - 1] == option))
                return cli::fail(EX_USAGE, QStringLiteral("%1 is not valid UTF-8").arg(option));
        if (parser.isSet(all[path]) && parser.value(all[path]).isEmpty())
            return cli::fail(EX_USAGE, QStringLiteral("%1 needs a path").arg(option));
    }
    return std::nullopt;
}

// Options that cannot go together.
std::optional<int> refuseCombinations(const cli::Parser& parser,
                                      const QList<QCommandLineOption>& all) {
    auto given = [&](Option o) { return parser.isSet(all[o]); };
    if (given(Device) && given(Link))
        return cli::fail(EX_USAGE,
                         QStringLiteral("--link applies to the pseudo-terminal, not to --device"));
    if (given(Input) && (given(Device) || given(Link)))
        return cli::fail(
            EX_USAGE, QStringLiteral("--input reads a capture; it takes no --%1")
                          .arg(given(Device) ? QStringLiteral("device") : QStringLiteral("link")));
    if (given(Forward) && (given(Input) || given(Device)))
        return cli::fail(
            EX_USAGE, QStringLiteral("--forward passes on what comes to the "
                                     "pseudo-terminal; it takes no --%1")
                          .arg(given(Input) ? QStringLiteral("input") : QStringLiteral("device")));
    if (given(Strict) && !given(Input))
        return cli::fail(EX_USAGE, QStringLiteral("--strict applies to --input"));
    if (given(Identify) && (given(Once) || given(Strict)))
        return cli::fail(EX_USAGE,
                         QStringLiteral("--identify has an exit status of its own; it "
                                        "takes no --%1")
                             .arg(given(Once) ? QStringLiteral("once") : QStringLiteral("strict")));
    return std::nullopt;
}

// --code-table and --wrap.
std::optional<int> readVariant(const cli::Parser& parser, const QList<QCommandLineOption>& all,
                               display::Variant& variant) {
    if (parser.isSet(all[Table])) {
        const auto table = display::codeTableNamed(parser.value(all[Table]));
        if (!table)
            return cli::fail(EX_USAGE,
                             QStringLiteral("--code-table must be one of %1, not \"%2\"")
                                 .arg(display::codeTableNames().join(QStringLiteral(", ")),
                                      shown(parser.value(all[Table]))));
        variant.style = display::styleOf(*table);
    }
    const QString wrap = parser.value(all[Wrap]);
    if (parser.isSet(all[Wrap]) && wrap != QLatin1String("eager") && wrap != QLatin1String("late"))
        return cli::fail(
            EX_USAGE, QStringLiteral("--wrap must be eager or late, not \"%1\"").arg(shown(wrap)));
    variant.lateWrap = wrap == QLatin1String("late");
    return std::nullopt;
}

} // namespace

std::variant<Request, int> parseRequest(int argc, char* argv[]) {
    cli::Parser parser(description());
    const QList<QCommandLineOption> all = options();
    QList<int> invalid; // arguments that are not valid UTF-8
    const QStringList arguments = cli::arguments(argc, argv, &invalid);
    if (const auto stop = parser.parse(all, arguments))
        return *stop;
    if (const auto stop = refusePaths(parser, all, arguments, invalid))
        return *stop;
    const QString bps = parser.value(all[Speed]);
    if (const auto stop = cli::refuseSpeed(bps))
        return *stop;
    if (const auto stop = refuseCombinations(parser, all))
        return *stop;
    Request request{parser.value(all[Link]),
                    parser.value(all[Device]),
                    parser.value(all[Input]),
                    parser.value(all[Eeprom]),
                    -1,
                    bps.toInt(),
                    parser.isSet(all[Hex]),
                    parser.isSet(all[Once]),
                    parser.isSet(all[Json]),
                    parser.isSet(all[Strict])};
    request.identify = parser.isSet(all[Identify]);
    request.forward = parser.value(all[Forward]);
    if (const auto stop = readVariant(parser, all, request.variant))
        return *stop;
    if (parser.isSet(all[Set])) {
        const std::optional<int> set = frame::codeOf(parser.value(all[Set]));
        if (!set)
            return cli::fail(EX_USAGE, QStringLiteral("--set must be one digit from %1, not \"%2\"")
                                           .arg(frame::codeRange(), shown(parser.value(all[Set]))));
        request.set = *set;
    }
    return request;
}
