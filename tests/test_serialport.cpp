#include "line/serialport.h"
#include "support.h"

#include <QSignalSpy>
#include <QTest>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

static double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

class TestSerialPort : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void settingsStrings_data();
    void settingsStrings();
    void bytesArriveUnchanged_data();
    void bytesArriveUnchanged();
    void baudFollowsSettings_data();
    void baudFollowsSettings();
    void switchToMissingThenRecover();
    void switchToCurrentPortReopens();
    void outOfRangeSwitchLeavesPortAlone();
    void setSpeedWhileClosedChangesOnlySettings();
    void writeOnClosedPortFails();
    void vanishedDeviceFailsWithoutSpinning();
    void busyPortIsExplained();
    void lockVariants_data();
    void lockVariants();
};

void TestSerialPort::settingsStrings_data() {
    QTest::addColumn<QString>("settings");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("baud");
    QTest::newRow("9600") << "9600,n,8,1" << true << 9600;
    QTest::newRow("19200") << "19200,n,8,1" << true << 19200;
    QTest::newRow("upper-case parity") << "4800,E,7,2" << true << 4800;
    QTest::newRow("one and a half stop bits") << "1200,o,5,1.5" << true << 1200;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("three fields") << "9600,n,8" << false << 0;
    QTest::newRow("bad parity") << "9600,x,8,1" << false << 0;
    QTest::newRow("nine data bits") << "9600,n,9,1" << false << 0;
    QTest::newRow("zero baud") << "0,n,8,1" << false << 0;
    QTest::newRow("three stop bits") << "9600,n,8,3" << false << 0;
}

void TestSerialPort::settingsStrings() {
    QFETCH(QString, settings);
    QFETCH(bool, valid);
    QFETCH(int, baud);
    const auto parsed = parseSettings(settings);
    QCOMPARE(bool(parsed), valid);
    if (parsed)
        QCOMPARE(parsed->baud, baud);
}

void TestSerialPort::bytesArriveUnchanged_data() {
    QTest::addColumn<QByteArray>("bytes");
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    QTest::newRow("every byte value") << all;
    QTest::newRow("nul, escape and the end marker") << QByteArray("\x00\x1B\x00\xFF\x00", 5);
    QTest::newRow("high half, descending") << [] {
        QByteArray b;
        for (int v = 0xFF; v >= 0x80; --v)
            b.append(char(v));
        return b;
    }();
    QTest::newRow("carriage return and line feed kept") << QByteArray("\r\n\n\r");
    QTest::newRow("a long block") << QByteArray(3000, '\x5A');
}

void TestSerialPort::bytesArriveUnchanged() {
    QFETCH(QByteArray, bytes);
    Ports ports;
    SerialPort port(ports.resolver());
    QVERIFY(port.OpenAtStartup().ok());
    const LinkResult sent = port.WriteBytes(bytes);
    QVERIFY2(sent.ok(), qPrintable(sent.error));
    QCOMPARE(ports.pty[0]->read(2000, bytes.size()), bytes);
}

void TestSerialPort::baudFollowsSettings_data() {
    QTest::addColumn<QList<int>>("speedClicks"); // speed option indices, in order
    QTest::addColumn<int>("switchTo");           // port option index afterwards, -1 for none
    QTest::addColumn<int>("expectedBaud");
    QTest::newRow("after open") << QList<int>{} << -1 << 9600;
    QTest::newRow("19200 while open") << QList<int>{1} << -1 << 19200;
    QTest::newRow("back to 9600 while open") << QList<int>{1, 0} << -1 << 9600;
    QTest::newRow("19200, then another port") << QList<int>{1} << 2 << 19200;
    QTest::newRow("19200, then the same port") << QList<int>{1} << 0 << 19200;
}

