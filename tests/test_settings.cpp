// The settings files: which device each COM number opens, which it must not open, and what
// a save changes in the user's file.
#include "display/eepromfile.h"
#include "line/portmap.h"
#include "store/writerecord.h"
#include "support.h"

#include <QTest>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <climits>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Puts `content` at `path`: "<dir>" a directory, "<fifo>" a FIFO, "<dangling>" a symbolic
// link to nothing, "<loop>" a link to itself, "->NAME" a link to the file NAME beside it,
// which holds "[ports]";
// anything else is the file's bytes, and nothing at all for an empty array.
void place(const QString& path, const QByteArray& content) {
    const QByteArray native = QFile::encodeName(path);
    if (content == "<dir>")
        QDir().mkpath(path);
    else if (content == "<fifo>")
        ::mkfifo(native.constData(), 0644);
    else if (content == "<dangling>")
        QFile::link(path + QStringLiteral(".gone"), path);
    else if (content == "<loop>")
        QFile::link(path, path);
    else if (content.startsWith("->")) {
        QFile::link(QString::fromUtf8(content.mid(2)), path);
        place(QFileInfo(path).dir().filePath(QString::fromUtf8(content.mid(2))), "[ports]\n");
    } else if (!content.isEmpty()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void portMap_data();
    void portMap();
    void save_data();
    void save();
    void record_data();
    void record();
    void recordChangedAfterFind_data();
    void recordChangedAfterFind();
    void recordKeys();
    void linksAreFollowedAsTheKernelFollowsThem_data();
    void linksAreFollowedAsTheKernelFollowsThem();
    void recordTime();
};

// What each COM number opens: its device, or "refused <text>" where the refusal must contain
// the text (the file and the line).
void TestSettings::portMap_data() {
    QTest::addColumn<QByteArray>("system");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QStringList>("devices"); // COM1 to COM5
    QTest::addColumn<int>("warnings");
    const QStringList defaults{QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyS1"),
                               QStringLiteral("/dev/ttyS2"), QStringLiteral("/dev/ttyS3"),
                               QStringLiteral("/dev/ttyS4")};
    auto with = [&](int n, const char* device) {
        QStringList d = defaults;
        d[n - 1] = QString::fromUtf8(device);
        return d;
    };
    const QStringList allRefused(5, QStringLiteral("refused user.conf:0"));
    QTest::newRow("no files: defaults") << QByteArray() << QByteArray() << defaults << 0;
    QTest::newRow("the system's mapping") << QByteArray("[ports]\nCOM2=/dev/ttyUSB0\n")
                                          << QByteArray() << with(2, "/dev/ttyUSB0") << 0;
    QTest::newRow("the user's entry wins")
        << QByteArray("[ports]\nCOM2=/dev/ttyUSB0\n") << QByteArray("[ports]\nCOM2=/dev/ttyACM0\n")
        << with(2, "/dev/ttyACM0") << 0;
    QTest::newRow("comments, a BOM, spaces and any case")
        << QByteArray()
        << QByteArray("\xEF\xBB\xBF# managed\r\n; note\r\n\r\n[Ports]\r\n"
                      "  com4 =  /dev/ttyUSB1  \r\n")
        << with(4, "/dev/ttyUSB1") << 0;
    QTest::newRow("other keys") << QByteArray() << QByteArray("[ports]\nCOM6=/dev/x\nfoo=/dev/y\n")
                                << defaults << 2;
    QTest::newRow("a note line and binary junk are ignored alone")
        << QByteArray()
        << QByteArray("[ports]\nremember the cable\nCOM1=/dev/ttyUSB0\n\xC3\x28\x01\n")
        << with(1, "/dev/ttyUSB0") << 2;
    QTest::newRow("empty value") << QByteArray() << QByteArray("[ports]\nCOM1=\n")
                                 << with(1, "refused user.conf:2") << 0;
    QTest::newRow("relative path") << QByteArray() << QByteArray("# x\n[ports]\nCOM1=ttyUSB0\n")
                                   << with(1, "refused user.conf:3") << 0;
    QTest::newRow("NUL in the path")
        << QByteArray() << QByteArray("[ports]\nCOM2=/dev/ttyUSB0") + '\0' + "/x\n"
        << with(2, "refused user.conf:2") << 0;
    QTest::newRow("longer than PATH_MAX")
        << QByteArray() << "[ports]\nCOM3=/" + QByteArray(5000, 'a') + '\n'
        << with(3, "refused user.conf:2") << 0;
    QTest::newRow("a COM line that cannot be read")
        << QByteArray() << QByteArray("[ports]\nCOM5 /dev/ttyUSB0\n")
        << with(5, "refused user.conf:2") << 0;
    QTest::newRow("a COM key outside [ports]")
        << QByteArray() << QByteArray("[window]\nCOM1=/dev/x\n") << with(1, "refused user.conf:2")
        << 0;
    QTest::newRow("a bad user entry refuses, even over the system's")
        << QByteArray("[ports]\nCOM3=/dev/ttyUSB1\n") << QByteArray("[ports]\nCOM3=\n")
        << with(3, "refused user.conf:2") << 0;
    QTest::newRow("quotes are not part of the path")
        << QByteArray() << QByteArray("[ports]\nCOM1 = \"/dev/tty USB0 \"\n")
        << with(1, "/dev/tty USB0 ") << 0;
    QTest::newRow("a file over 1 MiB is not read")
        << QByteArray() << QByteArray("[ports]\nCOM1=/dev/ttyUSB0\n") + QByteArray(1 << 20, '\n')
        << allRefused << 0;
    QTest::newRow("a path with a comma is one path")
        << QByteArray() << QByteArray("[ports]\nCOM1=/dev/a,/dev/b\n") << with(1, "/dev/a,/dev/b")
        << 0;
    QTest::newRow("an unreadable system file, mended by the user")
        << QByteArray("<dir>") << QByteArray("[ports]\nCOM2=/dev/ttyUSB0\n") <<
        [] {
            QStringList d(5, QStringLiteral("refused system.conf:0"));
            d[1] = QStringLiteral("/dev/ttyUSB0");
            return d;
        }()
        << 0;
    for (const char* what : {"<dir>", "<fifo>", "<dangling>", "<loop>"})
        QTest::newRow(qPrintable(QStringLiteral("user file is %1").arg(QLatin1String(what))))
            << QByteArray() << QByteArray(what) << allRefused << 0;
}

void TestSettings::portMap() {
    QFETCH(QByteArray, system);
    QFETCH(QByteArray, user);
    QFETCH(QStringList, devices);
    QFETCH(int, warnings);
    QTemporaryDir dir;
    const QString systemFile = dir.filePath(QStringLiteral("system.conf"));
    const QString userFile = dir.filePath(QStringLiteral("user.conf"));
    place(systemFile, system);
    place(userFile, user);
    PortMap map(SerialPort::systemDevice, {{systemFile}, userFile});
    QElapsedTimer clock;
    clock.start();
    const QList<PortMap::Warning> said = map.load();
    QVERIFY(clock.elapsed() < 1000); // a FIFO must not block
    QCOMPARE(said.size(), warnings);
    for (const PortMap::Warning& w : said)
        QVERIFY(w.file.endsWith(QLatin1String(".conf")) && w.line > 0);
    for (int n = 1; n <= 5; ++n) {
        const QString& want = devices[n - 1];
        if (want.startsWith(QLatin1String("refused "))) {
            QVERIFY2(map.device(n).isEmpty(), qPrintable(map.device(n)));
            const LinkResult refused = map.refusal(n);
            const QString at = QStringLiteral("%1:%2").arg(refused.file).arg(refused.line);
            QCOMPARE(refused.cause, LinkResult::Cause::Settings);
            QVERIFY2(at.endsWith(want.mid(8)), qPrintable(at));
        } else {
            QCOMPARE(map.device(n), want);
            QVERIFY(map.refusal(n).ok());
        }
    }
}

// A save from the window: the user's file before, the system's, the COM number and device
// chosen (empty: Default), and the user's file after ("<refused>": the save fails and the
// file is left as it was).
void TestSettings::save_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("system");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QByteArray>("after");
    const QByteArray kept("\xEF\xBB\xBF# till 7\r\n[window]\r\nx=1\r\n[Ports]\r\n; adapter\r\n"
                          "com3 = /dev/ttyUSB9\r\nCOM1=/dev/ttyACM0\r\n[other]\r\ny=2");
    QTest::newRow("one line changes, every other byte stays")
        << kept << QByteArray() << 3 << "/dev/ttyUSB0"
        << QByteArray(kept).replace("com3 = /dev/ttyUSB9", "com3=/dev/ttyUSB0");
    QTest::newRow("added after the section's last entry")
        << kept << QByteArray() << 2 << "/dev/ttyUSB0"
        << QByteArray(kept).replace("COM1=/dev/ttyACM0\r\n",
                                    "COM1=/dev/ttyACM0\r\nCOM2=/dev/ttyUSB0\r\n");
    QTest::newRow("the section is added")
        << QByteArray("# mine\n[other]\ny=2") << QByteArray() << 4 << "/dev/ttyUSB0"
        << QByteArray("# mine\n[other]\ny=2\n[ports]\nCOM4=/dev/ttyUSB0\n");
    QTest::newRow("the file is made") << QByteArray() << QByteArray() << 1 << "/dev/ttyUSB0"
                                      << QByteArray("[ports]\nCOM1=/dev/ttyUSB0\n");
    QTest::newRow("Default removes the line")
        << kept << QByteArray() << 3 << ""
        << QByteArray(kept).replace("com3 = /dev/ttyUSB9\r\n", "");
    QTest::newRow("Default over the system's mapping is saved")
        << QByteArray("[ports]\nCOM3=/dev/ttyUSB9\n") << QByteArray("[ports]\nCOM3=/dev/ttyUSB1\n")
        << 3 << "" << QByteArray("[ports]\nCOM3=/dev/ttyS2\n");
    QTest::newRow("through a symbolic link")
        << QByteArray("->real.conf") << QByteArray() << 1 << "/dev/ttyUSB0"
        << QByteArray("[ports]\nCOM1=/dev/ttyUSB0\n");
    QTest::newRow("outer spaces are kept, in quotes")
        << QByteArray() << QByteArray() << 2 << "/dev/ttyUSB0  "
        << QByteArray("[ports]\nCOM2=\"/dev/ttyUSB0  \"\n");
    QTest::newRow("a FIFO is refused")
        << QByteArray("<fifo>") << QByteArray() << 1 << "/dev/ttyUSB0" << QByteArray("<refused>");
    QTest::newRow("a directory is refused")
        << QByteArray("<dir>") << QByteArray() << 1 << "/dev/ttyUSB0" << QByteArray("<refused>");
}

