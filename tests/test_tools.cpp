// vorq-write and vorq-display as programs: arguments, exit statuses, output, and a frame
// sent by one and decoded by the other. Every run that may open a port is given a
// pseudo-terminal or a missing path; usage errors are checked with --dry-run, which opens
// nothing whatever else is wrong.
#include "display/display.h"
#include "protocol/frame.h"
#include "store/writerecord.h"
#include "support.h"
#include "tools/cli.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sysexits.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

Run run(const QString& program, const QStringList& args, int timeoutMs = 10000) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

Run write(const QStringList& args) {
    return run(QStringLiteral(VORQ_WRITE), args);
}

QStringList words(const char* s) {
    return QString::fromUtf8(s).split(QLatin1Char(' '));
}

// vorq-write --code 1 to `port`, run as the user nobody (through setpriv, as root).
Run writeAsNobody(const QString& port) {
    return run(QStringLiteral("setpriv"),
               QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                           QStringLiteral("--clear-groups"), QStringLiteral(VORQ_WRITE)}
                   << words("--code 1 --port") << port);
}

// vorq-display as a running program, listening on a pseudo-terminal of its own.
class DisplayProcess {
public:
    explicit DisplayProcess(const QStringList& args) {
        m_p.start(QStringLiteral(VORQ_DISPLAY), args);
        m_p.waitForStarted();
        while (!m_out.contains(QLatin1Char('\n')) && m_p.waitForReadyRead(5000))
            m_out += QString::fromLocal8Bit(m_p.readAllStandardOutput());
        const QString first = m_out.section(QLatin1Char('\n'), 0, 0);
        m_device = first.startsWith(QLatin1Char('{'))
                       ? QJsonDocument::fromJson(first.toUtf8())[QLatin1String("device")].toString()
                       : first.section(QLatin1Char(' '), 2, 2);
    }
    ~DisplayProcess() {
        m_p.kill();
        m_p.waitForFinished();
    }
    QString device() const { return m_device; }
    QProcess& process() { return m_p; }
    // Waits, as long as output keeps coming, for a line that contains `text`.
    bool waitFor(const QString& text) {
        while (!m_out.contains(text) && m_p.waitForReadyRead(5000))
            m_out += QString::fromLocal8Bit(m_p.readAllStandardOutput());
        return m_out.contains(text);
    }
    // Everything it printed, once it has ended by itself within `ms`; -1 if it did not.
    int finish(QString* out, int ms = 5000) {
        const bool ended = m_p.state() == QProcess::NotRunning || m_p.waitForFinished(ms);
        *out = m_out + QString::fromLocal8Bit(m_p.readAllStandardOutput());
        return ended ? m_p.exitCode() : -1;
    }

private:
    QProcess m_p;
    QString m_out;
    QString m_device;
};

} // namespace

class TestTools : public QObject {
    Q_OBJECT
    QTemporaryDir m_config; // the programs' settings, instead of the machine's and the user's
private Q_SLOTS:
    void initTestCase();
    void usage_data();
    void usage();
    void dryRun_data();
    void dryRun();
    void helpAndVersion();
    void hex();
    void writesToADevice();
    void recordAndJson();
    void openFailures();
    void permissionDenied();
    void heldFromAnotherUser_data();
    void heldFromAnotherUser();
    void roundTrip_data();
    void roundTrip();
    void displayReportsMalformedInput();
    void displayLinkPaths_data();
    void displayLinkPaths();
    void displayEndsOnHangUp();
    void signalsCloseThePort_data();
    void signalsCloseThePort();
    void parallelWritersKeepEveryRecord();
    void testPatternRoundTrips_data();
    void testPatternRoundTrips();
    void displayReplaysAndKeepsItsEeprom();
    void eepromSurvivesSigkill();
    void liveViewOnAPty();
    void completionsOfferEveryOption_data();
    void completionsOfferEveryOption();
    void displayKeepsAnEepromFileItCannotRead();
    void displayJsonEscapesEveryControl();
    void displayHonoursSignalsOnPipes_data();
    void displayHonoursSignalsOnPipes();
    void killedSenderLeavesTheLineFree();
    void forwardPassesEveryByteBothWays_data();
    void forwardPassesEveryByteBothWays();
    void identifyNamesTheSet_data();
    void identifyNamesTheSet();
};

void TestTools::initTestCase() {
    QVERIFY(QDir().mkpath(m_config.filePath(QStringLiteral("vorq"))));
    QFile conf(m_config.filePath(QStringLiteral("vorq/vorq.conf")));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("# COM4 is left unmapped on purpose\n[ports]\nCOM4=\n");
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    qputenv("XDG_CONFIG_DIRS", m_config.filePath(QStringLiteral("none")).toUtf8());
    qputenv("XDG_STATE_HOME", m_config.filePath(QStringLiteral("state")).toUtf8());
}