void TestSerialPort::baudFollowsSettings() {
    QFETCH(QList<int>, speedClicks);
    QFETCH(int, switchTo);
    QFETCH(int, expectedBaud);
    Ports ports;
    SerialPort port(ports.resolver());
    QVERIFY(port.OpenAtStartup().ok());
    for (int index : speedClicks)
        QVERIFY(port.SetSpeed(index).ok());
    int current = 0;
    if (switchTo >= 0) {
        QVERIFY(port.SwitchPort(switchTo).ok());
        current = switchTo;
    }
    QVERIFY(port.PortOpen());
    QCOMPARE(ports.pty[current]->baud(), expectedBaud);
    QVERIFY(port.WriteBytes("x").ok());
    QCOMPARE(ports.pty[current]->read(1000, 1), QByteArray("x"));
}

void TestSerialPort::switchToMissingThenRecover() {
    Ports ports;
    ports.missing = {3};
    SerialPort port(ports.resolver());
    QVERIFY(port.OpenAtStartup().ok());
    const LinkResult failed = port.SwitchPort(2);
    QVERIFY(!failed.ok());
    QCOMPARE(failed.cause, LinkResult::Cause::Missing);
    QCOMPARE(failed.port, 3);
    QCOMPARE(failed.device, QStringLiteral("/nonexistent/vorq-port-3"));
    QVERIFY(!port.PortOpen());
    QCOMPARE(port.CommPort(), 3);
    QVERIFY(!port.WriteBytes("lost").ok());

    QVERIFY(port.SwitchPort(1).ok());
    QVERIFY(port.PortOpen());
    QCOMPARE(port.CommPort(), 2);
    QVERIFY(port.WriteBytes("found").ok());
    QCOMPARE(ports.pty[1]->read(1000, 5), QByteArray("found"));
    QCOMPARE(ports.pty[0]->read(), QByteArray());
}

void TestSerialPort::switchToCurrentPortReopens() {
    Ports ports;
    SerialPort port(ports.resolver());
    QVERIFY(port.OpenAtStartup().ok());
    // Someone else changes the line under the open port; a reopen sets it again.
    {
        const int fd = ::open(qPrintable(ports.pty[0]->slavePath()), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0);
        termios t{};
        ::tcgetattr(fd, &t);
        ::cfsetspeed(&t, B38400);
        ::tcsetattr(fd, TCSANOW, &t);
        ::close(fd);
    }
    QCOMPARE(ports.pty[0]->baud(), 38400);
    QVERIFY(port.SwitchPort(0).ok());
    QVERIFY(port.PortOpen());
    QCOMPARE(ports.pty[0]->baud(), 9600);
}

void TestSerialPort::outOfRangeSwitchLeavesPortAlone() {
    Ports ports;
    SerialPort port(ports.resolver());
    QVERIFY(port.OpenAtStartup().ok());
    for (int index : {-1, 5, 32767}) {
        QVERIFY(port.SwitchPort(index).ok());
        QCOMPARE(port.CommPort(), 1);
        QVERIFY(port.PortOpen());
    }
}

void TestSerialPort::setSpeedWhileClosedChangesOnlySettings() {
    Ports ports;
    ports.missing = {5};
    SerialPort port(ports.resolver());
    QVERIFY(port.OpenAtStartup().ok());
    QVERIFY(!port.SwitchPort(4).ok());
    QVERIFY(port.SetSpeed(1).ok());
    QCOMPARE(port.Settings(), QStringLiteral("19200,n,8,1"));
    QVERIFY(!port.PortOpen());
    QCOMPARE(port.CommPort(), 5);
    QVERIFY(port.SwitchPort(3).ok());
    QCOMPARE(ports.pty[3]->baud(), 19200);
}

void TestSerialPort::writeOnClosedPortFails() {
    Ports ports;
    SerialPort port(ports.resolver());
    QVERIFY(port.OpenAtStartup().ok());
    QVERIFY(port.setPortOpen(false).ok());
    const LinkResult sent = port.WriteBytes("\x1B"
                                            "abc\xFF");
    QVERIFY(!sent.ok());
    QCOMPARE(sent.stage, LinkResult::Stage::Closed);
    QCOMPARE(ports.pty[0]->read(), QByteArray());
}