void TestSettings::save() {
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, system);
    QFETCH(int, n);
    QFETCH(QString, device);
    QFETCH(QByteArray, after);
    QTemporaryDir dir;
    const QString systemFile = dir.filePath(QStringLiteral("system.conf"));
    const QString userFile = dir.filePath(QStringLiteral("vorq/vorq.conf"));
    QDir().mkpath(dir.filePath(QStringLiteral("vorq")));
    place(systemFile, system);
    place(userFile, before);
    const bool existed = QFileInfo(userFile).isFile();
    if (existed) // a save keeps the file's mode
        QVERIFY(::chmod(qPrintable(userFile), 0640) == 0);
    PortMap map(SerialPort::systemDevice, {{systemFile}, userFile});
    QVERIFY(map.load().isEmpty());
    QElapsedTimer clock;
    clock.start();
    const LinkResult saved = map.map(n, device);
    QVERIFY(clock.elapsed() < 1000);
    QCOMPARE(saved.ok(), after != "<refused>");
    if (!saved.ok()) {
        QCOMPARE(saved.cause, LinkResult::Cause::Io);
        QVERIFY2(saved.file.endsWith(QLatin1String("vorq.conf")) && !saved.error.isEmpty(),
                 qPrintable(saved.file + u' ' + saved.error));
        return;
    }
    QFile file(userFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), after);
    QCOMPARE(QFileInfo(userFile).isSymLink(), before.startsWith("->"));
    struct stat info {};
    QVERIFY(::stat(qPrintable(userFile), &info) == 0);
    QCOMPARE(info.st_mode & 0777, existed ? 0640u : 0644u);
    PortMap reread(SerialPort::systemDevice, {{systemFile}, userFile});
    QVERIFY(reread.load().isEmpty());
    QCOMPARE(reread.device(n), device.isEmpty() ? SerialPort::systemDevice(n) : device);
}

