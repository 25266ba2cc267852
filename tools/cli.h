#pragma once

// What vorq-write and vorq-display share on the command line.

#include "link/escape.h"
#include "link/linkresult.h"
#include "link/portmap.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringDecoder>
#include <QTextStream>

#include <optional>
#include <sysexits.h>

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

// Adds `options`, --help and --version to `parser` and parses `arguments`. Answers --help
// and --version itself (they exit). Returns the exit status when the program must stop:
// EX_USAGE for an unknown option, a missing value, an option given twice, a stray argument,
// and a separate value that starts with "--" (as in "--text --dry-run", where an empty
// variable left the value out): such a value must be given as "--text=--dry-run".
inline std::optional<int> parse(QCommandLineParser& parser,
                                const QList<QCommandLineOption>& options,
                                const QStringList& arguments) {
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == QLatin1String("--"))
            break;
        for (const QCommandLineOption& o : options) {
            if (o.valueName().isEmpty() || !arg.startsWith(QLatin1String("--")) ||
                QStringView(arg).mid(2) != o.names().constFirst())
                continue;
            if (arguments[i + 1].startsWith(QLatin1String("--")))
                return fail(EX_USAGE, QStringLiteral("%1 needs a value, but \"%2\" follows it "
                                                     "(write %1=%2 if that is the value)")
                                          .arg(arg, shown(arguments[i + 1])));
            ++i;
            break;
        }
    }
    parser.addOptions(options);
    parser.addHelpOption();
    parser.addVersionOption();
    if (!parser.parse(arguments))
        return fail(EX_USAGE, parser.errorText());
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))
        parser.showHelp(EX_OK);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    const QStringList given = parser.optionNames();
    for (const QString& name : given)
        if (given.count(name) > 1)
            return fail(EX_USAGE, QStringLiteral("--%1 is given more than once").arg(name));
    if (!parser.positionalArguments().isEmpty())
        return fail(EX_USAGE, QStringLiteral("unexpected argument \"%1\"")
                                  .arg(shown(parser.positionalArguments().first())));
    return std::nullopt;
}

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

// One line for an ignored settings line (see portmap.h).
using ::describe;

} // namespace cli