void TestSerialPort::vanishedDeviceFailsWithoutSpinning() {
    Ports ports;
    SerialPort port(ports.resolver());
    QVERIFY(port.OpenAtStartup().ok());
    QSignalSpy closed(&port, &SerialPort::closedByError);
    ports.pty[0]->vanish();
    const LinkResult sent = port.WriteBytes(frameOf("3"));
    QVERIFY(!sent.ok());
    QCOMPARE(sent.device, ports.pty[0]->slavePath());
    QVERIFY(closed.size() == 1 || closed.wait(1000));
    QCOMPARE(closed.size(), 1);
    QVERIFY(closed[0][0].value<LinkResult>().closedByFailure);

    const double before = cpuSeconds();
    QTest::qWait(500);
    const double used = cpuSeconds() - before;
    QVERIFY2(used < 0.2, qPrintable(QStringLiteral("%1 s of CPU while idle").arg(used)));
    QVERIFY(!port.PortOpen());
    QVERIFY(!port.WriteBytes("again").ok());
}

void TestSerialPort::busyPortIsExplained() {
    Ports ports;
    SerialPort holder(ports.resolver());
    QVERIFY(holder.OpenAtStartup().ok());
    SerialPort second(ports.resolver());
    const LinkResult opened = second.OpenAtStartup();
    QVERIFY(!opened.ok());
    QCOMPARE(opened.cause, LinkResult::Cause::Busy);
    QCOMPARE(opened.port, 1);
    QCOMPARE(opened.holder, QStringLiteral("process %1 (test_serialport)").arg(getpid()));
    QVERIFY(!second.PortOpen());
}