// Every file that VORQ writes: a link in a sticky folder that everyone may write to is followed
// only when it is the user's own; a link to nothing is never followed to make a file. A link
// not followed leaves its target as it was.
void TestSettings::linksAreFollowedAsTheKernelFollowsThem_data() {
    QTest::addColumn<int>("writer"); // 0 the port map, 1 the write record, 2 the EEPROM file
    QTest::addColumn<bool>("anotherUsers");
    QTest::addColumn<bool>("dangling");
    QTest::addColumn<bool>("followed");
    const char* writers[] = {"port map", "write record", "EEPROM"};
    for (int w = 0; w < 3; ++w) {
        QTest::addRow("%s, another user's link", writers[w]) << w << true << false << false;
        QTest::addRow("%s, the user's own link", writers[w]) << w << false << false << true;
        QTest::addRow("%s, a link to nothing", writers[w]) << w << false << true << false;
    }
}

void TestSettings::linksAreFollowedAsTheKernelFollowsThem() {
    QFETCH(int, writer);
    QFETCH(bool, anotherUsers);
    QFETCH(bool, dangling);
    QFETCH(bool, followed);
    if (anotherUsers && ::geteuid() != 0)
        QSKIP("needs root to give a link to another user");
    QTemporaryDir dir;
    const QString shared = dir.filePath(QStringLiteral("tmp"));
    QVERIFY(QDir().mkpath(shared) && ::chmod(qPrintable(shared), 01777) == 0);
    const QString target =
        dir.filePath(dangling ? QStringLiteral("gone/mine.conf") : QStringLiteral("mine.conf"));
    const QByteArray kept("# my own file\n");
    if (!dangling)
        place(target, kept);
    const QString link = shared + QStringLiteral("/pole.conf");
    QVERIFY(QFile::link(target, link));
    if (anotherUsers)
        QVERIFY(::lchown(qPrintable(link), 65534, 65534) == 0);
    QString error;
    if (writer == 0) {
        PortMap map(SerialPort::systemDevice, {{}, link});
        error = map.map(1, QStringLiteral("/dev/ttyUSB0")).error;
    } else if (writer == 1) {
        error = WriteRecord(link)
                    .save(QStringLiteral("/dev/ttyUSB0"),
                          {9600, QStringLiteral("1"), {}, frameOf("1"), {}, QStringLiteral("vorq")})
                    .error;
    } else {
        error = display::eepromfile::save(link, {1, "HI"}).error;
    }
    QVERIFY2(error.isEmpty() == followed, qPrintable(error));
    QVERIFY(QFileInfo(link).isSymLink());
    QFile file(target);
    if (dangling) {
        QVERIFY(!QFileInfo::exists(QFileInfo(target).path()));
        return;
    }
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray now = file.readAll();
    QCOMPARE(now == kept, !followed);
    if (anotherUsers)
        QVERIFY2(error.contains(QLatin1String("user 65534")), qPrintable(error));
}

