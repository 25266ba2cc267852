// A rollout to a fleet of tills with the Ansible role vorq_display, run by ansible-playbook
// over real ssh. Each till is an sshd on 127.0.0.1 in a mount namespace of its own (the
// program `till`), so that it has its own /dev/ttyS0 to /dev/ttyS4 (pseudo-terminals that
// this test reads), its own /etc/xdg/vorq and its own write record, and the role runs as on
// a real till. The scenarios run in order, as a chain's rollouts would.
#include "display/display.h"
#include "support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const int kTills = qEnvironmentVariableIntValue("VORQ_FLEET_TILLS") > 0
                       ? qEnvironmentVariableIntValue("VORQ_FLEET_TILLS")
                       : 8;

// A port on 127.0.0.1 that nothing listens on now.
int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
    ::close(s);
    return ntohs(a.sin_port);
}

bool accepts(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(quint16(port));
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

struct Till {
    Ports lines; // its /dev/ttyS0 to /dev/ttyS4
    int port = 0;
    QProcess sshd;
};

// What a run of the playbook reported for each host.
struct Recap {
    QJsonObject stats;              // host -> {ok, changed, failed, ...}
    QHash<QString, QString> failed; // host -> the message of its failed task
    QString output;                 // all that ansible-playbook printed
};

} // namespace

class TestFleet : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void rollout_data();
    void rollout();
    void installsThePackage();
    void benchmark();

private:
    QString write(const QString& name, const QByteArray& content);
    Recap play(const QJsonObject& hosts, const QStringList& options,
               const QString& playbook = QStringLiteral(VORQ_ANSIBLE "/site.yml"));
    QJsonObject inventory(const QStringList& texts, bool mapped) const;

    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<Till>> m_tills;
    QString m_key;
};

QString TestFleet::write(const QString& name, const QByteArray& content) {
    const QString path = m_dir.filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(content);
    return path;
}

void TestFleet::initTestCase() {
    for (const char* tool : {"ansible-playbook", "ssh-keygen"})
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QLatin1String(tool))));
    if (::geteuid() != 0 || !QFile::exists(QStringLiteral("/usr/sbin/sshd")))
        QSKIP("the tills need root and sshd");
    m_key = m_dir.filePath(QStringLiteral("key"));
    for (const QString& key : {m_key, m_dir.filePath(QStringLiteral("host_key"))})
        QCOMPARE(QProcess::execute(QStringLiteral("ssh-keygen"),
                                   {QStringLiteral("-q"), QStringLiteral("-t"),
                                    QStringLiteral("ed25519"), QStringLiteral("-N"), QString(),
                                    QStringLiteral("-f"), key}),
                 0);
    QFile::copy(m_key + QStringLiteral(".pub"), m_dir.filePath(QStringLiteral("authorized_keys")));
    for (int i = 0; i < kTills; ++i) {
        auto till = std::make_unique<Till>();
        const QString root = m_dir.filePath(QStringLiteral("till%1/").arg(i));
        for (const char* dir : {"etc", "home", "bin"})
            QVERIFY(QDir().mkpath(root + QLatin1String(dir)));
        QVERIFY(QFile::link(QStringLiteral(VORQ_WRITE), root + QStringLiteral("bin/vorq-write")));
        if (i == 0) { // an interpreter of its own, which keeps a copy of each module it runs
            const QString python = write(QStringLiteral("till0/bin/till-python"),
                                         "#!/bin/sh\ntee -a /root/modules-run.log | "
                                         "/usr/bin/python3 \"$@\"\n");
            QVERIFY(QFile::setPermissions(python, QFile::permissions(python) | QFile::ExeOwner));
        }
        till->port = freePort();
        const QString config =
            write(QStringLiteral("till%1/sshd_config").arg(i),
                  QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2\nPidFile none\n"
                                 "AuthorizedKeysFile %3\nPermitRootLogin prohibit-password\n"
                                 "PasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                                 "UsePAM no\nStrictModes no\nLogLevel QUIET\n")
                      .arg(till->port)
                      .arg(m_dir.filePath(QStringLiteral("host_key")),
                           m_dir.filePath(QStringLiteral("authorized_keys")))
                      .toUtf8());
        QStringList args{root + QStringLiteral("etc"), root + QStringLiteral("home"),
                         root + QStringLiteral("bin")};
        for (auto& line : till->lines.pty)
            args << line->slavePath();
        args << QStringLiteral("--") << QStringLiteral("/usr/sbin/sshd") << QStringLiteral("-D")
             << QStringLiteral("-e") << QStringLiteral("-f") << config;
        // Nothing of the till's may hold this test's output open after it ends.
        till->sshd.setStandardOutputFile(QProcess::nullDevice());
        till->sshd.setStandardErrorFile(QProcess::nullDevice());
        till->sshd.start(QStringLiteral(VORQ_TILL), args);
        QVERIFY(till->sshd.waitForStarted());
        m_tills.push_back(std::move(till));
    }
    for (auto& till : m_tills) {
        QTRY_VERIFY_WITH_TIMEOUT(accepts(till->port) || till->sshd.state() == QProcess::NotRunning,
                                 10000);
        if (till->sshd.state() == QProcess::NotRunning && till->sshd.exitCode() == 77)
            QSKIP("no private mount namespace here");
        QVERIFY2(accepts(till->port), "a till's sshd did not start");
    }
}