void TestTools::usage_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    QTest::newRow("no code") << words("--dry-run") << EX_USAGE << "--code is required";
    QTest::newRow("code 7") << words("--dry-run --code 7") << EX_USAGE << "0 to 6";
    QTest::newRow("code 33") << words("--dry-run --code 33") << EX_USAGE << "0 to 6";
    QTest::newRow("code letter") << words("--dry-run --code a") << EX_USAGE << "0 to 6";
    QTest::newRow("speed 4800") << words("--dry-run --code 1 --speed 4800") << EX_USAGE
                                << "9600 or 19200";
    QTest::newRow("COM6") << words("--dry-run --code 1 --port COM6") << EX_USAGE << "COM1 to COM5";
    QTest::newRow("COM0") << words("--dry-run --code 1 --port COM0") << EX_USAGE << "COM1 to COM5";
    QTest::newRow("unknown option")
        << words("--dry-run --code 1 --frobnicate") << EX_USAGE << "frobnicate";
    QTest::newRow("stray argument") << words("--dry-run --code 1 extra") << EX_USAGE << "extra";
    QTest::newRow("forty-one characters")
        << (words("--dry-run --code 1 --text") << QString(41, QLatin1Char('x'))) << EX_DATAERR
        << "41 characters";
    QTest::newRow("end marker character")
        << (words("--dry-run --code 1 --text") << QString::fromUtf8("abÿ")) << EX_DATAERR
        << "Position 3";
    QTest::newRow("control character")
        << (words("--dry-run --code 1 --text") << QStringLiteral("a\tb")) << EX_DATAERR << "U+0009";
    QTest::newRow("no single-byte code")
        << (words("--dry-run --code 1 --text") << QString::fromUtf8("中")) << EX_DATAERR
        << "Position 1";
    QTest::newRow("--list with --code")
        << words("--list --code 3") << EX_USAGE << "--list sends nothing";
    QTest::newRow("--list with --text") << words("--list --text HI") << EX_USAGE << "--text";
    QTest::newRow("repeated --port") << words("--dry-run --code 1 --port /x --port /dev/null")
                                     << EX_USAGE << "--port is given more than once";
    QTest::newRow("repeated --code")
        << words("--dry-run --code 1 --code 2") << EX_USAGE << "--code is given more than once";
    QTest::newRow("repeated --speed") << words("--dry-run --code 1 --speed 9600 --speed 19200")
                                      << EX_USAGE << "--speed is given more than once";
    QTest::newRow("invalid UTF-8 (through the shell)")
        << words("--dry-run --code 1 --text \"$(printf 'a\\377')\"") << EX_DATAERR
        << "--text is not valid UTF-8";
    // A value left out (an empty variable) must not make the next option the value. Each row
    // names a missing port, so that even a regression writes nowhere.
    QTest::newRow("--text --dry-run") << words("--port /nonexistent/x --code 3 --text --dry-run")
                                      << EX_USAGE << "--text needs a value";
    QTest::newRow("--text --help") << words("--port /nonexistent/x --code 3 --text --help")
                                   << EX_USAGE << "--text needs a value";
    QTest::newRow("--code --list")
        << words("--port /nonexistent/x --code --list") << EX_USAGE << "--code needs a value";
    QTest::newRow("repeated --dry-run")
        << words("--dry-run --code 1 --dry-run") << EX_USAGE << "--dry-run is given more than once";
    QTest::newRow("repeated --list")
        << words("--list --list") << EX_USAGE << "--list is given more than once";
    QTest::newRow("UTF-8 cut off at the end")
        << words("--dry-run --code 1 --text \"$(printf 'a\\303')\"") << EX_DATAERR
        << "--text is not valid UTF-8";
    QTest::newRow("a leading U+FEFF, separate")
        << (words("--dry-run --code 1 --text") << QStringLiteral("\uFEFFHI")) << EX_DATAERR
        << "Position 1: U+FEFF";
    QTest::newRow("a leading U+FEFF, joined")
        << (words("--dry-run --code 1") << QStringLiteral("--text=\uFEFFHI")) << EX_DATAERR
        << "Position 1: U+FEFF";
    QTest::newRow("positions count characters")
        << (words("--dry-run --code 1 --text") << QString::fromUtf8("😀Ā")) << EX_DATAERR
        << "Position 2: \"Ā\"";
    QTest::newRow("an emoji as the forty-first character")
        << (words("--dry-run --code 1 --text")
            << QString(40, QLatin1Char('x')) + QString::fromUtf8("😀"))
        << EX_DATAERR << "Position 41: \"😀\" U+1F600";
    QTest::newRow("an invalid code, whatever the settings say")
        << words("--dry-run --code 9 --port com4") << EX_USAGE << "0 to 6";
    // Rows that start with "display" run vorq-display.
    for (const char* option : {"--input=", "--device=", "--link=", "--eeprom="})
        QTest::addRow("display %sempty", option)
            << words("display --once") + QStringList{QString::fromLatin1(option)} << EX_USAGE
            << "needs a path";
    QTest::newRow("display path that is not UTF-8")
        << words("display --input \"$(printf 'a\\377')\"") << EX_USAGE
        << "--input is not valid UTF-8";
    QTest::newRow("a refused COM number") << words("--dry-run --code 1 --port com4") << EX_CONFIG
                                          << "vorq.conf:3: COM4=: no device is given";
    QTest::newRow("a long value is cut")
        << (words("--dry-run --code 1 --speed") << QString(100000, QLatin1Char('9'))) << EX_USAGE
        << "999\u2026\"";
    QTest::newRow("a control character is echoed escaped")
        << (words("--dry-run --code 1 --speed") << QStringLiteral("96\n\x1B[2J")) << EX_USAGE
        << "not \"96\\x0A\\x1B[2J\"";
}

void TestTools::usage() {
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, says);
    const bool shell = args.join(QLatin1Char(' ')).contains(QLatin1String("$("));
    const bool display = args.first() == QLatin1String("display");
    const QString program = display ? QStringLiteral(VORQ_DISPLAY) : QStringLiteral(VORQ_WRITE);
    if (display)
        args.removeFirst();
    const Run r = shell
                      ? run(QStringLiteral("/bin/sh"),
                            {QStringLiteral("-c"),
                             QStringLiteral("exec \"$0\" ") + args.join(QLatin1Char(' ')), program})
                      : run(program, args);
    QCOMPARE(r.status, status);
    QVERIFY2(r.err.startsWith(QFileInfo(program).fileName() + QLatin1String(": ")) &&
                 r.err.contains(says),
             qPrintable(r.err));
    QCOMPARE(r.err.count(QLatin1Char('\n')), 1); // one clear line
    QVERIFY(r.err.size() < 600);
    QVERIFY(r.out.isEmpty());
}

void TestTools::dryRun_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("printed");
    QTest::newRow("code 3, HELLO") << words("--dry-run --code 3 --text HELLO")
                                   << "1B 6B 71 35 31 37 32 40 33 48 45 4C 4C 4F FF\n";
    QTest::newRow("no text") << words("--dry-run --code 0") << "1B 6B 71 35 31 37 32 40 30 FF\n";
    QTest::newRow("empty text") << (words("--dry-run --code 6 --text") << QString())
                                << "1B 6B 71 35 31 37 32 40 36 FF\n";
    QTest::newRow("spaces and euro")
        << (words("--dry-run --code 5 --text") << QString::fromUtf8(" € "))
        << "1B 6B 71 35 31 37 32 40 35 20 80 20 FF\n";
    QTest::newRow("a combining accent is composed")
        << (words("--dry-run --code 5 --text") << QStringLiteral("e\u0301"))
        << "1B 6B 71 35 31 37 32 40 35 E9 FF\n";
    QTest::newRow("a missing port is not opened")
        << words("--dry-run --code 2 --text A --port /nonexistent/tty")
        << "1B 6B 71 35 31 37 32 40 32 41 FF\n";
}

void TestTools::dryRun() {
    QFETCH(QStringList, args);
    QFETCH(QString, printed);
    const Run r = write(args);
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, printed);
}

