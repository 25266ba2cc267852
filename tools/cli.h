#pragma once

// What vorq-write and vorq-display share on the command line.

#include "link/frame.h"
#include "link/linkresult.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <optional>
#include <sysexits.h>

namespace cli {

// Prints "<program>: <line>" on stderr and gives `status` back, for `return fail(...)`.
// Characters that are not printable, such as those of a value the user gave, are escaped:
// the message stays one line and drives no terminal.
inline int fail(int status, const QString& line) {
    QTextStream(stderr) << QCoreApplication::applicationName() << ": " << frame::escaped(line)
                        << Qt::endl;
    return status;
}

// Parses the arguments of a program that takes options only. Answers --help and --version
// itself (they exit). Returns the exit status when the program must stop: EX_USAGE for an
// unknown option, a missing value or a stray argument.
inline std::optional<int> parse(QCommandLineParser& parser) {
    parser.addHelpOption();
    parser.addVersionOption();
    if (!parser.parse(QCoreApplication::arguments()))
        return fail(EX_USAGE, parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(EX_OK);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return fail(
            EX_USAGE,
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
    return std::nullopt;
}

// The exit status for a port that failed: 69 missing or busy, 77 permission denied,
// 64 invalid settings, 74 any other input/output failure.
inline int exitStatusFor(LinkResult::Cause cause) {
    switch (cause) {
    case LinkResult::Cause::Missing:
    case LinkResult::Cause::Busy:
        return EX_UNAVAILABLE;
    case LinkResult::Cause::Permission:
        return EX_NOPERM;
    case LinkResult::Cause::Invalid:
        return EX_USAGE;
    case LinkResult::Cause::None:
    case LinkResult::Cause::Io:
        break;
    }
    return EX_IOERR;
}

} // namespace cli