void TestFleet::cleanupTestCase() {
    for (auto& till : m_tills) {
        till->sshd.kill();
        till->sshd.waitForFinished(5000);
    }
}

// Every till, with its display's text ("TILL n" where `texts` has none); with `mapped`, the
// last till's display is COM2, which its vorq_ports maps to /dev/ttyS0.
QJsonObject TestFleet::inventory(const QStringList& texts, bool mapped) const {
    QJsonObject hosts;
    for (int i = 0; i < kTills; ++i) {
        const bool map = mapped && i == kTills - 1;
        QJsonObject host{
            {QStringLiteral("ansible_port"), m_tills[size_t(i)]->port},
            {QStringLiteral("vorq_displays"),
             QJsonArray{QJsonObject{
                 {QStringLiteral("port"), map ? QStringLiteral("COM2") : QStringLiteral("COM1")},
                 {QStringLiteral("code"), i % frame::kCommandSetCount},
                 {QStringLiteral("text"), i < texts.size() && !texts[i].isEmpty()
                                              ? texts[i]
                                              : QStringLiteral("TILL %1").arg(i)}}}}};
        if (i == 0)
            host.insert(QStringLiteral("ansible_python_interpreter"),
                        QStringLiteral("/usr/local/bin/till-python"));
        if (map)
            host.insert(QStringLiteral("vorq_ports"),
                        QJsonObject{{QStringLiteral("COM2"), QStringLiteral("/dev/ttyS0")}});
        hosts.insert(QStringLiteral("till%1").arg(i), host);
    }
    return hosts;
}

