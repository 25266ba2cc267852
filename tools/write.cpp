// vorq-write: sends one configuration frame from the command line, for scripted set-up, or
// a command set's test pattern.
//
// Exit statuses (sysexits): 0 sent; 64 usage; 65 refused text; 69 port missing or busy;
// 74 input/output failure (the port failed while opening or writing); 77 permission denied;
// 78 the settings file refuses the COM number (or cannot be read). With --json, stdout holds
// one JSON object for every outcome instead of the line of a successful run.
#include "display/display.h"
#include "line/portmap.h"
#include "line/serialport.h"
#include "line/signalwatch.h"
#include "protocol/escape.h"
#include "protocol/frame.h"
#include "store/writerecord.h"
#include "tools/cli.h"
#include "version.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <cstdio>
#include <optional>
#include <sysexits.h>
#include <variant>

namespace {

using cli::Target;

// One line on stdout: `bytes` (UTF-8) and a line feed.
void printLine(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// What the command line asks for, once it has been checked.
struct Request {
    enum class Action { Send, DryRun, List } action = Action::Send;
    QString port;  // as given: "COM1" or a device path
    int bps = 0;   // 9600 or 19200
    QString code;  // one character
    QString text;  // the scroll data as given
    QString state; // the write record's file
    bool ifChanged = false;
    bool testPattern = false; // the code's test pattern instead of a frame
};

// How a run ended, for the one line of a person and the one JSON object of a program.
struct Outcome {
    int status = EX_OK;
    QString message; // the line printed: on stdout on success, on stderr on failure
    bool changed = false;
    std::optional<QString> port, device, code, text; // unknown: null in JSON
    std::optional<int> speed;
    std::optional<QByteArray> frame;
    std::optional<WrittenFrame> previous;
};

// The outcome as one line of JSON, with the fields that a rollout reads.
QByteArray toJson(const Outcome& o) {
    auto orNull = [](const auto& value) {
        return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
    };
    QJsonObject previous;
    if (o.previous)
        previous = {{QStringLiteral("speed"), o.previous->speed},
                    {QStringLiteral("code"), o.previous->code},
                    {QStringLiteral("text"), o.previous->text},
                    {QStringLiteral("frame"), toHex(o.previous->frame)},
                    {QStringLiteral("time"), o.previous->time},
                    {QStringLiteral("program"), o.previous->program}};
    const QJsonObject json{
        {QStringLiteral("changed"), o.changed},
        {QStringLiteral("status"), o.status},
        {QStringLiteral("message"), o.message},
        {QStringLiteral("port"), orNull(o.port)},
        {QStringLiteral("device"), orNull(o.device)},
        {QStringLiteral("speed"), orNull(o.speed)},
        {QStringLiteral("code"), orNull(o.code)},
        {QStringLiteral("text"), orNull(o.text)},
        {QStringLiteral("frame"), o.frame ? QJsonValue(toHex(*o.frame)) : QJsonValue()},
        {QStringLiteral("previous"), o.previous ? QJsonValue(previous) : QJsonValue()},
    };
    return QJsonDocument(json).toJson(QJsonDocument::Compact);
}

// The serial devices present, then what each COM number maps to and whether it is here.
int listPorts(const PortMap& map) {
    QTextStream out(stdout);
    const QList<SerialDevice> devices = systemSerialDevices();
    auto orDash = [](const QString& s) { return s.isEmpty() ? QStringLiteral("-") : shown(s); };
    if (devices.isEmpty()) {
        out << "No serial ports found." << Qt::endl;
    } else {
        out << "device\tCOM\tdescription\tmaker\tserial number\tby-id" << Qt::endl;
        for (const SerialDevice& d : devices) {
            int n = cli::comNumberOf(map, d.path);
            if (n == 0 && !d.byId.isEmpty())
                n = cli::comNumberOf(map, d.byId);
            out << shown(d.path) << '\t'
                << (n ? QStringLiteral("COM%1").arg(n) : QStringLiteral("-")) << '\t'
                << orDash(d.description) << '\t' << orDash(d.manufacturer) << '\t'
                << orDash(d.serialNumber) << '\t' << orDash(d.byId) << Qt::endl;
        }
    }
    out << Qt::endl << "COM\tdevice\tpresent" << Qt::endl;
    for (int n = 1; n <= PortMap::kPorts; ++n) {
        if (const LinkResult refused = map.refusal(n); !refused)
            out << "COM" << n << "\trefused: " << escaped(cli::describe(refused)) << "\tno"
                << Qt::endl;
        else
            out << "COM" << n << '\t' << shown(map.device(n)) << '\t'
                << (QFileInfo::exists(map.device(n)) ? "yes" : "no") << Qt::endl;
    }
    return EX_OK;
}

enum Option {
    Port,
    Speed,
    Code,
    Text,
    DryRun,
    List,
    State,
    IfChanged,
    Json,
    TestPattern,
    kOptions
};

QList<QCommandLineOption> options() {
    QList<QCommandLineOption> o{
        {QStringLiteral("port"),
         QStringLiteral("COM1 to COM5 (as mapped in vorq.conf), or a device path such as "
                        "/dev/ttyUSB0. Default: COM1."),
         QStringLiteral("port"), QStringLiteral("COM1")},
        {QStringLiteral("speed"), QStringLiteral("9600 or 19200 (8N1). Default: 9600."),
         QStringLiteral("bps"), QStringLiteral("9600")},
        {QStringLiteral("code"),
         QStringLiteral("The command set, %1. Required.").arg(frame::codeRange()),
         QStringLiteral("digit")},
        {QStringLiteral("text"),
         QStringLiteral("The scroll data, at most %1 characters. Without it, the scroll data is "
                        "empty.")
             .arg(frame::kMaxScrollData),
         QStringLiteral("text")},
        {QStringLiteral("dry-run"), QStringLiteral("Print the frame as hex bytes; open nothing.")},
        {QStringLiteral("list"),
         QStringLiteral("List the serial ports of this machine and what COM1 to COM5 map to.")},
        {QStringLiteral("state"),
         QStringLiteral("The record of what was written to each display. Default: "
                        "$XDG_STATE_HOME/vorq/written.conf."),
         QStringLiteral("file")},
        {QStringLiteral("if-changed"),
         QStringLiteral("Write only when the record does not show this frame at this speed on "
                        "this device; otherwise open nothing and say since when it is there.")},
        {QStringLiteral("json"),
         QStringLiteral("Print one JSON object on stdout for every outcome.")},
        {QStringLiteral("test-pattern"),
         QStringLiteral("Send, in the command set --code, bytes that clear the display and show "
                        "\"TEST <digit> <NAME>\" and \"0123456789ABCDEFGHIJ\", instead of a "
                        "frame: after a write and a power cycle, two clean lines mean that the "
                        "set took effect. Not recorded, as the EEPROM is unchanged.")},
    };
    Q_ASSERT(o.size() == kOptions);
    return o;
}

// The first option of `which` that is given, as "--name", or nothing.
std::optional<QString> anyGiven(const cli::Parser& parser, const QList<QCommandLineOption>& all,
                                std::initializer_list<Option> which) {
    for (const Option o : which)
        if (parser.isSet(all[o]))
            return QStringLiteral("--") + all[o].names().first();
    return std::nullopt;
}

// A path is opened by its bytes, and the text sent by them: a value that is not UTF-8 cannot
// be named exactly.
std::optional<int> refuseInvalid(const QStringList& arguments, const QList<int>& invalid) {
    for (const int i : invalid)
        for (const char* option : {"--text", "--port", "--state"})
            if (arguments[i].startsWith(QLatin1String(option) + u'=') ||
                (i > 1 && arguments[i - 1] == QLatin1String(option)))
                return cli::fail(
                    qstrcmp(option, "--text") == 0 ? EX_DATAERR : EX_USAGE,
                    QStringLiteral("%1 is not valid UTF-8").arg(QLatin1String(option)));
    return std::nullopt;
}

// The request that `argv` makes, or the exit status when it makes none that can be run.
std::variant<Request, int> parse(int argc, char* argv[]) {
    cli::Parser parser(QStringLiteral(
        "Stores a command set and scroll data in a pole display's EEPROM by sending one "
        "configuration frame."));
    const QList<QCommandLineOption> all = options();
    QList<int> invalid; // arguments that are not valid UTF-8
    const QStringList arguments = cli::arguments(argc, argv, &invalid);
    if (const auto stop = parser.parse(all, arguments))
        return *stop;
    Request request;
    request.state =
        parser.isSet(all[State]) ? parser.value(all[State]) : WriteRecord::standardFile();
    request.ifChanged = parser.isSet(all[IfChanged]);
    if (parser.isSet(all[List])) {
        if (const auto other =
                anyGiven(parser, all,
                         {Port, Speed, Code, Text, DryRun, State, IfChanged, Json, TestPattern}))
            return cli::fail(EX_USAGE,
                             QStringLiteral("--list sends nothing; it takes no %1").arg(*other));
        request.action = Request::Action::List;
        return request;
    }
    if (const auto stop = refuseInvalid(arguments, invalid))
        return *stop;
    request.testPattern = parser.isSet(all[TestPattern]);
    if (const auto other = anyGiven(parser, all, {Text, IfChanged, State});
        other && request.testPattern)
        return cli::fail(
            EX_USAGE, QStringLiteral("--test-pattern stores nothing; it takes no %1").arg(*other));
    if (!parser.isSet(all[Code]))
        return cli::fail(EX_USAGE,
                         QStringLiteral("--code is required (%1)").arg(frame::codeRange()));
    request.code = parser.value(all[Code]);
    if (request.code.size() != 1)
        return cli::fail(EX_USAGE, QStringLiteral("--code must be one digit from %1, not \"%2\"")
                                       .arg(frame::codeRange(), shown(request.code)));
    const QString bps = parser.value(all[Speed]);
    if (const auto stop = cli::refuseSpeed(bps))
        return *stop;
    request.bps = bps.toInt();
    request.port = parser.value(all[Port]);
    request.text = parser.value(all[Text]);
    request.action = parser.isSet(all[DryRun]) ? Request::Action::DryRun : Request::Action::Send;
    return request;
}

// "COM1 (/dev/ttyUSB0)", or the device alone.
QString nameOf(const Target& target) {
    return target.number ? QStringLiteral("COM%1 (%2)").arg(target.number).arg(shown(target.path))
                         : shown(target.path);
}

Outcome failed(Outcome o, int status, const QString& line) {
    o.status = cli::fail(status, line);
    o.message = line;
    return o;
}

// The frame for the request's code digit (one of 0 to 6) and scroll data, or why the
// scroll data cannot be sent.
std::variant<QByteArray, LinkResult> frameFor(const Request& request) {
    const frame::Built built = frame::build(frame::kAccessCode + request.code + request.text);
    if (built)
        return built.bytes;
    LinkResult refused = LinkResult::failure(LinkResult::Cause::RefusedText);
    refused.refusals = built.refusals;
    return refused;
}

// Opens the target at `bps`, writes `bytes` and closes it again, releasing the line and its
// lock before anything else is done.
LinkResult send(const Target& target, int bps, const QByteArray& bytes) {
    const QString path = target.path;
    SerialPort serial([path](int) { return path; });
    serial.setCommPort(target.number);
    LinkResult step = serial.setSettings(lineSettingsFor(bps));
    if (step)
        step = serial.setPortOpen(true);
    if (step)
        step = serial.WriteBytes(bytes);
    return step;
}

// Prints `bytes` as hex for a dry run, or sends them: the outcome when that ends the run (a
// dry run, a signal before the port was opened, a failure), nothing once they were sent.
std::optional<Outcome> deliver(const Request& request, const Target& target,
                               const QByteArray& bytes, Outcome o) {
    if (request.action == Request::Action::DryRun) {
        o.message = toHex(bytes);
        return o;
    }
    if (SignalWatch::pending()) {
        o.changed = false;
        return failed(o, SignalWatch::exitStatus(),
                      QStringLiteral("ended by signal %1 before anything was sent")
                          .arg(SignalWatch::pending()));
    }
    if (const LinkResult sent = send(target, request.bps, bytes); !sent) {
        o.changed = false;
        return failed(o, cli::exitStatus(sent.cause), cli::describe(sent));
    }
    return std::nullopt;
}

// Sends the test pattern of the request's command set; nothing is recorded.
Outcome sendPattern(const Request& request, const Target& target, Outcome o) {
    const int code = *frame::codeOf(request.code);
    const QByteArray bytes = display::testPattern(code);
    o.frame = bytes;
    o.text.reset();
    o.changed = true;
    if (std::optional<Outcome> ended = deliver(request, target, bytes, o))
        return *ended;
    o.message = QStringLiteral("Sent the test pattern of command set %1 %2 (%3 bytes) to %4 at %5.")
                    .arg(code)
                    .arg(frame::commandSetName(code))
                    .arg(bytes.size())
                    .arg(target.label(), lineSettingsFor(request.bps));
    if (const QList<int> alike = display::readAlike(code); !alike.isEmpty()) {
        QStringList codes;
        for (const int other : alike)
            codes << QString::number(other);
        o.message += QStringLiteral(" Command sets %1 show it as cleanly: two clean lines do not "
                                    "tell them from set %2.")
                         .arg(codes.join(QStringLiteral(" and ")))
                         .arg(code);
    }
    return o;
}

// `json`: the outcome goes out as JSON, which shows the record's previous frame.
Outcome run(const Request& request, bool json) {
    Outcome o;
    o.port = request.port;
    o.speed = request.bps;
    o.code = request.code;
    o.text = request.text;
    PortMap map(SerialPort::systemDevice, PortMap::standardFiles());
    for (const PortMap::Warning& warning : map.load())
        cli::fail(0, QStringLiteral("warning: ") + cli::describe(warning));
    if (request.action == Request::Action::List) {
        o.status = listPorts(map);
        return o;
    }

    if (!frame::codeOf(request.code))
        return failed(o, EX_USAGE,
                      QStringLiteral("--code must be one digit from %1, not \"%2\"")
                          .arg(frame::codeRange(), shown(request.code)));
    const auto resolved = cli::resolvePort(map, request.port, "--port");
    if (const int* status = std::get_if<int>(&resolved)) {
        o.status = *status;
        o.message = cli::lastFailure();
        return o;
    }
    const Target target = std::get<Target>(resolved);
    o.port = target.number ? QStringLiteral("COM%1").arg(target.number) : QString();
    o.device = target.path;

    if (request.testPattern)
        return sendPattern(request, target, o);
    const auto framed = frameFor(request);
    if (const auto* refused = std::get_if<LinkResult>(&framed))
        return failed(o, cli::exitStatus(refused->cause), cli::describe(*refused));
    const QByteArray bytes = std::get<QByteArray>(framed);
    o.frame = bytes;

    const WriteRecord record(request.state);
    const QString key = WriteRecord::keyFor(target.path);
    if (request.ifChanged || json) // nothing else uses the previous frame
        o.previous = record.find(key);
    if (request.ifChanged && o.previous && o.previous->frame == bytes &&
        o.previous->speed == request.bps) {
        o.message = QStringLiteral("%1: unchanged since %2").arg(nameOf(target), o.previous->time);
        return o;
    }
    o.changed = true;
    if (std::optional<Outcome> ended = deliver(request, target, bytes, o))
        return *ended;
    const WrittenFrame written{request.bps, request.code,           frame::composed(request.text),
                               bytes,       WriteRecord::timeNow(), QStringLiteral("vorq-write")};
    if (const ConfFile::SaveError saved = record.save(key, written); !saved.ok())
        cli::fail(0, QStringLiteral("warning: the frame was written, but the record %1 could "
                                    "not be saved: %2")
                         .arg(shown(saved.path), saved.error));
    o.message = QStringLiteral("Wrote %1 bytes to %2 at %3.")
                    .arg(bytes.size())
                    .arg(target.label(), lineSettingsFor(request.bps));
    return o;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vorq-write"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORQ_VERSION));
    bool json = false; // known before the arguments are checked, for a usage error's report
    for (int i = 1; i < argc && qstrcmp(argv[i], "--") != 0; ++i)
        json = json || qstrcmp(argv[i], "--json") == 0;
    // A signal lets a frame under way finish (within its wire time and a second) or stops
    // before the port is opened; either way the port is closed as on a normal exit.
    SignalWatch signals;
    const auto request = parse(argc, argv);
    Outcome outcome;
    if (const int* status = std::get_if<int>(&request)) {
        outcome.status = *status;
        outcome.message = cli::lastFailure();
    } else {
        outcome = run(std::get<Request>(request), json);
    }
    const bool listed = !json && std::holds_alternative<Request>(request) &&
                        std::get<Request>(request).action == Request::Action::List;
    const bool succeeded = outcome.status == EX_OK;
    if (SignalWatch::pending())
        outcome.status = SignalWatch::exitStatus();
    if (json)
        printLine(terminalSafeJson(toJson(outcome)));
    else if (succeeded && !listed)
        printLine(outcome.message.toUtf8());
    if (succeeded && SignalWatch::pending())
        cli::fail(0, QStringLiteral("ended by signal %1").arg(SignalWatch::pending()));
    return outcome.status;
}
