#pragma once

// What vorq-write and vorq-display share on the command line.

#include "line/linkresult.h"
#include "line/portmap.h"
#include "protocol/escape.h"

#include <QCommandLineOption>
#include <QCoreApplication>
#include <QStringDecoder>
#include <QTextStream>

#include <optional>
#include <sysexits.h>
#include <variant>

namespace cli {

// Prints "<program>: <line>" on stderr and gives `status` back, for `return fail(...)`.
// The line of the last failure (status not 0) stays in lastFailure(), for a report that
// repeats it.
// Characters that are not printable, such as those of a value the user gave, are escaped:
// the message stays one line and drives no terminal.
inline QString& lastFailure() {
    static QString line;
    return line;
}
inline int fail(int status, const QString& line) {
    QTextStream(stderr) << QCoreApplication::applicationName() << ": " << escaped(line) << Qt::endl;
    if (status != 0)
        lastFailure() = line;
    return status;
}

// The program's arguments, decoded from UTF-8 as they are: a leading U+FEFF is kept (Qt's
// own decoding drops it from a separate argument but not from "--opt=value"), and bytes that
// are not UTF-8, or a sequence cut off at the end, make that argument's index part of
// `invalid`.
inline QStringList arguments(int argc, char* argv[], QList<int>* invalid) {
    QStringList decoded;
    for (int i = 0; i < argc; ++i) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                      QStringDecoder::Flag::ConvertInitialBom);
        decoded << utf8.decode(QByteArrayView(argv[i]));
        if (utf8.hasError() && invalid)
            invalid->append(i);
    }
    return decoded;
}

// A tool's command line, read against its options: "--name" for a switch, "--name VALUE" or
// "--name=VALUE" for an option with a value name; "--" ends the options. --help (also -h and
// --help-all) and --version (-v) are answered by Qt's own parser, built only then, so
// that they read as Qt words them.
class Parser {
public:
    explicit Parser(QString description) : m_description(std::move(description)) {}

    // Reads `arguments` (the program's name first). Answers --help and --version itself
    // (they exit). Returns the exit status when the program must stop: EX_USAGE for an
    // unknown option, a missing value, a value given to a switch, an option given twice, a
    // stray argument, and a separate value that starts with "--" (as in "--text --dry-run",
    // where an empty variable left the value out): such a value must be given as
    // "--text=--dry-run".
    std::optional<int> parse(const QList<QCommandLineOption>& options,
                             const QStringList& arguments);

    bool isSet(const QCommandLineOption& option) const;
    // The value given to `option`, else its default (empty when it has none).
    QString value(const QCommandLineOption& option) const;

private:
    [[noreturn]] void answer(const QList<QCommandLineOption>& options, bool help) const;
    // One argument of short options ("-hv"), or one long option and its value, which may be
    // the next argument (then `i` moves on to it).
    std::optional<int> shortOptions(QStringView arg);
    std::optional<int> longOption(const QList<QCommandLineOption>& options,
                                  const QStringList& arguments, qsizetype& i);

    QString m_description;
    bool m_help = false;
    bool m_version = false;
    QList<std::pair<QString, QString>> m_given; // option names as given, with their values
};

// EX_USAGE, after saying so, when `bps` (the value of --speed) is not one of the display's
// speeds; nothing when it is.
inline std::optional<int> refuseSpeed(const QString& bps) {
    if (isDisplaySpeed(bps))
        return std::nullopt;
    return fail(EX_USAGE, QStringLiteral("--speed must be %1 or %2, not \"%3\"")
                              .arg(kDisplaySpeeds[0])
                              .arg(kDisplaySpeeds[1])
                              .arg(shown(bps)));
}

// The exit status for each cause of a failure (sysexits): 69 missing or busy, 77 permission
// denied, 65 refused text, 64 an invalid line setting, 78 refused by the settings, 74 any
// other input/output failure (not a serial line, a failed or timed-out write).
int exitStatus(LinkResult::Cause cause);

// One line for what the link answered, naming the port or device, what happened and what
// to do about it.
QString describe(const LinkResult& result);

// The COM number (1 to 5) whose device is `path` in `map`, or 0.
int comNumberOf(const PortMap& map, const QString& path);

// A serial device to open, and the COM number it is.
struct Target {
    int number = 0; // COMn, or 0 for a device that is none of COM1 to COM5
    QString path;
    QString label() const {
        return number ? QStringLiteral("%1 (COM%2)").arg(shown(path)).arg(number) : shown(path);
    }
};

// The device that `port` (COM1 to COM5, or a device path, as the value of `option`) names,
// or the exit status after saying why there is none to use.
std::variant<Target, int> resolvePort(const PortMap& map, const QString& port, const char* option);

// One line for an ignored settings line (see portmap.h).
using ::describe;

} // namespace cli