Recap TestFleet::play(const QJsonObject& hosts, const QStringList& options,
                      const QString& playbook) {
    const QJsonObject vars{
        {QStringLiteral("ansible_host"), QStringLiteral("127.0.0.1")},
        {QStringLiteral("ansible_user"), QStringLiteral("root")},
        {QStringLiteral("ansible_become"), false},
        {QStringLiteral("ansible_ssh_private_key_file"), m_key},
        {QStringLiteral("ansible_python_interpreter"), QStringLiteral("/usr/bin/python3")},
        {QStringLiteral("ansible_ssh_common_args"),
         QStringLiteral("-o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null")}};
    const QString file =
        write(QStringLiteral("inventory.json"),
              QJsonDocument(QJsonObject{{QStringLiteral("tills"),
                                         QJsonObject{{QStringLiteral("hosts"), hosts},
                                                     {QStringLiteral("vars"), vars}}}})
                  .toJson());
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ANSIBLE_ROLES_PATH"), QStringLiteral(VORQ_ANSIBLE "/roles"));
    env.insert(QStringLiteral("ANSIBLE_PIPELINING"), QStringLiteral("True"));
    env.insert(QStringLiteral("ANSIBLE_HOST_KEY_CHECKING"), QStringLiteral("False"));
    env.insert(QStringLiteral("ANSIBLE_LOCAL_TEMP"), m_dir.filePath(QStringLiteral("ansible")));
    env.insert(QStringLiteral("ANSIBLE_NOCOLOR"), QStringLiteral("1"));
    // Connections are shared within a run, and end soon after it.
    env.insert(QStringLiteral("ANSIBLE_SSH_ARGS"),
               QStringLiteral("-o ControlMaster=auto -o ControlPersist=5s"));
    env.insert(QStringLiteral("ANSIBLE_SSH_CONTROL_PATH_DIR"),
               m_dir.filePath(QStringLiteral("cp")));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(m_dir.path());
    p.start(QStringLiteral("ansible-playbook"),
            QStringList{QStringLiteral("-i"), file, QStringLiteral("--forks"), QStringLiteral("10"),
                        playbook}
                << options);
    p.waitForFinished(600000);
    // The recap ("till0 : ok=2 changed=1 unreachable=0 failed=0 ...") and each failure
    // ("failed: [till2] (item=COM1) => {...}").
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    Recap recap;
    recap.output = out;
    static const QRegularExpression stat(QStringLiteral("^(\\S+)\\s+:\\s+(ok=.*)$"),
                                         QRegularExpression::MultilineOption);
    for (auto m = stat.globalMatch(out); m.hasNext();) {
        const auto line = m.next();
        QJsonObject counts;
        for (const QString& pair : line.captured(2).simplified().split(QLatin1Char(' ')))
            counts.insert(pair.section(QLatin1Char('='), 0, 0),
                          pair.section(QLatin1Char('='), 1).toInt());
        recap.stats.insert(line.captured(1), counts);
    }
    static const QRegularExpression fatal(
        QStringLiteral("^(?:fatal|failed): \\[(\\S+)\\].* => (.*)$"),
        QRegularExpression::MultilineOption);
    for (auto m = fatal.globalMatch(out); m.hasNext();) {
        const auto line = m.next();
        recap.failed[line.captured(1)] = line.captured(2);
    }
    if (recap.stats.isEmpty())
        qWarning("%s%s", qPrintable(out), p.readAllStandardError().constData());
    return recap;
}

// Each rollout in order: the texts wanted (none: "TILL n"), the options of ansible-playbook,
// the till whose port another program holds (-1: none), whether the last till's display is
// reached through vorq_ports, and which tills must then have received their frame.
void TestFleet::rollout_data() {
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("held");
    QTest::addColumn<bool>("mapped");
    QTest::addColumn<QList<int>>("written");
    QTest::addColumn<bool>("pattern"); // vorq_test_pattern: true
    QList<int> all;
    for (int i = 0; i < kTills; ++i)
        all << i;
    QTest::newRow("first run: every till")
        << QStringList() << QStringList() << -1 << false << all << false;
    QTest::newRow("second run: nothing, and no pattern")
        << QStringList() << QStringList() << -1 << false << QList<int>{} << true;
    QTest::newRow("one till's text changed, with its test pattern")
        << QStringList{{}, QStringLiteral("NEW TEXT")} << QStringList() << -1 << false
        << QList<int>{1} << true;
    QTest::newRow("check and diff mode: nothing is sent")
        << QStringList(kTills, QStringLiteral("CHECKED"))
        << QStringList{QStringLiteral("--check"), QStringLiteral("--diff")} << -1 << false
        << QList<int>{} << true;
    QTest::newRow("one till's port held by another program")
        << QStringList(kTills, QStringLiteral("HELD")) << QStringList() << 2 << false <<
        [&] {
            QList<int> others = all;
            others.removeOne(2);
            return others;
        }()
        << false;
    QStringList mapped(kTills, QStringLiteral("HELD"));
    mapped.last() = QStringLiteral("MAPPED");
    QTest::newRow("a COM name mapped through vorq_ports, and the held till again")
        << mapped << QStringList() << -1 << true << QList<int>{2, kTills - 1} << false;
}