void TestTools::helpAndVersion() {
    // vorq answers these before it opens a window or a port, so it needs no display here.
    for (const QString& program :
         {QStringLiteral(VORQ_WRITE), QStringLiteral(VORQ_DISPLAY), QStringLiteral(VORQ_APP)}) {
        const Run help = run(program, {QStringLiteral("--help")});
        QCOMPARE(help.status, 0);
        QVERIFY(help.out.contains(QLatin1String("Usage:")));
        const Run version = run(program, {QStringLiteral("--version")});
        QCOMPARE(version.status, 0);
        QVERIFY2(version.out.contains(QLatin1String("1.")), qPrintable(version.out));
        const Run all = run(program, {QStringLiteral("--help-all")});
        QVERIFY2(all.status == 0 && all.out.contains(QLatin1String("Usage:")) &&
                     (program != QLatin1String(VORQ_APP) ||
                      all.out.contains(QLatin1String("-platform"))),
                 qPrintable(all.out));
    }
    // A wrong argument, and no display: one line each, never Qt's abort. Every COM number
    // is refused by the settings here, so that nothing could be opened even if it started.
    qputenv("XDG_CONFIG_HOME", m_config.filePath(QStringLiteral("none")).toUtf8());
    QVERIFY(QDir().mkpath(m_config.filePath(QStringLiteral("none/vorq/vorq.conf"))));
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    qputenv("QT_QPA_PLATFORM", "xcb");
    const Run wrong = run(QStringLiteral(VORQ_APP), {QStringLiteral("foo")});
    const Run headless = run(QStringLiteral(VORQ_APP), {});
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    QCOMPARE(wrong.status, EX_USAGE);
    QCOMPARE(wrong.err, QStringLiteral("vorq: unexpected argument \"foo\"\n"));
    QCOMPARE(headless.status, 1);
    QCOMPARE(headless.err, QStringLiteral("vorq: cannot open the display (DISPLAY/WAYLAND_DISPLAY "
                                          "not set or not reachable)\n"));
}

void TestTools::hex() {
    QCOMPARE(toHex(*frame::build(frame::kAccessCode + QStringLiteral("3HELLO"))),
             QStringLiteral("1B 6B 71 35 31 37 32 40 33 48 45 4C 4C 4F FF"));
}

void TestTools::writesToADevice() {
    for (const char* speed : {"9600", "19200"}) {
        Pty line;
        const Run r = write({QStringLiteral("--port"), line.slavePath(), QStringLiteral("--speed"),
                             QLatin1String(speed), QStringLiteral("--code"), QStringLiteral("4"),
                             QStringLiteral("--text"), QStringLiteral("HI")});
        QCOMPARE(r.status, 0);
        QCOMPARE(line.read(2000, 12), frameOf("4HI"));
        QCOMPARE(r.out, QStringLiteral("Wrote 12 bytes to %1 at %2,n,8,1.\n")
                            .arg(line.slavePath(), QLatin1String(speed)));
    }
}

// A rollout's steps on one line, in order: what each says in JSON, how many bytes the line
// saw, and what the record then holds. %L is the line, %S a symbolic link to it. The record
// makes a write that is there already a no-op that opens nothing, but only with --if-changed.
void TestTools::recordAndJson() {
    Pty line;
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("display"));
    QVERIFY(QFile::link(line.slavePath(), link));
    const struct {
        const char* args;
        bool changed;
        int status;
        int sent;             // bytes on the line
        const char* frame;    // the frame in the JSON, as code and scroll data; null: none
        const char* previous; // the recorded scroll data in the JSON; null: not checked
    } steps[] = {
        {"--if-changed --code 3 --text HI --port %L", true, 0, 12, "3HI", nullptr},
        {"--if-changed --code 3 --text HI --port %L", false, 0, 0, "3HI", "HI"},
        {"--if-changed --code 3 --text HI --speed 19200 --port %L", true, 0, 12, "3HI", "HI"},
        {"--if-changed --code 3 --text HI --speed 19200 --port %L", false, 0, 0, "3HI", "HI"},
        {"--code 3 --text HI --speed 19200 --port %L", true, 0, 12, "3HI", "HI"},
        {"--if-changed --code 3 --text HO --dry-run --port %L", true, 0, 0, "3HO", "HI"},
        {"--code 3 --text HO --speed --port %L", false, EX_USAGE, 0, nullptr, nullptr},
        {"--code 3 --text HO --port /nonexistent/ttyUSB9", false, EX_UNAVAILABLE, 0, "3HO",
         nullptr},
        {"--code 3 --text Cafe\xCC\x81 --port %L", true, 0, 14, "3Caf\xE9", "HI"},
        {"--if-changed --code 3 --text Caf\xC3\xA9 --port %S", false, 0, 0, "3Caf\xE9",
         "Caf\xC3\xA9"},
    };
    for (const auto& step : steps) {
        QStringList args = words("--json") << words(step.args);
        args.replaceInStrings(QStringLiteral("%L"), line.slavePath());
        args.replaceInStrings(QStringLiteral("%S"), link);
        const Run r = write(args);
        QCOMPARE(r.status, step.status);
        const QJsonObject json = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QVERIFY2(json.value(QStringLiteral("changed")).toBool() == step.changed &&
                     json.value(QStringLiteral("status")).toInt(-1) == step.status &&
                     r.out.count(QLatin1Char('\n')) == 1,
                 qPrintable(r.out));
        QVERIFY2(json.value(QStringLiteral("frame")) ==
                     (step.frame ? QJsonValue(toHex(frameOf(step.frame))) : QJsonValue()),
                 qPrintable(r.out));
        if (step.previous)
            QCOMPARE(json.value(QStringLiteral("previous"))
                         .toObject()
                         .value(QStringLiteral("text"))
                         .toString(),
                     QString::fromUtf8(step.previous));
        QCOMPARE(line.read(step.sent ? 2000 : kFrameWireMs, step.sent ? step.sent : -1).size(),
                 step.sent);
        if (!step.changed && step.status == 0)
            QVERIFY2(json.value(QStringLiteral("message"))
                         .toString()
                         .contains(QLatin1String("unchanged since ")),
                     qPrintable(r.out));
    }
    // A refused text is echoed with its controls escaped: C1 (U+0085) drives some terminals.
    const Run refused = write(words("--json --dry-run --code 3 --port /nonexistent/ttyUSB9")
                              << QStringLiteral("--text") << QStringLiteral("A\u0085B"));
    QVERIFY2(refused.status != 0 && !refused.out.contains(QChar(0x85)) &&
                 refused.out.contains(QLatin1String("A\\u0085B")),
             qPrintable(refused.out));
}

void TestTools::openFailures() {
    const QStringList frame = words("--code 1 --text X --port");
    const Run missing = write(QStringList(frame) << QStringLiteral("/nonexistent/ttyUSB9"));
    QCOMPARE(missing.status, EX_UNAVAILABLE);
    QVERIFY2(missing.err.contains(QLatin1String("/nonexistent/ttyUSB9")) &&
                 missing.err.contains(QLatin1String("no such port")),
             qPrintable(missing.err));

    Ports ports; // held by a SerialPort of this process: busy for anyone else
    SerialPort holder(ports.resolver());
    QVERIFY(holder.OpenAtStartup().ok());
    const Run busy = write(QStringList(frame) << ports.pty[0]->slavePath());
    QCOMPARE(busy.status, EX_UNAVAILABLE);
    QVERIFY2(busy.err.contains(QLatin1String("Another program holds the port")),
             qPrintable(busy.err));

    Pty gone; // its master closed: the device is gone
    const QString gonePath = gone.slavePath();
    gone.vanish();
    const Run vanished = write(QStringList(frame) << gonePath);
    QCOMPARE(vanished.status, EX_UNAVAILABLE);
    QVERIFY2(vanished.err.contains(gonePath), qPrintable(vanished.err));

    QTemporaryFile notALine; // opens, but is no serial line: an input/output failure
    QVERIFY(notALine.open());
    const Run failed = write(QStringList(frame) << notALine.fileName());
    QCOMPARE(failed.status, EX_IOERR);
    QVERIFY2(failed.err.contains(notALine.fileName()), qPrintable(failed.err));
    QCOMPARE(notALine.size(), 0);
    const Run null = write(QStringList(frame) << QStringLiteral("/dev/null"));
    QCOMPARE(null.status, EX_IOERR);
    QVERIFY2(null.err.contains(QLatin1String("not a serial line")), qPrintable(null.err));
    QCOMPARE(ports.readAll(), QByteArray());
}