// A pid that no process has: a child that has exited and been reaped.
static qint64 deadPid() {
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

// Who holds the port, and how: a lock file (its content, or "<fifo>", "<dir>" or "->TARGET"
// for what a hostile user can put there), another program's flock or exclusive mode, or a
// port open through a symbolic link. Each case must answer within a second.
void TestSerialPort::lockVariants_data() {
    using Hold = LinkResult::Hold;
    QTest::addColumn<QString>("holder");  // "lock", "flock", "exclusive" or "symlink"
    QTest::addColumn<QByteArray>("lock"); // the lock file, for "lock"
    QTest::addColumn<int>("ageSeconds");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<Hold>("hold");
    QTest::addColumn<QString>("fact"); // in the holder, the error or the name the lock gives
    const QByteArray dead = QByteArray::number(deadPid());
    const QString me = QStringLiteral("process %1").arg(getpid());
    QTest::newRow("UUCP form, live pid")
        << "lock" << QByteArray("         1\n") << 0 << true << Hold::Lock << "process 1";
    QTest::newRow("UUCP form, live pid, an hour old")
        << "lock" << QByteArray("         1\n") << 3600 << true << Hold::Lock << "process 1";
    QTest::newRow("binary form, live pid")
        << "lock" << QByteArray("\x01\0\0\0", 4) << 0 << true << Hold::Lock << "process 1";
    QTest::newRow("UUCP form, dead pid: stale") << "lock" << dead.rightJustified(10) + '\n'
                                                << 0 << false << Hold::Unknown << "";
    QTest::newRow("Qt's form, its pid now runs another program")
        << "lock" << QByteArray("1\nno-such-program\nhost\n") << 0 << true << Hold::Lock
        << "no-such-program";
    QTest::newRow("a FIFO") << "lock" << QByteArray("<fifo>") << 0 << true << Hold::NotALock
                            << "a FIFO";
    QTest::newRow("a directory") << "lock" << QByteArray("<dir>") << 0 << true << Hold::NotALock
                                 << "a directory";
    QTest::newRow("a link to /dev/zero")
        << "lock" << QByteArray("->/dev/zero") << 0 << true << Hold::NotALock << "a symbolic link";
    QTest::newRow("a link to a terminal")
        << "lock" << QByteArray("->/dev/tty") << 0 << true << Hold::NotALock << "a symbolic link";
    QTest::newRow("empty") << "lock" << QByteArray() << 0 << true << Hold::GarbledLock << "";
    QTest::newRow("garbled") << "lock" << QByteArray("pid=12\n") << 0 << true << Hold::GarbledLock
                             << "";
    QTest::newRow("a pid beyond pid_max")
        << "lock" << QByteArray("4294967295\n") << 0 << true << Hold::GarbledLock << "";
    QTest::newRow("flock held by another program")
        << "flock" << QByteArray() << 0 << true << Hold::Flock << me;
    QTest::newRow("exclusive mode (TIOCEXCL) of another program")
        << "exclusive" << QByteArray() << 0 << true << Hold::Exclusive << "";
    QTest::newRow("held through a symbolic link")
        << "symlink" << QByteArray() << 0 << true << Hold::Lock << me;
}

void TestSerialPort::lockVariants() {
    QFETCH(QString, holder);
    QFETCH(QByteArray, lock);
    QFETCH(int, ageSeconds);
    QFETCH(bool, busy);
    QFETCH(LinkResult::Hold, hold);
    QFETCH(QString, fact);
    Ports ports;
    const QString device = ports.pty[0]->slavePath();
    // Lock files of this test's own; a port held by a SerialPort is locked where Qt puts it.
    QTemporaryDir locks;
    const QString lockPath = locks.filePath(QStringLiteral("LCK..") + QFileInfo(device).fileName());
    QFile lockFile(lockPath);
    const QString link = QDir::temp().filePath(QStringLiteral("vorq-test-by-id"));
    QFile::remove(link);
    int held = -1;
    SerialPort first([&](int) { return link; });
    if (holder == QLatin1String("lock")) {
        if (lock == "<fifo>")
            QVERIFY(::mkfifo(qPrintable(lockPath), 0644) == 0);
        else if (lock == "<dir>")
            QVERIFY(QDir().mkdir(lockPath));
        else if (lock.startsWith("->"))
            QVERIFY(QFile::link(QString::fromLatin1(lock.mid(2)), lockPath));
        else {
            QVERIFY(lockFile.open(QIODevice::WriteOnly));
            lockFile.write(lock);
            lockFile.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds),
                                 QFileDevice::FileModificationTime);
            lockFile.close();
        }
    } else if (holder == QLatin1String("flock")) {
        held = ::open(qPrintable(device), O_RDWR | O_NOCTTY);
        QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);
    } else if (holder == QLatin1String("exclusive")) {
        held = ::open(qPrintable(device), O_RDWR | O_NOCTTY);
        QVERIFY(held >= 0 && ::ioctl(held, TIOCEXCL) == 0);
    } else {
        QVERIFY(QFile::link(device, link));
        first.setCommPort(0);
        QVERIFY(first.setSettings(QStringLiteral("9600,n,8,1")).ok());
        QVERIFY(first.setPortOpen(true).ok());
    }
    SerialPort port(ports.resolver());
    if (holder == QLatin1String("lock"))
        port.setLockDirectories({locks.path()});
    QElapsedTimer clock;
    clock.start();
    const LinkResult opened = port.OpenAtStartup();
    const qint64 took = clock.elapsed();
    QDir().rmdir(lockPath);
    QFile::remove(lockPath);
    QFile::remove(link);
    int exclusive = 0;
    if (held >= 0) {
        ::ioctl(held, TIOCGEXCL, &exclusive);
        ::close(held);
    }
    QVERIFY2(took < 1000, qPrintable(QStringLiteral("%1 ms").arg(took)));
    QCOMPARE(opened.ok(), !busy);
    if (holder == QLatin1String("exclusive"))
        QVERIFY(exclusive); // the other program's flag is left as it was
    if (busy) {
        QCOMPARE(opened.cause, LinkResult::Cause::Busy);
        QCOMPARE(opened.hold, hold);
        const QString facts = opened.holder + u'|' + opened.error + u'|' + opened.lockNames;
        QVERIFY2(facts.contains(fact), qPrintable(facts));
        if (hold == LinkResult::Hold::NotALock || hold == LinkResult::Hold::GarbledLock)
            QCOMPARE(opened.lockFile, lockPath);
    }
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "test_serialport.moc"
