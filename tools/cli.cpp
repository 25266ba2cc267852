#include "tools/cli.h"

#include <QCommandLineParser>

namespace cli {

namespace {

using Cause = LinkResult::Cause;
using Hold = LinkResult::Hold;
using Stage = LinkResult::Stage;

QString busy(const LinkResult& r) {
    const QString lock = shown(r.lockFile);
    switch (r.hold) {
    case Hold::NotALock:
        return QStringLiteral("%1 is not a lock file (%2); remove it if no program uses the port")
            .arg(lock, r.error);
    case Hold::GarbledLock:
        return QStringLiteral("%1 names no process (it is empty or garbled); remove it if no "
                              "program uses the port")
            .arg(lock);
    case Hold::Lock:
    case Hold::Flock:
    case Hold::Exclusive:
    case Hold::Unknown:
        break;
    }
    QString by = r.hold == Hold::Exclusive ? QStringLiteral("a program that opened it in "
                                                            "exclusive mode")
                 : r.holder.isEmpty()      ? QStringLiteral("another program")
                                           : shown(r.holder);
    if (r.hold == Hold::Lock)
        by += QStringLiteral(", lock ") + lock;
    if (!r.lockNames.isEmpty())
        by += QStringLiteral(", although the lock names ") + shown(r.lockNames);
    return QStringLiteral("Device or resource busy: held by %1. Another program holds the "
                          "port; close that program and try again")
        .arg(by);
}

QString settings(const LinkResult& r) {
    if (r.file.isEmpty())
        return QStringLiteral("\"%1\" cannot be a device: %2").arg(shown(r.entry), r.error);
    const QString at =
        r.line > 0 ? QStringLiteral("%1:%2").arg(shown(r.file)).arg(r.line) : shown(r.file);
    const QString what = r.line > 0 ? QStringLiteral("%1: %2").arg(shown(r.entry), r.error)
                                    : QStringLiteral("the file cannot be read (%1)").arg(r.error);
    return QStringLiteral("COM%1 is not used: %2: %3. Correct the settings; VORQ does not fall "
                          "back to another device")
        .arg(r.port)
        .arg(at, what);
}

} // namespace

int exitStatus(LinkResult::Cause cause) {
    switch (cause) {
    case Cause::Missing:
    case Cause::Busy:
        return EX_UNAVAILABLE;
    case Cause::Permission:
        return EX_NOPERM;
    case Cause::RefusedText:
        return EX_DATAERR;
    case Cause::LineSettings:
        return EX_USAGE;
    case Cause::Settings:
        return EX_CONFIG;
    case Cause::None:
        return EX_OK;
    case Cause::NotSerial:
    case Cause::Io:
    case Cause::Timeout:
        break;
    }
    return EX_IOERR;
}

QString describe(const LinkResult& r) {
    const QString error = r.error.isEmpty() ? QString() : QStringLiteral(": ") + r.error;
    QString line;
    switch (r.cause) {
    case Cause::None:
        return {};
    case Cause::Missing:
        line = QStringLiteral("%1 cannot be opened%2. There is no such port on this machine")
                   .arg(r.where(), error);
        break;
    case Cause::Permission:
        line = QStringLiteral("%1 cannot be opened%2. Add your user to the dialout group (sudo "
                              "usermod -aG dialout $USER), then log out and in again")
                   .arg(r.where(), error);
        break;
    case Cause::Busy:
        line = QStringLiteral("%1 cannot be opened: %2").arg(r.where(), busy(r));
        break;
    case Cause::NotSerial:
        line = QStringLiteral("%1 is not a serial line; nothing was sent").arg(r.where());
        break;
    case Cause::Timeout:
        line = QStringLiteral("%1: %2 bytes had not left the port after %3 ms; they were "
                              "discarded")
                   .arg(r.where())
                   .arg(r.bytes)
                   .arg(r.boundMs);
        break;
    case Cause::RefusedText:
        line = QStringLiteral("the scroll data cannot be sent: ") +
               frame::describe(r.refusals).replace(QLatin1Char('\n'), QStringLiteral("; "));
        break;
    case Cause::Settings:
        line = settings(r);
        break;
    case Cause::LineSettings:
        line =
            QStringLiteral("\"%1\" is not a line setting such as 9600,n,8,1").arg(shown(r.entry));
        break;
    case Cause::Io:
        line = r.stage == Stage::Configure
                   ? QStringLiteral("cannot set %1 on %2%3").arg(r.entry, r.where(), error)
               : r.stage == Stage::Open
                   ? QStringLiteral("%1 cannot be opened%2").arg(r.where(), error)
                   : QStringLiteral("%1: the write failed%2").arg(r.where(), error);
        break;
    }
    if (r.closedByFailure)
        line += QStringLiteral("; %1 was closed: the device failed or went away").arg(r.where());
    return line + QLatin1Char('.');
}

namespace {

const QCommandLineOption* find(const QList<QCommandLineOption>& options, QStringView name) {
    for (const QCommandLineOption& o : options)
        if (o.names().contains(name))
            return &o;
    return nullptr;
}

} // namespace

std::optional<int> Parser::shortOptions(QStringView arg) {
    for (const QChar c : arg.sliced(1)) {
        if (c == u'h')
            m_help = true;
        else if (c == u'v')
            m_version = true;
        else
            return fail(EX_USAGE, QStringLiteral("Unknown option '%1'.").arg(c));
    }
    return std::nullopt;
}

std::optional<int> Parser::longOption(const QList<QCommandLineOption>& options,
                                      const QStringList& arguments, qsizetype& i) {
    const QString& arg = arguments[i];
    const qsizetype eq = arg.indexOf(u'=');
    const QString name = arg.mid(2, eq < 0 ? -1 : eq - 2);
    const QCommandLineOption* option = find(options, name);
    const bool ours = name == QLatin1String("help") || name == QLatin1String("help-all") ||
                      name == QLatin1String("version");
    if (!option && !ours)
        return fail(EX_USAGE, QStringLiteral("Unknown option '%1'.").arg(name));
    if (!option || option->valueName().isEmpty()) { // a switch
        if (eq >= 0)
            return fail(EX_USAGE, QStringLiteral("Unexpected value after '--%1'.").arg(name));
        m_help = m_help || (ours && name != QLatin1String("version"));
        m_version = m_version || name == QLatin1String("version");
        if (option)
            m_given.append({name, QString()});
        return std::nullopt;
    }
    if (eq >= 0) {
        m_given.append({name, arg.mid(eq + 1)});
        return std::nullopt;
    }
    if (i + 1 == arguments.size())
        return fail(EX_USAGE, QStringLiteral("Missing value after '--%1'.").arg(name));
    const QString& next = arguments[++i];
    if (next.startsWith(QLatin1String("--")))
        return fail(EX_USAGE, QStringLiteral("--%1 needs a value, but \"%2\" follows it "
                                             "(write --%1=%2 if that is the value)")
                                  .arg(name, shown(next)));
    m_given.append({name, next});
    return std::nullopt;
}

std::optional<int> Parser::parse(const QList<QCommandLineOption>& options,
                                 const QStringList& arguments) {
    QStringList positional;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == QLatin1String("--")) {
            positional += arguments.mid(i + 1);
            break;
        }
        std::optional<int> stop;
        if (!arg.startsWith(u'-') || arg.size() == 1)
            positional << arg;
        else if (!arg.startsWith(QLatin1String("--"))) // short options, as in "-h" or "-hv"
            stop = shortOptions(arg);
        else
            stop = longOption(options, arguments, i);
        if (stop)
            return stop;
    }
    if (m_help || m_version)
        answer(options, m_help);
    for (qsizetype i = 0; i < m_given.size(); ++i)
        for (qsizetype j = 0; j < i; ++j)
            if (find(options, m_given[i].first) == find(options, m_given[j].first))
                return fail(EX_USAGE,
                            QStringLiteral("--%1 is given more than once").arg(m_given[i].first));
    if (!positional.isEmpty())
        return fail(EX_USAGE,
                    QStringLiteral("unexpected argument \"%1\"").arg(shown(positional.first())));
    return std::nullopt;
}