void TestTools::permissionDenied() {
    if (geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        QSKIP("needs root and setpriv to run as another user");
    Pty line; // owned by root, not open to others
    const Run r = writeAsNobody(line.slavePath());
    if (r.status == 126 || r.status == 127)
        QSKIP("the build tree cannot be run by an unprivileged user here");
    QCOMPARE(r.status, EX_NOPERM);
    QVERIFY2(r.err.contains(QLatin1String("dialout")), qPrintable(r.err));
}

// What a user who is not root is told of a line held by a process it may not signal (a lock
// naming pid 1) or kept in exclusive mode (its open fails with EBUSY).
void TestTools::heldFromAnotherUser_data() {
    QTest::addColumn<QString>("hold");
    QTest::addColumn<QString>("said");
    QTest::newRow("a lock naming another user's live process") << "lock"
                                                               << "held by process 1";
    QTest::newRow("exclusive mode") << "exclusive"
                                    << "exclusive mode";
}

void TestTools::heldFromAnotherUser() {
    QFETCH(QString, hold);
    QFETCH(QString, said);
    if (geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        QSKIP("needs root and setpriv to run as another user");
    if (qEnvironmentVariableIsEmpty("VORQ_TEST_ROOT"))
        QSKIP("writes /run/lock: run through isolate (ctest does)");
    Pty line;
    QVERIFY(::chmod(qPrintable(line.slavePath()), 0666) == 0);
    const QString lock = QStringLiteral("/run/lock/LCK..") +
                         line.slavePath().mid(5).replace(QLatin1Char('/'), QLatin1Char('_'));
    int held = -1;
    if (hold == QLatin1String("lock")) {
        QFile file(lock);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("         1\n") == 11);
    } else {
        held = ::open(qPrintable(line.slavePath()), O_RDWR | O_NOCTTY);
        QVERIFY(held >= 0 && ::ioctl(held, TIOCEXCL) == 0);
    }
    const Run r = writeAsNobody(line.slavePath());
    QFile::remove(lock);
    if (held >= 0)
        ::close(held);
    if (r.status == 126 || r.status == 127)
        QSKIP("the build tree cannot be run by an unprivileged user here");
    QCOMPARE(r.status, EX_UNAVAILABLE);
    QVERIFY2(r.err.contains(said), qPrintable(r.err));
    QCOMPARE(line.read(), QByteArray());
}

void TestTools::roundTrip_data() {
    QTest::addColumn<QString>("speed");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("name");
    QTest::newRow("9600") << "9600"
                          << "3"
                          << "HELLO"
                          << "UTC_enhanced_Command";
    QTest::newRow("19200") << "19200"
                           << "5" << QString::fromUtf8(" Café € ") << "CD7220 Command";
    QTest::newRow("empty, code 0") << "9600"
                                   << "0"
                                   << ""
                                   << "General_Command";
}

void TestTools::roundTrip() {
    QFETCH(QString, speed);
    QFETCH(QString, code);
    QFETCH(QString, text);
    QFETCH(QString, name);
    DisplayProcess display({QStringLiteral("--once"), QStringLiteral("--hex")});
    QVERIFY(display.device().startsWith(QLatin1String("/dev/")));
    const Run w = write({QStringLiteral("--port"), display.device(), QStringLiteral("--speed"),
                         speed, QStringLiteral("--code"), code, QStringLiteral("--text"), text});
    QCOMPARE(w.status, 0);
    QString out;
    QCOMPARE(display.finish(&out), 0);
    const QString quoted = QLatin1Char('"') + text + QLatin1Char('"');
    QVERIFY2(out.contains(QStringLiteral("Frame: command set %1 %2, scroll data %3, %4 bytes")
                              .arg(code, name, quoted)
                              .arg(10 + text.size())),
             qPrintable(out));
    QVERIFY2(
        out.contains(QStringLiteral("Stores: command set %1, scroll data %2").arg(code, quoted)),
        qPrintable(out));
    QVERIFY(out.contains(QLatin1String("  1B 6B 71 35 31 37 32 40")));
}

void TestTools::displayReportsMalformedInput() {
    DisplayProcess display({QStringLiteral("--once")});
    QFile line(display.device());
    QVERIFY(line.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    line.write(frameOf("9HI"));
    QString out;
    QCOMPARE(display.finish(&out), 1);
    QVERIFY2(out.contains(QLatin1String("Malformed: code digit outside 0 to 6")), qPrintable(out));

    for (const auto& [bytes, says] :
         {std::pair{QByteArray(frame::header('0').chopped(1) + frame::kEnd),
                    "Malformed: no code digit, 9 bytes"},
          std::pair{QByteArray("A"), "|A                   |"}, // set 0 draws it
          std::pair{frameOf("3A\x81"), "scroll data \"A\\x81\""}}) {
        DisplayProcess shown({QStringLiteral("--once")});
        Pty::write(shown.device(), bytes);
        if (!bytes.startsWith('\x1B'))
            Pty::write(shown.device(), frameOf("1")); // the stray byte is reported at the ESC
        shown.finish(&out);
        QVERIFY2(out.contains(QLatin1String(says)), qPrintable(out));
    }

    DisplayProcess late({QStringLiteral("--once")});
    QFile lateLine(late.device());
    QVERIFY(lateLine.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    lateLine.write(frame::header('3') + "HEL");
    QCOMPARE(late.finish(&out, 3000), 1);
    QVERIFY2(out.contains(QLatin1String("no end marker (0xFF) within one second")),
             qPrintable(out));
}

// --link PATH: what is at PATH before the start and while it runs, how it ends, and what
// must be at PATH afterwards ("" nothing, "file" the file left alone, or a link's target).
void TestTools::displayLinkPaths_data() {
    QTest::addColumn<QString>("before"); // "", "file", or a symbolic link's target
    QTest::addColumn<QString>("during"); // "", "file", "link" another link, "swap" the parent
    QTest::addColumn<QString>("end");    // "once", "term", or "pipe" (its reader goes away)
    QTest::addColumn<bool>("starts");
    QTest::addColumn<QString>("after");
    QTest::newRow("fresh, --once") << ""
                                   << ""
                                   << "once" << true << "";
    QTest::newRow("fresh, SIGTERM") << ""
                                    << ""
                                    << "term" << true << "";
    QTest::newRow("fresh, SIGPIPE") << ""
                                    << ""
                                    << "pipe" << true << "";
    QTest::newRow("a regular file is kept") << "file"
                                            << ""
                                            << "" << false << "file";
    QTest::newRow("someone's link is kept") << "/etc/hostname"
                                            << ""
                                            << "" << false << "/etc/hostname";
    QTest::newRow("a dangling link elsewhere is kept") << "/nonexistent/x"
                                                       << ""
                                                       << "" << false << "/nonexistent/x";
    QTest::newRow("a leftover pts link is replaced") << "/dev/pts/999999"
                                                     << ""
                                                     << "term" << true << "";
    QTest::newRow("the link of a run killed with SIGKILL") << "<killed>"
                                                           << ""
                                                           << "term" << true << "";
    QTest::newRow("a file moved there meanwhile is kept") << ""
                                                          << "file"
                                                          << "term" << true << "file";
    QTest::newRow("another link there meanwhile is kept") << ""
                                                          << "link"
                                                          << "term" << true << "/etc/hostname";
    QTest::newRow("a swapped parent does not redirect") << ""
                                                        << "swap"
                                                        << "term" << true << "file";
}

void TestTools::displayLinkPaths() {
    QFETCH(QString, before);
    QFETCH(QString, during);
    QFETCH(QString, end);
    QFETCH(bool, starts);
    QFETCH(QString, after);
    QTemporaryDir tmp;
    const QString dir = tmp.filePath(QStringLiteral("d")), at = dir + QStringLiteral("/L");
    QVERIFY(QDir().mkpath(dir));
    auto place = [&](const QString& what) {
        QFile::remove(at);
        if (what == QLatin1String("file")) {
            QFile f(at);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("keep") == 4);
        } else {
            QVERIFY(QFile::link(what, at));
        }
    };
    if (before == QLatin1String("<killed>")) { // it leaves its link, usually to the next pty
        DisplayProcess killed({QStringLiteral("--link"), at});
        QCOMPARE(QFileInfo(at).symLinkTarget(), killed.device());
        killed.process().kill();
        QVERIFY(killed.process().waitForFinished());
    } else if (!before.isEmpty()) {
        place(before);
    }
    DisplayProcess display({QStringLiteral("--link"), at, QStringLiteral("--once")});
    QString out;
    if (!starts) {
        QCOMPARE(display.finish(&out), EX_CANTCREAT);
    } else {
        QCOMPARE(QFileInfo(at).symLinkTarget(), display.device());
        if (during == QLatin1String("swap")) {
            QVERIFY(QDir().rename(dir, dir + QStringLiteral("-old")) && QDir().mkpath(dir));
            place(QStringLiteral("file"));
        } else if (!during.isEmpty()) {
            place(during == QLatin1String("file") ? during : QStringLiteral("/etc/hostname"));
        }
        if (end == QLatin1String("term"))
            display.process().terminate();
        if (end == QLatin1String("pipe"))
            display.process().closeReadChannel(QProcess::StandardOutput);
        if (end != QLatin1String("term")) {
            Pty::write(display.device(), frameOf("2"));
        }
        QCOMPARE(display.finish(&out), end == QLatin1String("term") ? 128 + SIGTERM : 0);
    }
    const QFileInfo result(at);
    if (after.isEmpty())
        QVERIFY(!result.exists() && !result.isSymLink());
    else if (after == QLatin1String("file"))
        QVERIFY(result.isFile() && !result.isSymLink() && result.size() == 4);
    else
        QCOMPARE(result.symLinkTarget(), after);
}

// A device that hangs up ends vorq-display with a failure, instead of spinning on it.
void TestTools::displayEndsOnHangUp() {
    Pty line;
    DisplayProcess display({QStringLiteral("--device"), line.slavePath()});
    QCOMPARE(display.device(), line.slavePath());
    line.send("\x1Bkq51");
    line.vanish();
    QString out;
    QCOMPARE(display.finish(&out), EX_IOERR);
    QVERIFY2(out.contains(QLatin1String("Malformed: cut off after 5 bytes by a hang-up")),
             qPrintable(out));
}

// Each program, ended by each signal while the port is open and another process (this test)
// holds the line: it exits with 128 + n, and leaves the line free and no lock file behind.
void TestTools::signalsCloseThePort_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<int>("signal");
    for (const char* program : {"vorq", "vorq-write", "vorq-display"})
        for (const int signal : {SIGTERM, SIGINT, SIGHUP})
            QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(
                QLatin1String(program), QLatin1String(sigabbrev_np(signal)))))
                << QString::fromLatin1(program) << signal;
}