void TestFleet::rollout() {
    QFETCH(QStringList, texts);
    QFETCH(QStringList, options);
    QFETCH(int, held);
    QFETCH(bool, mapped);
    QFETCH(QList<int>, written);
    QFETCH(bool, pattern);
    int holder = -1;
    if (held >= 0) { // as a POS program would: flock on the line
        holder = ::open(qPrintable(m_tills[size_t(held)]->lines.pty[0]->slavePath()),
                        O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(holder >= 0 && ::flock(holder, LOCK_EX) == 0);
    }
    QFile modules(m_dir.filePath(QStringLiteral("till0/home/modules-run.log")));
    modules.remove();
    QJsonObject hosts = inventory(texts, mapped);
    if (pattern)
        for (const QString& host : hosts.keys()) {
            QJsonObject vars = hosts.value(host).toObject();
            vars.insert(QStringLiteral("vorq_test_pattern"), true);
            hosts.insert(host, vars);
        }
    const Recap recap = play(hosts, options);
    if (holder >= 0)
        ::close(holder);
    const bool check = options.contains(QStringLiteral("--check"));
    if (options.contains(QStringLiteral("--diff"))) // the record against what is wanted
        QVERIFY2(recap.output.contains(QLatin1String("-text: \"NEW TEXT\"")) &&
                     recap.output.contains(QLatin1String("+text: \"CHECKED\"")),
                 qPrintable(recap.output));
    // Till 0's modules ran under its own interpreter, the vorq_write module among them.
    QVERIFY(modules.open(QIODevice::ReadOnly) && modules.readAll().contains("vorq_write"));
    for (int i = 0; i < kTills; ++i) {
        const QString host = QStringLiteral("till%1").arg(i);
        const QJsonObject stats = recap.stats.value(host).toObject();
        QVERIFY2(!stats.isEmpty(), qPrintable(host));
        const bool wanted = written.contains(i);
        const QJsonObject display = hosts.value(host)
                                        .toObject()
                                        .value(QStringLiteral("vorq_displays"))
                                        .toArray()
                                        .first()
                                        .toObject();
        const int code = display.value(QStringLiteral("code")).toInt();
        // The frame, and with vorq_test_pattern the set's pattern after it.
        const QByteArray frame =
            frameOf(QByteArray::number(code) +
                    display.value(QStringLiteral("text")).toString().toLatin1()) +
            (pattern && !check ? display::testPattern(code) : QByteArray());
        // Exactly its own frame on its /dev/ttyS0, and not one byte anywhere else.
        Ports& lines = m_tills[size_t(i)]->lines;
        QCOMPARE(lines.pty[0]->read(wanted ? 5000 : 1, wanted ? int(frame.size()) : -1),
                 wanted ? frame : QByteArray());
        QCOMPARE(lines.readAll(), QByteArray());
        QCOMPARE(stats.value(QStringLiteral("failed")).toInt(), i == held ? 1 : 0);
        // Changed: a frame written, or in check mode one to write; and the port map deployed
        // (its folder and its file).
        const int changed = stats.value(QStringLiteral("changed")).toInt();
        QVERIFY2(changed == int(wanted || check) + 2 * int(mapped && i == kTills - 1),
                 qPrintable(QStringLiteral("%1: changed=%2").arg(host).arg(changed)));
        if (i == held)
            QVERIFY2(recap.failed.value(host).contains(QLatin1String("held by process")),
                     qPrintable(recap.failed.value(host)));
    }
}

// With VORQ_FLEET_DEB naming a .deb (make test-installed, after removing the package): the
// role installs it on till 0 from the controller (its folder, the copy, the package), and
// the other tills are left alone.
void TestFleet::installsThePackage() {
    const QString deb = qEnvironmentVariable("VORQ_FLEET_DEB");
    if (deb.isEmpty())
        QSKIP("set VORQ_FLEET_DEB to a package file to install");
    QJsonObject hosts;
    for (int i = 0; i < kTills; ++i) {
        QJsonObject host{{QStringLiteral("ansible_port"), m_tills[size_t(i)]->port}};
        if (i == 0)
            host.insert(QStringLiteral("vorq_package"), deb);
        hosts.insert(QStringLiteral("till%1").arg(i), host);
    }
    const Recap recap = play(hosts, {});
    QVERIFY2(recap.failed.isEmpty(), qPrintable(recap.output));
    QVERIFY(recap.stats.value(QStringLiteral("till0"))[QLatin1String("changed")].toInt() >= 1);
    QCOMPARE(recap.stats.value(QStringLiteral("till1"))[QLatin1String("changed")].toInt(), 0);
    QProcess query;
    query.start(QStringLiteral("dpkg-query"),
                {QStringLiteral("-W"), QStringLiteral("-f"), QStringLiteral("${Version}"),
                 QStringLiteral("vorq")});
    QVERIFY(query.waitForFinished());
    QVERIFY2(deb.contains(QLatin1String("vorq_") +
                          QString::fromUtf8(query.readAllStandardOutput()) + QLatin1Char('_')),
             qPrintable(deb));
}

// With VORQ_FLEET_BENCH set (make bench): a first rollout, then, VORQ_BENCH_RUNS times each
// (default 9) and alternated, a rollout that changes nothing and a play of the same shape
// whose tasks are built-in no-ops, with --forks 10. A rollout that changes nothing opens no
// port: not one byte arrives anywhere. The last line, for the benchmark's table, is
// "fleet <unchanged ms> <no-op ms>" with the medians.
void TestFleet::benchmark() {
    if (!qEnvironmentVariableIsSet("VORQ_FLEET_BENCH"))
        QSKIP("set VORQ_FLEET_BENCH to measure");
    const int runs = qMax(1, qEnvironmentVariableIsSet("VORQ_BENCH_RUNS")
                                 ? qEnvironmentVariableIntValue("VORQ_BENCH_RUNS")
                                 : 9);
    const QJsonObject hosts = inventory(QStringList(kTills, QStringLiteral("BENCH")), false);
    QElapsedTimer clock;
    Recap recap;
    auto timed = [&](const QString& playbook) {
        clock.start();
        recap = play(hosts, {}, playbook);
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        return recap.stats.size() == kTills && recap.failed.isEmpty() ? ms : -1.0;
    };
    // A till that failed says why, with all that the play printed.
    const auto why = [&] { return recap.output.toLocal8Bit(); };
    QVERIFY2(timed(QStringLiteral(VORQ_ANSIBLE "/site.yml")) > 0, why().constData());
    for (auto& till : m_tills)
        QVERIFY2(!till->lines.readAll(1).isEmpty(), why().constData());
    QList<double> unchanged, noop;
    for (int i = 0; i < runs; ++i) {
        unchanged << timed(QStringLiteral(VORQ_ANSIBLE "/site.yml"));
        noop << timed(QStringLiteral(VORQ_FLEET "/true-play.yml"));
        QVERIFY2(unchanged.last() > 0 && noop.last() > 0, why().constData());
        for (auto& till : m_tills)
            QCOMPARE(till->lines.readAll(1), QByteArray());
    }
    auto median = [](QList<double> v) {
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    };
    std::printf("fleet %.1f %.1f\n", median(unchanged), median(noop));
}

QTEST_GUILESS_MAIN(TestFleet)
#include "test_fleet.moc"
