// The real vorq binary, driven like an operator under Xvfb with xdotool, in a private mount
// namespace where pseudo-terminals stand at /dev/ttyS0 to /dev/ttyS3 and there is no
// /dev/ttyS4. Every byte that reaches a line is checked exactly. Each scenario starts its own
// vorq, so any one of them runs alone (test_e2e <function>).
#include "../support.h"
#include "desktop.h"
#include "e2e/geometry.h"
#include "sandbox.h"
#include "window/layout.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <memory>

namespace {

QString g_sandboxProblem; // why the namespace could not be had, if it could not
bool g_skipped = false;

const QSize kClientArea(478, 408);

// The program under test: the installed one named by `variable`, or the one just built.
QString binary(const char* variable, const char* built) {
    const QByteArray fromEnv = qgetenv(variable);
    return QString::fromLocal8Bit(fromEnv.isEmpty() ? QByteArray(built) : fromEnv);
}
QString vorqBinary() {
    return binary("VORQ_BINARY", VORQ_BUILD_BINARY);
}
QString writeBinary() {
    return binary("VORQ_WRITE", VORQ_WRITE_BUILD);
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void startupWithCom1Missing();
    void startupWithCom1Busy();
    void startupShowsTheWindow();
    void writeHello();
    void endThenWriteAgain();
    void f1LocksAndF2Unlocks();
    void speed19200OnCom2();
    void missingCom5ReportsFailure();
    void unsendableTextIsRefused();
    void commandLineTools();
    void keyboardOnly();
    void settingsMapCom1();
    void chooseDeviceAtStartup();
    void rightClickMapsCom3();
    void scrollPromptIsWhole();
    void backtraceIsReadable();

private:
    bool startVorq(QProcess& p, const QProcessEnvironment& env);
    // Starts vorq with its window, focused, as m_vorq and m_main.
    void startMain();
    // Starts vorq expecting it to fail: one error dialog and no main window, closed with
    // Enter, then a failure status. Returns its stderr, or what went otherwise in brackets.
    QString failedStartup(const QString& step);
    QPoint at(const char* name, int index = -1) const {
        return m_main.geometry.topLeft() + controlCentre(name, index);
    }
    // Types the code digit into Ink and the scroll data into Text1, as an operator would.
    void enter(const QString& code, const QString& scroll);
    void shoot(const QString& step, const QString& window = QStringLiteral("root"));
    // Waits for a second "VORQ" window (a message box); empty id when none came.
    Desktop::Window waitForBox(int ms = 5000);
    void closeBox(const Desktop::Window& box);
    QByteArray readAllPorts(int ms = 300);
    QString savedMapping() const;
    void chooseOtherDevice(const QString& path);

    Desktop m_desktop;
    std::unique_ptr<Pty> m_pty[4];
    QProcess m_vorq;
    Desktop::Window m_main;
    QString m_shots;
    int m_shot = 0;
    QTemporaryDir m_config; // XDG_CONFIG_HOME of every program started here
};

void TestEndToEnd::initTestCase() {
    if (!g_sandboxProblem.isEmpty()) {
        g_skipped = true;
        QSKIP(qPrintable(QStringLiteral("no private mount namespace: ") + g_sandboxProblem));
    }
    if (const QString problem = m_desktop.start(); !problem.isEmpty()) {
        g_skipped = true;
        QSKIP(qPrintable(problem));
    }
    QVERIFY2(QFile::exists(vorqBinary()), qPrintable(vorqBinary()));
    m_shots = QStringLiteral(VORQ_E2E_SCREENS); // in the build tree
    QDir(m_shots).removeRecursively();
    QDir().mkpath(m_shots);
    for (int n = 0; n < 4; ++n)
        m_pty[n] = std::make_unique<Pty>();
    for (int n = 1; n < 4; ++n)
        QVERIFY(sandbox::bindPort(n, m_pty[n]->slavePath()));
    QVERIFY(!QFile::exists(QStringLiteral("/dev/ttyS4")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    qputenv("XDG_STATE_HOME", QFile::encodeName(m_config.filePath(QStringLiteral("state"))));
}

// Every scenario starts with COM1 to COM4 present, nothing running, and empty lines.
void TestEndToEnd::init() {
    if (!QFile::exists(QStringLiteral("/dev/ttyS0")))
        QVERIFY(sandbox::bindPort(0, m_pty[0]->slavePath()));
    readAllPorts(20); // drop what an earlier scenario left
    m_main = {};
    QDir(m_config.filePath(QStringLiteral("vorq"))).removeRecursively();
}

void TestEndToEnd::cleanup() {
    // Ended as a user's session would end it: vorq closes its port, so the next scenario
    // finds the line free.
    if (m_vorq.state() != QProcess::NotRunning) {
        m_vorq.terminate();
        if (!m_vorq.waitForFinished(5000)) {
            m_vorq.kill();
            m_vorq.waitForFinished();
        }
    }
}

void TestEndToEnd::enter(const QString& code, const QString& scroll) {
    m_desktop.click(at("Ink"));
    m_desktop.type(code);
    m_desktop.click(at("Text1"));
    m_desktop.type(scroll);
}

void TestEndToEnd::shoot(const QString& step, const QString& window) {
    m_desktop.screenshot(QStringLiteral("%1/%2-%3.png")
                             .arg(m_shots)
                             .arg(++m_shot, 2, 10, QLatin1Char('0'))
                             .arg(step),
                         window);
}

bool TestEndToEnd::startVorq(QProcess& p, const QProcessEnvironment& env) {
    p.setProcessEnvironment(env);
    p.start(vorqBinary(), {});
    return p.waitForStarted(5000);
}

void TestEndToEnd::startMain() {
    QVERIFY(startVorq(m_vorq, m_desktop.environment()));
    QVERIFY2(m_desktop.waitFor(&m_main, [](const Desktop::Window&) { return true; }),
             "no window titled VORQ appeared");
    m_desktop.focus(m_main.id);
}

Desktop::Window TestEndToEnd::waitForBox(int ms) {
    Desktop::Window box;
    if (!m_desktop.waitFor(
            &box, [this](const Desktop::Window& w) { return w.id != m_main.id; }, ms))
        return {};
    return box;
}

void TestEndToEnd::closeBox(const Desktop::Window& box) {
    QVERIFY2(!box.id.isEmpty(), "no message box to close");
    m_desktop.focus(box.id);
    m_desktop.key(QStringLiteral("Return"));
    QVERIFY2(m_desktop.waitGone(box.id), "the message box did not close on Enter");
    m_desktop.focus(m_main.id);
}

QByteArray TestEndToEnd::readAllPorts(int ms) {
    // One wait for the four lines: the first read waits out `ms`, the others take what has
    // come by then.
    QElapsedTimer waited;
    waited.start();
    QByteArray all;
    for (int n : {1, 2, 3, 0}) {
        if (m_pty[n])
            all += m_pty[n]->read(int(qMax<qint64>(0, ms - waited.elapsed())));
    }
    return all;
}

QString TestEndToEnd::failedStartup(const QString& step) {
    QProcess p;
    if (!startVorq(p, m_desktop.environment()))
        return QStringLiteral("(vorq did not start)");
    Desktop::Window dialog;
    const bool shown = m_desktop.waitFor(&dialog, [](const Desktop::Window&) { return true; });
    shoot(step);
    const QList<Desktop::Window> all = m_desktop.windows();
    if (shown) {
        m_desktop.focus(dialog.id);
        m_desktop.key(QStringLiteral("Return"));
    }
    const bool ended = p.waitForFinished(10000);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    if (!shown || all.size() != 1 || dialog.geometry.size() == kClientArea)
        return QStringLiteral("(expected one error dialog and no window; saw %1 window(s); "
                              "vorq %2 with status %3) ")
                   .arg(all.size())
                   .arg(ended ? QStringLiteral("ended") : QStringLiteral("still running"))
                   .arg(p.exitCode()) +
               err;
    if (!ended || p.exitCode() == 0)
        return QStringLiteral("(vorq did not exit with a failure status) ") + err;
    return err;
}

// Without COM1, vorq explains why in a dialog and on stderr, shows no main window and
// exits non-zero once the dialog is closed.
void TestEndToEnd::startupWithCom1Missing() {
    QVERIFY(sandbox::unbindPort(0));
    const QString err = failedStartup(QStringLiteral("com1-missing"));
    QVERIFY2(err.contains(QLatin1String("COM1")), qPrintable(err));
    QVERIFY2(err.contains(QLatin1String("/dev/ttyS0")), qPrintable(err));
    QVERIFY2(err.contains(QLatin1String("No such file or directory")), qPrintable(err));
    QVERIFY2(err.contains(QLatin1String("no such port")), qPrintable(err));
}

// With COM1 held by another program (here a first vorq), the second one says it is busy.
void TestEndToEnd::startupWithCom1Busy() {
    QProcess holder;
    QProcessEnvironment offscreen = QProcessEnvironment::systemEnvironment();
    offscreen.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QVERIFY(startVorq(holder, offscreen));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QStringLiteral("/run/lock/LCK..ttyS0")), 10000);

    const QString err = failedStartup(QStringLiteral("com1-busy"));
    QVERIFY2(err.contains(QLatin1String("COM1")), qPrintable(err));
    QVERIFY2(err.contains(QLatin1String("busy")), qPrintable(err));
    QVERIFY2(err.contains(QLatin1String("Another program holds the port")), qPrintable(err));

    holder.terminate();
    QVERIFY(holder.waitForFinished(5000));
}

void TestEndToEnd::startupShowsTheWindow() {
    startMain();
    QCOMPARE(m_main.geometry.size(), kClientArea);
    QCOMPARE(m_pty[0]->baud(), 9600);
    shoot(QStringLiteral("window"), m_main.id);
}

void TestEndToEnd::writeHello() {
    startMain();
    enter(QStringLiteral("3"), QStringLiteral("HELLO"));
    shoot(QStringLiteral("typed-hello"), m_main.id);
    m_desktop.click(at("Send", 0));
    QCOMPARE(m_pty[0]->readFrame(), frameOf("3HELLO"));
    const Desktop::Window box = waitForBox();
    QVERIFY2(!box.id.isEmpty(), "no confirmation appeared");
    shoot(QStringLiteral("confirmation"));
    closeBox(box);
    QCOMPARE(readAllPorts(100), QByteArray());
}

void TestEndToEnd::endThenWriteAgain() {
    startMain();
    enter(QStringLiteral("4"), QStringLiteral("X"));
    m_desktop.click(at("Send", 0));
    QCOMPARE(m_pty[0]->readFrame(), frameOf("4X"));
    closeBox(waitForBox());
    m_desktop.click(at("Send", 1));
    enter(QStringLiteral("5"), QStringLiteral(" AB CD "));
    m_desktop.click(at("Send", 0));
    QCOMPARE(m_pty[0]->readFrame(), frameOf("5 AB CD "));
    const Desktop::Window box = waitForBox();
    QVERIFY(!box.id.isEmpty());
    closeBox(box);
    m_desktop.click(at("Send", 1)); // End: unlocked, panel hidden, boxes empty
    shoot(QStringLiteral("after-end"), m_main.id);
}

void TestEndToEnd::f1LocksAndF2Unlocks() {
    startMain();
    m_desktop.click(at("Ink"));
    m_desktop.type(QStringLiteral("1"));
    m_desktop.key(QStringLiteral("F1"));
    m_desktop.click(at("Opt_Com", 1)); // locked: changes nothing
    shoot(QStringLiteral("locked"), m_main.id);
    m_desktop.key(QStringLiteral("F2"));
    m_desktop.click(at("Send", 0));
    QCOMPARE(m_pty[0]->readFrame(), frameOf("1"));
    QCOMPARE(m_pty[1]->read(100), QByteArray());
    closeBox(waitForBox());

    m_desktop.key(QStringLiteral("F2"));
    m_desktop.click(at("Opt_Com", 1)); // unlocked: switches to COM2
    m_desktop.click(at("Send", 0));
    QCOMPARE(m_pty[1]->readFrame(), frameOf("1"));
    QCOMPARE(m_pty[0]->read(100), QByteArray());
    closeBox(waitForBox());
    m_desktop.click(at("Send", 1));
}

void TestEndToEnd::speed19200OnCom2() {
    startMain();
    m_desktop.click(at("Opt_speed", 1));
    m_desktop.click(at("Opt_Com", 1));
    QTRY_COMPARE(m_pty[1]->baud(), 19200);
    enter(QStringLiteral("6"), QStringLiteral("FAST"));
    m_desktop.click(at("Send", 0));
    QCOMPARE(m_pty[1]->readFrame(), frameOf("6FAST"));
    QCOMPARE(m_pty[0]->read(100), QByteArray());
    closeBox(waitForBox());
}

// A failure box is not the confirmation: after it, the same text written to COM1 brings the
// confirmation, whose size differs.
void TestEndToEnd::missingCom5ReportsFailure() {
    startMain();
    m_desktop.click(at("Opt_Com", 4));
    enter(QStringLiteral("2"), QStringLiteral("LOST"));
    m_desktop.click(at("Send", 0));
    const Desktop::Window box = waitForBox();
    QVERIFY2(!box.id.isEmpty(), "no failure box appeared");
    shoot(QStringLiteral("write-failed"));
    closeBox(box);
    QCOMPARE(readAllPorts(300), QByteArray());

    m_desktop.click(at("Opt_Com", 0)); // the lock was restored after the failure
    m_desktop.click(at("Send", 0));
    QCOMPARE(m_pty[0]->readFrame(), frameOf("2LOST"));
    const Desktop::Window confirmation = waitForBox();
    QVERIFY2(confirmation.geometry.size() != box.geometry.size(), "the confirmation was shown");
    closeBox(confirmation);
}

void TestEndToEnd::unsendableTextIsRefused() {
    startMain();
    enter(QStringLiteral("2"), QString::fromUtf8("LOSTÿ"));
    m_desktop.click(at("Send", 0));
    const Desktop::Window box = waitForBox();
    QVERIFY2(!box.id.isEmpty(), "no refusal appeared");
    shoot(QStringLiteral("refused"));
    closeBox(box);
    QCOMPARE(readAllPorts(300), QByteArray());

    // The text stays for correction: remove the character and write.
    m_desktop.click(at("Text1"));
    m_desktop.key(QStringLiteral("BackSpace"));
    m_desktop.click(at("Send", 0));
    QCOMPARE(m_pty[0]->readFrame(), frameOf("2LOST"));
    const Desktop::Window confirmation = waitForBox();
    QVERIFY(confirmation.geometry.size() != box.geometry.size());
    closeBox(confirmation);
}

// vorq-write with COM numbers, which only this sandbox may resolve to devices.
void TestEndToEnd::commandLineTools() {
    auto run = [](const QStringList& args, QString* out = nullptr, QString* err = nullptr) {
        QProcess p;
        p.start(writeBinary(), args);
        if (!p.waitForFinished(10000))
            return -1;
        if (out)
            *out = QString::fromLocal8Bit(p.readAllStandardOutput());
        if (err)
            *err = QString::fromLocal8Bit(p.readAllStandardError());
        return p.exitCode();
    };
    QString out, err;
    startMain(); // vorq holds COM1
    QCOMPARE(run({QStringLiteral("--code"), QStringLiteral("3"), QStringLiteral("--text"),
                  QStringLiteral("HI")},
                 nullptr, &err),
             69);
    QVERIFY2(err.contains(QLatin1String("COM1")) && err.contains(QLatin1String("busy")),
             qPrintable(err));
    m_vorq.terminate();
    QVERIFY(m_vorq.waitForFinished(5000));
    QVERIFY2(m_vorq.exitCode() == 128 + SIGTERM, m_vorq.readAllStandardError().constData());

    QCOMPARE(run({QStringLiteral("--code"), QStringLiteral("3"), QStringLiteral("--text"),
                  QStringLiteral("HI")},
                 &out),
             0);
    QCOMPARE(m_pty[0]->readFrame(), frameOf("3HI"));
    QCOMPARE(out, QStringLiteral("Wrote 12 bytes to /dev/ttyS0 (COM1) at 9600,n,8,1.\n"));

    QCOMPARE(run({QStringLiteral("--port"), QStringLiteral("com2"), QStringLiteral("--speed"),
                  QStringLiteral("19200"), QStringLiteral("--code"), QStringLiteral("0")},
                 &out),
             0);
    QCOMPARE(m_pty[1]->readFrame(), frameOf("0"));
    QVERIFY2(out.contains(QLatin1String("(COM2) at 19200,n,8,1")), qPrintable(out));

    QCOMPARE(run({QStringLiteral("--port"), QStringLiteral("COM5"), QStringLiteral("--code"),
                  QStringLiteral("1")},
                 nullptr, &err),
             69);
    QVERIFY2(err.contains(QLatin1String("COM5")) && err.contains(QLatin1String("no such port")),
             qPrintable(err));

    QCOMPARE(run({QStringLiteral("--list")}, &out, &err), 0);
    QVERIFY2(!out.contains(QLatin1String("\n/dev/ttyS4\t")), qPrintable(out));
    QVERIFY2(out.contains(QLatin1String("COM1\t/dev/ttyS0\tyes\n")) &&
                 out.contains(QLatin1String("COM5\t/dev/ttyS4\tno\n")),
             qPrintable(out));
    QCOMPARE(readAllPorts(100), QByteArray());
}

// Only the keyboard, as a technician without a mouse would: the first focus is the checked
// port, so Space there changes nothing; Enter and keypad Enter press the focused button.
void TestEndToEnd::keyboardOnly() {
    startMain();
    m_desktop.key(QStringLiteral("space"));
    m_desktop.key(QStringLiteral("Tab")); // the speed group; the buttons are hidden
    m_desktop.key(QStringLiteral("Tab")); // Ink
    m_desktop.type(QStringLiteral("3"));
    m_desktop.key(QStringLiteral("Tab"));
    m_desktop.type(QStringLiteral("HI"));
    m_desktop.key(QStringLiteral("shift+Tab"));
    m_desktop.key(QStringLiteral("shift+Tab")); // Write to EEPROM(Y)
    m_desktop.key(QStringLiteral("Return"));
    QCOMPARE(m_pty[0]->readFrame(), frameOf("3HI"));
    closeBox(waitForBox());
    m_desktop.click(at("Text1"));
    m_desktop.key(QStringLiteral("shift+Tab"));
    m_desktop.key(QStringLiteral("shift+Tab")); // END(N); Write is locked
    m_desktop.key(QStringLiteral("KP_Enter"));  // unlocks and clears
    enter(QStringLiteral("1"), QString());
    m_desktop.click(at("Send", 0));
    QCOMPARE(m_pty[0]->readFrame(), frameOf("1"));
    closeBox(waitForBox());
}

// The scroll-data prompt shows whole above Text1, which lies over the label's lower part:
// in the band of the label that Text1 leaves visible, the last rows hold no more ink than
// the descenders of its text.
void TestEndToEnd::scrollPromptIsWhole() {
    startMain();
    enter(QStringLiteral("3"), QStringLiteral("HELLO"));
    const QString file = m_shots + QStringLiteral("/scroll-prompt-window.png");
    QVERIFY(m_desktop.screenshot(file, m_main.id));
    const QImage shot(file);
    const QRect label = controlRect("Label1", 7), box = controlRect("Text1");
    // The prompt and its box alone, as docs/scroll-prompt.png shows them.
    QVERIFY(shot.copy(label.united(box).adjusted(-4, -4, 4, 4))
                .save(m_shots + QStringLiteral("/scroll-prompt.png")));
    QList<int> ink;
    QStringList rows;
    for (int y = label.top(); y < box.top(); ++y) {
        int dark = 0;
        for (int x = label.left(); x <= label.right(); ++x)
            dark += qGray(shot.pixel(x, y)) < 128;
        ink << dark;
        rows << QString::number(dark);
    }
    QVERIFY2(ink.size() > 4 && ink.last() == 0 && ink[ink.size() - 2] == 0 &&
                 *std::max_element(ink.begin(), ink.end()) > 20,
             qPrintable(QStringLiteral("dark pixels by row: ") + rows.join(QLatin1Char(' '))));
}

QString TestEndToEnd::savedMapping() const {
    QFile file(m_config.filePath(QStringLiteral("vorq/vorq.conf")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Answers the device menu, open now, with "Other device…" and `path`.
void TestEndToEnd::chooseOtherDevice(const QString& path) {
    QVERIFY2(m_desktop.waitForPopup(), "no menu appeared");
    m_desktop.key(QStringLiteral("Up")); // the last item
    m_desktop.key(QStringLiteral("Return"));
    Desktop::Window dialog;
    QVERIFY2(
        m_desktop.waitFor(&dialog, [this](const Desktop::Window& w) { return w.id != m_main.id; }),
        "no dialog asked for the device");
    m_desktop.focus(dialog.id);
    m_desktop.type(path);
    m_desktop.key(QStringLiteral("Return"));
    QVERIFY(m_desktop.waitGone(dialog.id));
}

// A settings file maps COM1 to a device that is not /dev/ttyS0, which is missing here.
void TestEndToEnd::settingsMapCom1() {
    QVERIFY(sandbox::unbindPort(0));
    Pty adapter;
    QVERIFY(QDir().mkpath(m_config.filePath(QStringLiteral("vorq"))));
    QFile conf(m_config.filePath(QStringLiteral("vorq/vorq.conf")));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("[ports]\nCOM1=" + QFile::encodeName(adapter.slavePath()) + "\n");
    conf.close();
    startMain();
    QCOMPARE(adapter.baud(), 9600);
    enter(QStringLiteral("3"), QStringLiteral("USB"));
    m_desktop.click(at("Send", 0));
    QCOMPARE(adapter.readFrame(), frameOf("3USB"));
    closeBox(waitForBox());
}

// No COM1 at start-up: the failure box offers a device; the window then starts on it and
// the choice is saved.
void TestEndToEnd::chooseDeviceAtStartup() {
    QVERIFY(sandbox::unbindPort(0));
    Pty adapter;
    QVERIFY(startVorq(m_vorq, m_desktop.environment()));
    Desktop::Window box;
    QVERIFY(m_desktop.waitFor(&box, [](const Desktop::Window&) { return true; }));
    m_desktop.focus(box.id);
    m_desktop.key(QStringLiteral("Tab")); // from OK to "Choose a device for COM1…"
    m_desktop.key(QStringLiteral("space"));
    chooseOtherDevice(adapter.slavePath());
    QVERIFY2(
        m_desktop.waitFor(
            &m_main, [](const Desktop::Window& w) { return w.geometry.size() == kClientArea; }),
        "the window did not start");
    m_desktop.focus(m_main.id);
    enter(QStringLiteral("0"), QStringLiteral("CHOSEN"));
    m_desktop.click(at("Send", 0));
    QCOMPARE(adapter.readFrame(), frameOf("0CHOSEN"));
    closeBox(waitForBox());
    QVERIFY2(savedMapping().contains(QLatin1String("COM1=") + adapter.slavePath()),
             qPrintable(savedMapping()));
}

// A right-click on Com3 maps it to another device; choosing Com3 then writes there.
void TestEndToEnd::rightClickMapsCom3() {
    startMain();
    Pty adapter;
    m_desktop.click(at("Opt_Com", 2), 3);
    chooseOtherDevice(adapter.slavePath());
    m_desktop.focus(m_main.id);
    // Move off Com3 first: a click where the right-click was would not reach it.
    m_desktop.click(m_main.geometry.topLeft() + QPoint(4, 400));
    m_desktop.click(at("Opt_Com", 2));
    enter(QStringLiteral("6"), QStringLiteral("THREE"));
    m_desktop.click(at("Send", 0));
    QCOMPARE(adapter.readFrame(), frameOf("6THREE"));
    QCOMPARE(m_pty[2]->read(100), QByteArray());
    closeBox(waitForBox());
    QVERIFY2(savedMapping().contains(QLatin1String("COM3=") + adapter.slavePath()),
             qPrintable(savedMapping()));
}

// A crash report from a till can be read: vorq under gdb, stopped in the window's start-up,
// gives a backtrace with VORQ's functions and their source lines (for the installed program,
// from its debug-symbols package; a build tree without line tables skips).
void TestEndToEnd::backtraceIsReadable() {
    const QString gdb = QStandardPaths::findExecutable(QStringLiteral("gdb"));
    if (gdb.isEmpty())
        QSKIP("gdb is not installed");
    QProcess symbols; // first without running it: are there symbols and lines at all?
    symbols.start(gdb, {QStringLiteral("-nx"), QStringLiteral("-batch"), QStringLiteral("-ex"),
                        QStringLiteral("info line VORQ::Form_Load"), vorqBinary()});
    QVERIFY(symbols.waitForFinished(60000));
    const QString line = QString::fromLocal8Bit(symbols.readAll());
    // A build tree without line tables (a Release build) has nothing to show; the installed
    // program must have them, from its debug-symbols package.
    if (!line.startsWith(QLatin1String("Line ")) && qEnvironmentVariableIsEmpty("VORQ_BINARY"))
        QSKIP("the program was built without line tables (a Release build)");
    QVERIFY2(line.startsWith(QLatin1String("Line ")), qPrintable(line));
    QProcess p;
    p.setProcessEnvironment(m_desktop.environment());
    p.start(gdb, {QStringLiteral("-nx"), QStringLiteral("-batch"), QStringLiteral("-ex"),
                  QStringLiteral("break VORQ::Form_Load"), QStringLiteral("-ex"),
                  QStringLiteral("run"), QStringLiteral("-ex"), QStringLiteral("bt"),
                  QStringLiteral("-ex"), QStringLiteral("kill"), vorqBinary()});
    QVERIFY(p.waitForFinished(60000));
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    static const QRegularExpression frame(
        QStringLiteral("#\\d+ .* VORQ::\\S+.* at \\S*window/vorq\\.cpp:\\d+"));
    static const QRegularExpression caller(QStringLiteral("#\\d+ .* in main \\("));
    QVERIFY2(frame.match(out).hasMatch() && caller.match(out).hasMatch(), qPrintable(out));
}

int main(int argc, char* argv[]) {
    // Enter the namespace before any thread exists, in this same process.
    g_sandboxProblem = sandbox::enter();
    QCoreApplication app(argc, argv);
    TestEndToEnd test;
    const int failures = QTest::qExec(&test, argc, argv);
    return failures == 0 && g_skipped ? 77 : failures;
}

#include "test_e2e.moc"