void TestTools::signalsCloseThePort() {
    QFETCH(QString, program);
    QFETCH(int, signal);
    if (qEnvironmentVariableIsEmpty("VORQ_TEST_ROOT"))
        QSKIP("looks at /run/lock: run through isolate (ctest does)");
    Pty line;
    QTemporaryDir config;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    p.setProcessEnvironment(env);
    if (program == QLatin1String("vorq")) { // COM1 is the line
        QVERIFY(QDir().mkpath(config.filePath(QStringLiteral("vorq"))));
        QFile conf(config.filePath(QStringLiteral("vorq/vorq.conf")));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write("[ports]\nCOM1=" + line.slavePath().toUtf8() + '\n');
        conf.close();
        p.start(QStringLiteral(VORQ_APP), {});
    } else if (program == QLatin1String("vorq-write")) { // caught in a write that cannot end
        line.suspend(true);
        p.start(QStringLiteral(VORQ_WRITE),
                QStringList{QStringLiteral("--port"), line.slavePath()} << words("--code 2"));
    } else {
        p.start(QStringLiteral(VORQ_DISPLAY), {QStringLiteral("--device"), line.slavePath()});
    }
    QVERIFY2(p.waitForStarted(), qPrintable(p.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(line.exclusive() || p.state() == QProcess::NotRunning, 10000);
    QVERIFY2(
        p.state() == QProcess::Running,
        qPrintable(QString::number(p.exitCode()) +
                   QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError())));
    ::kill(pid_t(p.processId()), signal);
    line.suspend(false); // a frame under way is finished, not cut off
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 128 + signal);
    if (program == QLatin1String("vorq-write"))
        QCOMPARE(line.readFrame(), frameOf("2"));
    QVERIFY(!line.exclusive());
    QCOMPARE(QDir(QStringLiteral("/run/lock"))
                 .entryList({QStringLiteral("LCK..*")}, QDir::AllEntries | QDir::System),
             QStringList());
    line.read();
    QCOMPARE(
        write(QStringList{QStringLiteral("--port"), line.slavePath()} << words("--code 5")).status,
        0);
    QCOMPARE(line.readFrame(), frameOf("5"));
}