bool Parser::isSet(const QCommandLineOption& option) const {
    for (const auto& [name, value] : m_given)
        if (option.names().contains(name))
            return true;
    return false;
}

QString Parser::value(const QCommandLineOption& option) const {
    for (auto given = m_given.crbegin(); given != m_given.crend(); ++given)
        if (option.names().contains(given->first))
            return given->second;
    return option.defaultValues().value(0);
}

void Parser::answer(const QList<QCommandLineOption>& options, bool help) const {
    QCommandLineParser qt;
    qt.setApplicationDescription(m_description);
    qt.addOptions(options);
    qt.addHelpOption();
    qt.addVersionOption();
    if (help)
        qt.showHelp(EX_OK);
    qt.showVersion();
}

int comNumberOf(const PortMap& map, const QString& path) {
    for (int n = 1; n <= PortMap::kPorts; ++n)
        if (map.device(n) == path)
            return n;
    return 0;
}

std::variant<Target, int> resolvePort(const PortMap& map, const QString& port, const char* option) {
    const int named = ::comNumberOf(port);
    if (named < 0 && !port.isEmpty()) {
        if (const QString why = PortMap::unusableDevice(port); !why.isEmpty())
            return fail(EX_USAGE, QStringLiteral("%1 \"%2\" cannot be a device: %3")
                                      .arg(QLatin1String(option), shown(port), why));
        return Target{comNumberOf(map, port), port};
    }
    const int n = qMax(named, 0);
    if (n < 1 || n > PortMap::kPorts)
        return fail(EX_USAGE, QStringLiteral("%1 must be COM1 to COM%2 or a device path, not "
                                             "\"%3\"")
                                  .arg(QLatin1String(option))
                                  .arg(PortMap::kPorts)
                                  .arg(shown(port)));
    if (const LinkResult refused = map.refusal(n); !refused)
        return fail(exitStatus(refused.cause), describe(refused));
    return Target{n, map.device(n)};
}

} // namespace cli
