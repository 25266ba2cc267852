// vorq-write and vorq-display as programs: arguments, exit statuses, output, and a frame
// sent by one and decoded by the other. Every run that may open a port is given a
// pseudo-terminal or a missing path; usage errors are checked with --dry-run, which opens
// nothing whatever else is wrong.
#include "support.h"
#include "tools/cli.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <csignal>
#include <sysexits.h>
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

// vorq-display as a running program, listening on a pseudo-terminal of its own.
class DisplayProcess {
public:
    explicit DisplayProcess(const QStringList& args) {
        m_p.start(QStringLiteral(VORQ_DISPLAY), args);
        m_p.waitForStarted();
        while (!m_out.contains(QLatin1Char('\n')) && m_p.waitForReadyRead(5000))
            m_out += QString::fromLocal8Bit(m_p.readAllStandardOutput());
        m_device = m_out.section(QLatin1Char('\n'), 0, 0).section(QLatin1Char(' '), 2, 2);
    }
    ~DisplayProcess() {
        m_p.kill();
        m_p.waitForFinished();
    }
    QString device() const { return m_device; }
    QProcess& process() { return m_p; }
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
    void roundTrip_data();
    void roundTrip();
    void displayReportsMalformedInput();
    void displayLinkPaths_data();
    void displayLinkPaths();
    void displayEndsOnHangUp();
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
    const Run r = shell ? run(QStringLiteral("/bin/sh"),
                              {QStringLiteral("-c"),
                               QStringLiteral("exec \"$0\" ") + args.join(QLatin1Char(' ')),
                               QStringLiteral(VORQ_WRITE)})
                        : write(args);
    QCOMPARE(r.status, status);
    QVERIFY2(r.err.startsWith(QLatin1String("vorq-write: ")) && r.err.contains(says),
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

// A rollout's steps on one line, in order: what each says in JSON, and whether the line saw
// the frame. The record makes the second write a no-op that opens nothing.
void TestTools::recordAndJson() {
    Pty line;
    const struct {
        const char* args;
        bool changed;
        int status;
        bool sent;
    } steps[] = {
        {"--if-changed --code 3 --text HI", true, 0, true},
        {"--if-changed --code 3 --text HI", false, 0, false},
        {"--if-changed --code 3 --text HI --speed 19200", true, 0, true},
        {"--if-changed --code 3 --text HO --dry-run", true, 0, false},
        {"--code 3 --text HO --speed", false, EX_USAGE, false},
    };
    for (const auto& step : steps) {
        const Run r = write(words("--json --port") << line.slavePath() << words(step.args));
        QCOMPARE(r.status, step.status);
        const QJsonObject json = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QVERIFY2(json.value(QStringLiteral("changed")).toBool() == step.changed &&
                     json.value(QStringLiteral("status")).toInt(-1) == step.status &&
                     r.out.count(QLatin1Char('\n')) == 1,
                 qPrintable(r.out));
        QCOMPARE(line.read(step.sent ? 2000 : kFrameWireMs, step.sent ? 12 : -1).size(),
                 step.sent ? 12 : 0);
        if (!step.changed && step.status == 0)
            QVERIFY2(json.value(QStringLiteral("message"))
                             .toString()
                             .contains(QLatin1String("unchanged since ")) &&
                         json.value(QStringLiteral("previous"))
                                 .toObject()
                                 .value(QStringLiteral("text")) == QStringLiteral("HI"),
                     qPrintable(r.out));
    }
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
    const Run r = run(QStringLiteral("setpriv"),
                      QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                  QStringLiteral("--clear-groups"), QStringLiteral(VORQ_WRITE)}
                          << words("--code 1 --port") << line.slavePath());
    if (r.status == 126 || r.status == 127)
        QSKIP("the build tree cannot be run by an unprivileged user here");
    QCOMPARE(r.status, EX_NOPERM);
    QVERIFY2(r.err.contains(QLatin1String("dialout")), qPrintable(r.err));
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
          std::pair{QByteArray("A"), "Malformed: 1 byte that does not start with ESC, 1 byte"},
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

QTEST_GUILESS_MAIN(TestTools)
#include "test_tools.moc"