// Eight writers at once, with one record, round after round: every device keeps its latest
// section, so that --if-changed never answers from an older one.
void TestTools::parallelWritersKeepEveryRecord() {
    constexpr int kWriters = 8, kRounds = 10;
    QTemporaryDir dir;
    const QString state = dir.filePath(QStringLiteral("written.conf"));
    std::vector<std::unique_ptr<Pty>> lines;
    for (int w = 0; w < kWriters; ++w)
        lines.push_back(std::make_unique<Pty>());
    for (int round = 0; round < kRounds; ++round) {
        std::vector<std::unique_ptr<QProcess>> writers;
        for (int w = 0; w < kWriters; ++w) {
            writers.push_back(std::make_unique<QProcess>());
            writers.back()->start(QStringLiteral(VORQ_WRITE),
                                  {QStringLiteral("--state"), state, QStringLiteral("--port"),
                                   lines[size_t(w)]->slavePath(), QStringLiteral("--code"),
                                   QStringLiteral("1"), QStringLiteral("--text"),
                                   QStringLiteral("R%1").arg(round)});
        }
        for (auto& writer : writers) {
            QVERIFY(writer->waitForFinished(20000));
            QCOMPARE(writer->exitCode(), 0);
            QCOMPARE(writer->readAllStandardError(), QByteArray());
        }
        const WriteRecord record(state);
        for (int w = 0; w < kWriters; ++w) {
            const auto recorded = record.find(WriteRecord::keyFor(lines[size_t(w)]->slavePath()));
            QVERIFY2(recorded && recorded->text == QStringLiteral("R%1").arg(round),
                     qPrintable(QStringLiteral("round %1, writer %2").arg(round).arg(w)));
        }
    }
}

void TestTools::testPatternRoundTrips_data() {
    QTest::addColumn<QString>("code");
    for (const frame::CommandSet& set : frame::kCommandSets)
        QTest::newRow(set.name) << QString(QLatin1Char(set.digit));
}

// The pattern that vorq-write prints for set N, replayed by vorq-display in set N, ends on the
// pattern's two lines.
void TestTools::testPatternRoundTrips() {
    QFETCH(QString, code);
    const Run w = write({QStringLiteral("--test-pattern"), QStringLiteral("--code"), code,
                         QStringLiteral("--dry-run"), QStringLiteral("--port=/dev/vorq-none")});
    QVERIFY2(w.status == 0, qPrintable(w.err));
    QTemporaryFile capture;
    QVERIFY(capture.open());
    capture.write(QByteArray::fromHex(w.out.toLatin1()));
    capture.close();
    const Run d = run(QStringLiteral(VORQ_DISPLAY),
                      {QStringLiteral("--set"), code, QStringLiteral("--input"), capture.fileName(),
                       QStringLiteral("--json"), QStringLiteral("--strict")});
    QCOMPARE(d.status, 0);
    const QJsonArray lines =
        QJsonDocument::fromJson(
            d.out.trimmed().section(QLatin1Char('\n'), -1).toUtf8())[QLatin1String("lines")]
            .toArray();
    QVERIFY2(lines.size() == 2 &&
                 lines[0].toString().startsWith(QStringLiteral("TEST %1 ").arg(code)) &&
                 lines[1].toString() == QLatin1String("0123456789ABCDEFGHIJ"),
             qPrintable(d.out));
}

// A capture read in the set that its frame stores; the EEPROM file keeps that set and the
// scroll data for the next start, which --set overrides; a garbled file is a fresh display.
void TestTools::displayReplaysAndKeepsItsEeprom() {
    QTemporaryDir dir;
    const QString eeprom = dir.filePath(QStringLiteral("eeprom.conf")),
                  capture = dir.filePath(QStringLiteral("capture"));
    QFile f(capture);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(frameOf("4HELLO") + "\x1B\x7A\x1F\x24\x01\x02"
                                "AB");
    f.close();
    auto display = [](const QStringList& args) { return run(QStringLiteral(VORQ_DISPLAY), args); };
    Run r = display({QStringLiteral("--input"), capture, QStringLiteral("--eeprom"), eeprom,
                     QStringLiteral("--strict")});
    QCOMPARE(r.status, EX_DATAERR);
    for (const char* says : {"Frame: command set 4 ", "Ignored by command set 4: 1B 7A, 2 bytes",
                             "|                    |\n|AB                  |\n"})
        QVERIFY2(r.out.contains(QLatin1String(says)), qPrintable(r.out));
    for (const auto& [set, args] :
         {std::pair{4, QStringList()}, std::pair{2, QStringList{QStringLiteral("--set=2")}}}) {
        r = display(QStringList{QStringLiteral("--input=/dev/null"), QStringLiteral("--json"),
                                QStringLiteral("--eeprom"), eeprom}
                    << args);
        QCOMPARE(r.status, 0);
        const QJsonDocument screen = QJsonDocument::fromJson(r.out.toUtf8());
        QCOMPARE(screen[QLatin1String("set")].toInt(), set);
        QCOMPARE(screen[QLatin1String("lines")][0].toString(),
                 QStringLiteral("HELLO").leftJustified(20));
    }
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("[eeprom]\ncode=9\n");
    f.close();
    r = display({QStringLiteral("--input=/dev/null"), QStringLiteral("--eeprom"), capture});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.err.contains(QLatin1String("factory-fresh")), qPrintable(r.err));
}

// Killed at any moment while frames arrive, the display leaves an EEPROM file that the next
// start reads without a warning, holding one of the frames.
void TestTools::eepromSurvivesSigkill() {
    QTemporaryDir dir;
    const QString eeprom = dir.filePath(QStringLiteral("eeprom.conf"));
    for (int round = 1; round <= 4; ++round) {
        DisplayProcess live({QStringLiteral("--eeprom"), eeprom});
        QByteArray frames;
        for (int i = 0; i < round * 8; ++i)
            frames += frameOf(QByteArray::number(1 + i % 2) + "DATA " + QByteArray::number(i));
        Pty::write(live.device(), frames);
        QVERIFY(live.waitFor(QStringLiteral("DATA %1\"").arg(round * 4)));
        ::kill(pid_t(live.process().processId()), SIGKILL);
        QVERIFY(live.process().waitForFinished());
        const Run r = run(QStringLiteral(VORQ_DISPLAY),
                          {QStringLiteral("--input=/dev/null"), QStringLiteral("--json"),
                           QStringLiteral("--eeprom"), eeprom});
        QCOMPARE(r.err, QString());
        const int set = QJsonDocument::fromJson(r.out.toUtf8())[QLatin1String("set")].toInt();
        QVERIFY2(set == 1 || set == 2, qPrintable(r.out));
    }
}