// What the write record gives for a device: a record only when every key is there and
// sound. Keys are by-id names, which have capitals.
void TestSettings::record_data() {
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<int>("speed"); // 0: no record
    const QByteArray rest("code=3\ntime=2026-12-08T10:00:00Z\nprogram=vorq\n");
    QTest::newRow("complete") << "speed=19200\ntext=HI\nframe=1B 6B FF\n" + rest << 19200;
    QTest::newRow("empty scroll data") << "speed=9600\ntext=\nframe=1B FF\n" + rest << 9600;
    QTest::newRow("no text") << "speed=9600\nframe=1B FF\n" + rest << 0;
    QTest::newRow("a garbled frame") << "speed=9600\ntext=HI\nframe=1B F\n" + rest << 0;
    QTest::newRow("a frame that is not hex") << "speed=9600\ntext=HI\nframe=1B ZZ\n" + rest << 0;
    QTest::newRow("no speed") << "text=HI\nframe=1B FF\n" + rest << 0;
}

void TestSettings::record() {
    QFETCH(QByteArray, section);
    QFETCH(int, speed);
    const QString key = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("written.conf"));
    place(file, "[" + key.toUtf8() + "]\n" + section);
    const WriteRecord record(file);
    const auto found = record.find(key);
    QCOMPARE(found ? found->speed : 0, speed);
    if (!found)
        return;
    // Saved again as found, and read back the same.
    QVERIFY(record.save(key, *found).ok());
    const auto again = record.find(key);
    QVERIFY(again && again->speed == speed && again->text == found->text &&
            again->frame == found->frame && again->code == found->code);
}