// The live JSON view on a pty shows the pattern that vorq-write sends there; the write record
// is left as it was.
void TestTools::liveViewOnAPty() {
    DisplayProcess live({QStringLiteral("--json"), QStringLiteral("--set=5")});
    QVERIFY(live.waitFor(QStringLiteral("\"set\":5")));
    const QString record = m_config.filePath(QStringLiteral("state/vorq/written.conf"));
    QFile before(record);
    const QByteArray kept = before.open(QIODevice::ReadOnly) ? before.readAll() : QByteArray();
    const Run w = write({QStringLiteral("--test-pattern"), QStringLiteral("--code=5"),
                         QStringLiteral("--port"), live.device()});
    QCOMPARE(w.status, 0);
    QVERIFY(w.out.startsWith(QLatin1String("Sent the test pattern of command set 5 ")));
    QVERIFY(live.waitFor(QStringLiteral("\"0123456789ABCDEFGHIJ\"]")));
    QFile after(record);
    QCOMPARE(after.open(QIODevice::ReadOnly) ? after.readAll() : QByteArray(), kept);
}

void TestTools::completionsOfferEveryOption_data() {
    QTest::addColumn<QString>("program");
    QTest::newRow("vorq-write") << QStringLiteral(VORQ_WRITE);
    QTest::newRow("vorq-display") << QStringLiteral(VORQ_DISPLAY);
}

// The bash completion offers each option that --help lists, and no other.
void TestTools::completionsOfferEveryOption() {
    QFETCH(QString, program);
    const QRegularExpression option(QStringLiteral("--[a-z][a-z-]*"));
    auto optionsIn = [&option](const QString& text) {
        QStringList found;
        for (const QRegularExpressionMatch& m : option.globalMatch(text))
            found << m.captured();
        found.removeAll(QStringLiteral("--help-all"));
        found.sort();
        found.removeDuplicates();
        return found;
    };
    QFile completion(QStringLiteral(VORQ_COMPLETIONS "/") + QFileInfo(program).fileName());
    QVERIFY(completion.open(QIODevice::ReadOnly));
    QCOMPARE(optionsIn(QString::fromUtf8(completion.readAll())),
             optionsIn(run(program, {QStringLiteral("--help")}).out));
}

// A file that the display cannot read as its EEPROM is kept byte for byte, however many
// frames come.
void TestTools::displayKeepsAnEepromFileItCannotRead() {
    QTemporaryDir dir;
    const QString eeprom = dir.filePath(QStringLiteral("backup.tar")),
                  capture = dir.filePath(QStringLiteral("capture"));
    for (const auto& [path, bytes] :
         {std::pair{eeprom, QByteArray(2 << 20, 'x')}, std::pair{capture, frameOf("4HELLO")}}) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    const Run r = run(QStringLiteral(VORQ_DISPLAY),
                      {QStringLiteral("--input"), capture, QStringLiteral("--eeprom"), eeprom});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.err.contains(QLatin1String("it is kept as it is")), qPrintable(r.err));
    QFile f(eeprom);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll() == QByteArray(2 << 20, 'x'));
}

// Every byte value, in every set, and in scroll data: each line of --json is valid JSON with no
// control character raw, C0, DEL or C1.
void TestTools::displayJsonEscapesEveryControl() {
    QTemporaryDir dir;
    QByteArray bytes;
    for (int b = 0; b < 256; ++b)
        bytes += char(b);
    bytes += frameOf("2").insert(frame::kScrollOffset, "\x7F\x81\x8D\x9D");
    bytes += frameOf("4").insert(frame::kScrollOffset, "\x81\x8D\x8F\x90\x9D");
    const QString capture = dir.filePath(QStringLiteral("capture"));
    QFile f(capture);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes + bytes.sliced(256) + bytes);
    f.close();
    for (int set = 0; set < frame::kCommandSetCount; ++set) {
        QProcess p;
        p.start(QStringLiteral(VORQ_DISPLAY),
                {QStringLiteral("--input"), capture, QStringLiteral("--json"),
                 QStringLiteral("--set=%1").arg(set)});
        QVERIFY(p.waitForFinished());
        const QByteArray out = p.readAllStandardOutput();
        QVERIFY(out.count('\n') > 2);
        for (const QByteArray& line : out.split('\n')) {
            if (line.isEmpty())
                continue;
            QJsonParseError error{};
            QJsonDocument::fromJson(line, &error);
            QVERIFY2(error.error == QJsonParseError::NoError, line.constData());
            for (qsizetype i = 0; i < line.size(); ++i) {
                const uchar b = uchar(line[i]);
                QVERIFY2(b >= 0x20 && b != 0x7F &&
                             !(b == 0xC2 && i + 1 < line.size() && uchar(line[i + 1]) < 0xA0),
                         line.constData());
            }
        }
    }
}

void TestTools::displayHonoursSignalsOnPipes_data() {
    QTest::addColumn<bool>("blockedOutput"); // else a FIFO whose writer waits
    QTest::newRow("a FIFO whose writer sends one frame and waits") << false;
    QTest::newRow("output that nobody reads") << true;
}

// A frame from a FIFO shows at once, and SIGTERM ends the program in every state, an output
// that cannot be written included.
void TestTools::displayHonoursSignalsOnPipes() {
    QFETCH(bool, blockedOutput);
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("fifo")),
                  out = dir.filePath(QStringLiteral("out"));
    QVERIFY(::mkfifo(qPrintable(fifo), 0600) == 0 && ::mkfifo(qPrintable(out), 0600) == 0);
    QProcess p;
    int reader = -1;
    QString input = fifo;
    if (blockedOutput) {
        reader = ::open(qPrintable(out), O_RDONLY | O_NONBLOCK | O_CLOEXEC); // never read
        p.setStandardOutputFile(out);
        input = dir.filePath(QStringLiteral("capture"));
        QFile capture(input);
        QVERIFY(capture.open(QIODevice::WriteOnly));
        capture.write(frameOf("1AB").repeated(1 << 16)); // far more than the output pipe holds
    }
    p.start(QStringLiteral(VORQ_DISPLAY),
            {QStringLiteral("--input"), input, QStringLiteral("--json")});
    QVERIFY(p.waitForStarted());
    int writer = -1;
    if (blockedOutput) {
        QTRY_VERIFY([reader] {
            int queued = 0;
            return ::ioctl(reader, FIONREAD, &queued) == 0 && queued >= 49152; // nearly full
        }());
    } else {
        writer = ::open(qPrintable(fifo), O_WRONLY | O_CLOEXEC);
        QCOMPARE(::write(writer, frameOf("3HI").constData(), 12), 12);
        QByteArray shown;
        QTRY_VERIFY((shown += p.readAll()).contains("\"scrollData\":\"HI\""));
    }
    ::kill(pid_t(p.processId()), SIGTERM);
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 128 + SIGTERM);
    ::close(blockedOutput ? reader : writer);
}

// A sender killed while it holds the display's line in exclusive mode leaves it free, as a real
// port's last close does: the next write succeeds, from another user too.
void TestTools::killedSenderLeavesTheLineFree() {
    DisplayProcess live({QStringLiteral("--json")});
    const QString device = live.device();
    auto exclusive = [&device] {
        const int fd = ::open(qPrintable(device), O_RDWR | O_NOCTTY | O_NONBLOCK);
        int flag = 0;
        const bool held = fd >= 0 && ::ioctl(fd, TIOCGEXCL, &flag) == 0 && flag;
        if (fd >= 0)
            ::close(fd);
        return held;
    };
    const pid_t sender = ::fork();
    if (sender == 0) {
        const int fd = ::open(qPrintable(device), O_RDWR | O_NOCTTY);
        ::ioctl(fd, TIOCEXCL);
        ::pause();
        ::_exit(0);
    }
    QTRY_VERIFY(exclusive());
    ::kill(sender, SIGKILL);
    ::waitpid(sender, nullptr, 0);
    QTRY_VERIFY(!exclusive()); // once the display has seen the close
    QVERIFY(::chmod(qPrintable(device), 0666) == 0 || ::geteuid() != 0);
    const Run w = ::geteuid() == 0
                      ? writeAsNobody(device)
                      : write(QStringList{QStringLiteral("--port"), device} << words("--code 1"));
    QVERIFY2(w.status == 0, qPrintable(w.err));
    QVERIFY(live.waitFor(QStringLiteral("\"code\":1")));
}

void TestTools::forwardPassesEveryByteBothWays_data() {
    QTest::addColumn<int>("ending"); // 0: SIGTERM; -1: the real display hangs up
    QTest::newRow("ended by SIGTERM") << 0;
    QTest::newRow("the display hangs up") << -1;
}

// 64 KiB of every byte value each way pass unchanged and in order between the software (on
// the pseudo-terminal) and the real display (here a pseudo-terminal too); a signal leaves the
// display's line free, a hang-up ends the program with 74.
void TestTools::forwardPassesEveryByteBothWays() {
    QFETCH(int, ending);
    if (qEnvironmentVariableIsEmpty("VORQ_TEST_ROOT"))
        QSKIP("takes a lock in /run/lock: run through isolate (ctest does)");
    Pty real;
    DisplayProcess live({QStringLiteral("--json"), QStringLiteral("--forward"), real.slavePath()});
    QVERIFY(!live.device().isEmpty());
    const int software = ::open(qPrintable(live.device()), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(software >= 0);
    termios raw{};
    ::tcgetattr(software, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(software, TCSANOW, &raw);
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all += char(i);
    all = all.repeated(256);
    QByteArray atDisplay, atSoftware;
    qsizetype sent = 0, sentBack = 0;
    QElapsedTimer clock;
    clock.start();
    while ((atDisplay.size() < all.size() || atSoftware.size() < all.size()) &&
           clock.elapsed() < 30000) {
        if (sent < all.size()) {
            const ssize_t n = ::write(software, all.constData() + sent,
                                      size_t(qMin<qsizetype>(4096, all.size() - sent)));
            sent += n > 0 ? n : 0;
        }
        atDisplay += real.read(5);
        live.process().waitForReadyRead(0); // what it shows meanwhile, so that it never waits
        live.process().readAllStandardOutput();
        if (sentBack < atDisplay.size()) { // the display answers what has reached it
            const QByteArray back =
                all.sliced(sentBack, qMin<qsizetype>(4096, atDisplay.size() - sentBack));
            real.send(back);
            sentBack += back.size();
        }
        char buffer[8192];
        for (ssize_t n; (n = ::read(software, buffer, sizeof buffer)) > 0;)
            atSoftware.append(buffer, n);
    }
    QVERIFY2(
        atDisplay == all,
        qPrintable(
            QStringLiteral("%1 %2 %3").arg(atDisplay.size()).arg(atSoftware.size()).arg(sent)));
    QVERIFY(atSoftware == all);
    if (ending == 0) {
        ::kill(pid_t(live.process().processId()), SIGTERM);
        QVERIFY(live.process().waitForFinished(10000));
        QCOMPARE(live.process().exitCode(), 128 + SIGTERM);
        QVERIFY(!real.exclusive());
        QCOMPARE(QDir(QStringLiteral("/run/lock"))
                     .entryList({QStringLiteral("LCK..*")}, QDir::AllEntries | QDir::System),
                 QStringList());
    } else {
        real.vanish();
        QString out;
        QCOMPARE(live.finish(&out), EX_IOERR);
    }
    ::close(software);
}

void TestTools::identifyNamesTheSet_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("set");    // -1: none in particular
    QTest::addColumn<int>("status"); // 65: no set understands every byte
    QTest::addColumn<bool>("alone"); // the set is ranked first, tied with none
    for (int set = 0; set < frame::kCommandSetCount; ++set)
        QTest::addRow("test pattern %d", set) << display::testPattern(set) << set << 0 << false;
    QByteArray noise;
    for (int i = 0; i < 4096; ++i)
        noise += char((i * 7919 + i / 13) % 256);
    QTest::newRow("noise") << noise << -1 << EX_DATAERR << false;
    // As a display daemon's driver writes AEDEX: it moves the attention code, and pads each
    // command with a NUL, which every set ignores; sets that draw its commands as text
    // understand as much, but read none of it as commands.
    QTest::newRow("AEDEX, attention code moved, NUL padding")
        << QByteArray("!#8~`\r\0~`1## Server ##\r\0~`2Clients: 0\r\0", 39) << 1 << EX_DATAERR
        << true;
}

// --identify names each set's test pattern as that set, or as a tie that includes it; for
// bytes that no set understands, it exits with 65.
void TestTools::identifyNamesTheSet() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, set);
    QFETCH(int, status);
    QFETCH(bool, alone);
    QTemporaryDir dir;
    QFile capture(dir.filePath(QStringLiteral("capture")));
    QVERIFY(capture.open(QIODevice::WriteOnly));
    capture.write(bytes);
    capture.close();
    const Run r =
        run(QStringLiteral(VORQ_DISPLAY), {QStringLiteral("--identify"), QStringLiteral("--json"),
                                           QStringLiteral("--input"), capture.fileName()});
    QCOMPARE(r.status, status);
    const QJsonObject result = QJsonDocument::fromJson(r.out.toUtf8()).object();
    QCOMPARE(result[QLatin1String("sets")].toArray().size(), frame::kCommandSetCount);
    const QJsonArray best = result[QLatin1String("best")].toArray();
    if (set >= 0)
        QVERIFY2(alone ? best == QJsonArray{set} : best.contains(set), qPrintable(r.out));
}

QTEST_GUILESS_MAIN(TestTools)
#include "test_tools.moc"