// A save after a find keeps what changed in the file in between, however it changed.
void TestSettings::recordChangedAfterFind_data() {
    QTest::addColumn<bool>("inPlace"); // else another writer's save, which renames a new file
    QTest::newRow("another writer's save") << false;
    QTest::newRow("an edit in place, same size") << true;
}

void TestSettings::recordChangedAfterFind() {
    QFETCH(bool, inPlace);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("written.conf"));
    const WrittenFrame hi{9600,
                          QStringLiteral("3"),
                          QStringLiteral("HI"),
                          QByteArray::fromHex("1B6BFF"),
                          QStringLiteral("2026-12-08T10:00:00Z"),
                          QStringLiteral("vorq")};
    QVERIFY(WriteRecord(file).save(QStringLiteral("/dev/ttyUSB0"), hi).ok());
    const WriteRecord record(file);
    QVERIFY(record.find(QStringLiteral("/dev/ttyUSB1")) == std::nullopt);
    if (inPlace) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        bytes.replace("[/dev/ttyUSB0]", "[/dev/ttyUSB9]");
        QVERIFY(f.seek(0) && f.write(bytes) == bytes.size());
    } else {
        QVERIFY(WriteRecord(file).save(QStringLiteral("/dev/ttyUSB9"), hi).ok());
    }
    QVERIFY(record.save(QStringLiteral("/dev/ttyUSB1"), hi).ok());
    const WriteRecord after(file);
    QVERIFY(after.find(QStringLiteral("/dev/ttyUSB9")) &&
            after.find(QStringLiteral("/dev/ttyUSB1")));
}

// A device is recorded under its by-id link, else its canonical path, whatever path named it;
// a path that is not UTF-8 keeps every byte.
void TestSettings::recordKeys() {
    Pty line;
    QTemporaryDir dir;
    const QByteArray byId = QFile::encodeName(dir.filePath(QStringLiteral("by-id")));
    QVERIFY(QDir().mkpath(QFile::decodeName(byId)));
    const QString link = dir.filePath(QStringLiteral("link"));
    QVERIFY(QFile::link(line.slavePath(), link));
    const QByteArray none = QFile::encodeName(dir.filePath(QStringLiteral("none")));
    QCOMPARE(WriteRecord::keyFor(link, none), line.slavePath());
    const QString named = QFile::decodeName(byId) + QStringLiteral("/usb-FTDI_X-if00");
    QVERIFY(QFile::link(link, named));
    QCOMPARE(WriteRecord::keyFor(link, byId), named);
    QCOMPARE(WriteRecord::keyFor(line.slavePath(), byId), named);

    // Links with plain names to devices whose names are not all UTF-8.
    const QByteArray base = QFile::encodeName(dir.path()) + '/';
    QStringList keys;
    int n = 0;
    for (const QByteArray& name : {QByteArray("tty\xFF"), QByteArray("tty\xFE"),
                                   QByteArray("tty\\xFF"), QByteArray("tty\xEF\xBF\xBD")}) {
        const QByteArray plain = base + QByteArray::number(++n);
        const QByteArray device = base + name;
        QVERIFY(::close(::creat(device.constData(), 0600)) == 0);
        QVERIFY(::symlink(device.constData(), plain.constData()) == 0);
        keys << WriteRecord::keyFor(QFile::decodeName(plain), none);
    }
    QCOMPARE(keys.first(), QFile::decodeName(base) + QStringLiteral("tty\\xFF"));
    keys.removeDuplicates();
    QCOMPARE(keys.size(), 4);
}

// The record's time agrees with the C library's UTC calendar: across leap days, century
// years and the ends of months, and on both sides of 1970.
void TestSettings::recordTime() {
    std::vector<long long> times{-1, 0, 951782400, 951868800, 4107542400LL, 253402300799LL};
    for (long long t = -4102444800LL; t < 4133980800LL; t += 86400 * 13 + 3607)
        times.push_back(t);
    for (const long long t : times) {
        const std::time_t at = t;
        std::tm utc{};
        char expected[48];
        QVERIFY(::gmtime_r(&at, &utc));
        std::strftime(expected, sizeof expected, "%Y-%m-%dT%H:%M:%SZ", &utc);
        QCOMPARE(WriteRecord::timeText(t), QString::fromLatin1(expected));
    }
}

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
