#include "display/bytes.h"
#include "display/codetable.h"
#include "display/display.h"
#include "display/eepromfile.h"
#include "protocol/frame.h"
#include "support.h"

#include <QFile>
#include <QTemporaryDir>

#include <QTest>
#include <cstring>
#include <iconv.h>

using display::Display;
using display::Eeprom;
using display::Events;

namespace {

QByteArray padded(const QByteArray& row) {
    return row.leftJustified(display::kColumns, ' ');
}

QByteArray rowOf(const display::Screen& s, int r) {
    return QByteArray(s.row(r).data(), display::kColumns);
}

} // namespace

class TestDisplay : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void commands_data();
    void commands();
    void frames_data();
    void frames();
    void testPattern_data();
    void testPattern();
    void marquee();
    void codeTables_data();
    void codeTables();
    void variants_data();
    void variants();
    void dependences_data();
    void dependences();
    void everyScrollByteSurvivesARestart();
    void ignoredBytes();
    void rowBytes();
    void everyListAgrees();
};

// Each row: a set, the bytes it receives after power-on, and the screen they leave. The rows
// and the cursor are checked always; its visibility and the set in force where given.
void TestDisplay::commands_data() {
    QTest::addColumn<int>("set");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("upper");
    QTest::addColumn<QByteArray>("lower");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("shown"); // -1: not checked
    QTest::addColumn<int>("after"); // the set in force at the end; -1: the same
    const QByteArray a20 = "ABCDEFGHIJKLMNOPQRST", b20 = "abcdefghijklmnopqrst";
    auto add = [](const char* name, int set, const QByteArray& bytes, const QByteArray& upper,
                  const QByteArray& lower, int row, int column, int shown = -1, int after = -1) {
        QTest::newRow(name) << set << bytes << padded(upper) << padded(lower) << row << column
                            << shown << after;
    };
    // 0 General
    add("0 text", 0, "AB", "AB", "", 0, 2, 1);
    add("0 BS keeps the cell", 0, "AB\x08", "AB", "", 0, 1);
    add("0 BS at home wraps to the end", 0, "\x08", "", "", 1, 19);
    add("0 HT, CR, LF", 0, "AB\x09\x0DX\x0A", "XB", "", 1, 1);
    add("0 end of the upper row", 0, a20, a20, "", 1, 0);
    add("0 end of the screen", 0, a20 + b20, a20, b20, 0, 0);
    add("0 CLR", 0, "AB\x0C", "", "", 0, 0);
    add("0 undefined control", 0,
        "\x01\x1B"
        "A",
        "A", "", 0, 1);
    // 1 AEDEX
    add("1 upper and bottom lines", 1, "!#1HELLO\r!#2WORLD\r", "HELLO", "WORLD", 0, 0, 0);
    add("1 line replaces the row", 1, "!#1HELLO\r!#1HI\r", "HI", "", 0, 0);
    add("1 two lines", 1, "!#9" + a20 + "abcde\r", a20, "abcde", 0, 0);
    add("1 longer than 20 is clipped", 1, "!#1" + a20 + "XYZ\r", a20, "", 0, 0);
    add("1 text outside commands is not drawn", 1, "HELLO!", "", "", 0, 0);
    add("1 a stray ! before the attention code", 1, "!!#1HI\r", "HI", "", 0, 0);
    add("1 new attention code", 1, "!#8@@\r!#1NO\r@@2YES\r", "", "YES", 0, 0);
    add("1 clock", 1, "!#512:34\r", "", "               12:34", 0, 0);
    add("1 bad clock", 1, "!#524:00\r", "", "", 0, 0);
    add("1 A with data, then A alone resets", 1, "!#AUP\r!#2DOWN\r!#A\r", "", "", 0, 0);
    add("1 B", 1, "!#BLOW\r", "", "LOW", 0, 0);
    add("1 scroll message", 1, "!#4SALE\r", "SALE", "", 0, 0);
    // 2 UTC standard
    add("2 DLE to a cell", 2, "\x10\x15X", "", " X", 1, 2, 1);
    add("2 DLE past the last cell", 2, "\x10\x28X", "X", "", 0, 1);
    add("2 BS erases", 2, "AB\x08", "A", "", 0, 1);
    add("2 BS at home wraps", 2, "\x08", "", "", 1, 19);
    add("2 overwrite wraps home", 2, "\x11" + a20 + b20 + "X", "XBCDEFGHIJKLMNOPQRST", b20, 0, 1);
    add("2 vertical scroll at the end", 2, "\x12" + a20 + b20, b20, "", 1, 0);
    add("2 LF scrolls on the lower row", 2, "\x12\x10\x14X\x0A", "X", "", 1, 1);
    add("2 HT at the end scrolls", 2, "\x12\x10\x27\x09", "", "", 1, 0);
    add("2 CR never scrolls", 2, "\x12\x10\x14X\x0D", "", "X", 1, 0);
    add("2 cursor off and on", 2, "\x14", "", "", 0, 0, 0);
    add("2 US clears", 2,
        "\x12"
        "AB\x1F"
        "C",
        "C", "", 0, 1);
    add("2 ESC d to the enhanced set", 2, "\x1B\x64\x1BuAHI\r", "HI", "", 0, 0, -1, 3);
    add("2 undefined controls, ESC with what follows", 2,
        "\x01\x04\x1B\x1B"
        "AB",
        "B", "", 0, 1);
    // 3 UTC enhanced
    add("3 upper and bottom", 3, "\x1BuAHI\r\x1BuBLO\r", "HI", "LO", 0, 0, 0);
    add("3 empty line blanks it", 3, "\x1BuAHI\r\x1BuA\r", "", "", 0, 0);
    add("3 two lines", 3, "\x1BuI" + a20 + "xy\r", a20, "xy", 0, 0);
    add("3 new attention code", 3, "\x1BuHab\rabAX\r", "X", "", 0, 0);
    add("3 clock", 3, "\x1BuE23:59\r", "", "               23:59", 0, 0);
    add("3 back to standard, SI", 3, "\x1B\x0F\x0DX", "X", "", 0, 1, -1, 2);
    add("3 back to standard, RS", 3, "\x1B\x1E\x0DX", "X", "", 0, 1, -1, 2);
    add("3 text outside commands", 3, "HELLO\x1Bx", "", "", 0, 0);
    // 4 EPSON
    add("4 US $", 4, "\x1F\x24\x05\x02X", "", "    X", 1, 5, 0);
    add("4 US $ off the grid", 4, "\x1F\x24\x15\x01X", "X", "", 0, 1);
    add("4 BS keeps the cell", 4, "AB\x08", "AB", "", 0, 1);
    add("4 BS at home", 4, "\x08", "", "", 1, 19);
    add("4 vertical: LF on the lower row", 4, "\x1F\x02\x0AX\x0A", "X", "", 1, 1);
    add("4 vertical: up on the upper row", 4, "\x1F\x02X\x1F\x0A", "", "X", 0, 1);
    add("4 vertical: BS at home", 4, "\x1F\x02X\x0D\x08", "", "X", 0, 19);
    add("4 vertical: BS at the lower row's start", 4, "\x1F\x02\x1F\x42\x08", "", "", 0, 19);
    add("4 overwrite: up and down wrap", 4,
        "\x1F\x0A"
        "A\x0A"
        "B",
        " B", "A", 0, 2);
    add("4 horizontal: the row moves", 4, "\x1F\x03" + a20 + "UV", "CDEFGHIJKLMNOPQRSTUV", "", 0,
        19);
    add("4 horizontal: 20 fill the row", 4, "\x1F\x03" + a20, a20, "", 0, 19);
    add("4 horizontal: HT at the end", 4, "\x1F\x03" + a20 + "\x09", "BCDEFGHIJKLMNOPQRST", "", 0,
        19);
    add("4 horizontal: BS at the start", 4,
        "\x1F\x03"
        "AB\x0D\x08",
        " AB", "", 0, 0);
    add("4 horizontal: down stays", 4,
        "\x1F\x03"
        "A\x0A",
        "A", "", 0, 1);
    add("4 HOM, US CR, US B", 4,
        "AB\x1F\x0D"
        "C\x0B"
        "D\x1F\x42"
        "E",
        "DB                 C", "E", 1, 1);
    add("4 CLR", 4, "AB\x0C", "", "", 0, 0);
    add("4 CAN", 4,
        "AB\x1F\x42"
        "CD\x18",
        "AB", "", 1, 0);
    add("4 ESC @", 4,
        "\x1F\x43\x01\x1F\x02"
        "AB\x1B\x40"
        "C",
        "C", "", 0, 1, 0);
    add("4 cursor shown", 4, "\x1F\x43\x31", "", "", 0, 0, 1);
    add("4 clock", 4, "AB\x1F\x54\x09\x05", "", "               09:05", 0, 0);
    add("4 period", 4,
        "\x1F\x2E"
        "A",
        "A", "", 0, 1);
    add("4 user characters", 4,
        "\x1B\x26\x01\x41\x42\x02"
        "ab\x01"
        "cX",
        "X", "", 0, 1);
    add("4 deselected", 4, "\x1B\x3D\x01XY\x0C\x1B\x3D\x02Z", "Z", "", 0, 1);
    add("4 unknown ESC", 4, "\x1B\x7AX", "X", "", 0, 1);
    add("4 brightness, blink, reverse", 4,
        "\x1F\x58\x02\x1F\x45\x05\x1F\x72\x01"
        "A",
        "A", "", 0, 1);
    add("4 window", 4, QByteArray::fromHex("1b57 0101 0101 1402 41 1b57 0100 42"), "AB", "", 0, 2);
    // 5 CD7220
    add("5 string mode", 5, "\x1B\x51\x41HI\r\x1B\x51\x42LO\r", "HI", "LO", 0, 0, 1);
    add("5 string cut by CLR", 5, "\x1B\x51\x41HI\x0CX", "X", "", 0, 1);
    add("5 string cut by CAN", 5, "AB\x1B\x51\x41HI\x18X", "X", "", 0, 1);
    add("5 ESC l", 5, "\x1B\x6C\x05\x02X", "", "    X", 1, 5);
    add("5 ESC l off the grid", 5, QByteArray::fromHex("1b6c 0001 58"), "X", "", 0, 1);
    add("5 ESC [ moves", 5,
        "\x1B\x5B\x42"
        "A\x1B\x5B\x41"
        "B\x1B\x5B\x52"
        "C\x1B\x5B\x4B"
        "D",
        " B                 C", "D", 1, 1);
    add("5 ESC [ H and L", 5,
        "AB\x1B\x5B\x4C"
        "C\x1B\x5B\x48"
        "D",
        "DB", "", 0, 1);
    add("5 horizontal", 5, "\x1B\x13" + a20 + "UV", "CDEFGHIJKLMNOPQRSTUV", "", 0, 19);
    add("5 horizontal window", 5,
        "\x1B\x13\x1B\x57\x01\x01\x05\x01"
        "ABCDEFG",
        "CDEFG", "", 0, 4);
    add("5 horizontal, the cursor right of the window", 5,
        "\x1B\x13\x1B\x57\x01\x01\x05\x01\x1B\x6C\x0A\x01"
        "ABCDEFGHIJKL",
        "        ABCDEFGHIJKL", "", 0, 19);
    add("5 vertical", 5, "\x1B\x12" + a20 + b20 + "X", b20, "X", 1, 1);
    add("5 scroll message", 5, "\x1B\x51\x44SALE TODAY\r", "SALE TODAY", "", 0, 0);
    add("5 cursor hidden", 5, QByteArray::fromHex("1b5f00"), "", "", 0, 0, 0);
    add("5 bad brightness", 5, "\x1B\x2A\x05X", "X", "", 0, 1);
    add("5 ESC @", 5,
        "\x1B\x12"
        "AB\x1B\x40" +
            a20 + b20,
        a20, b20, 0, 0);
    // 6 PD3000
    add("6 scrolls at power-on", 6, a20 + b20, b20, "", 1, 0, 1);
    add("6 normal mode", 6, "\x11" + a20 + b20, a20, b20, 0, 0);
    add("6 last cell in vertical scroll", 6, "\x10\x27X", "                   X", "", 1, 0);
    add("6 BS erases", 6, "AB\x08", "A", "", 0, 1);
    add("6 user character", 6,
        "\x03\x41"
        "12345X",
        "X", "", 0, 1);
    add("6 scroll message", 6, "\x05HELLO\r", "HELLO", "", 1, 0);
    add("6 reset", 6,
        "\x11\x14"
        "AB\x1F" +
            a20 + b20,
        b20, "", 1, 0, 1);
    add("6 brightness", 6,
        "\x04\x60"
        "A\x04\x61",
        "A", "", 0, 1);
}

// The whole stream, and the same bytes one at a time, leave the same screen.
void TestDisplay::commands() {
    QFETCH(int, set);
    QFETCH(QByteArray, bytes);
    Display whole(Eeprom{set, {}});
    whole.feed(bytes, 0);
    Display split(Eeprom{set, {}});
    for (const char b : bytes)
        split.feed(QByteArrayView(&b, 1), 0);
    const display::Screen& s = whole.screen();
    QTEST(rowOf(s, 0), "upper");
    QTEST(rowOf(s, 1), "lower");
    QTEST(s.cursorRow(), "row");
    QTEST(s.cursorColumn(), "column");
    QFETCH(int, shown);
    if (shown >= 0)
        QCOMPARE(s.cursorShown(), shown == 1);
    QFETCH(int, after);
    QCOMPARE(whole.set(), after >= 0 ? after : set);
    QVERIFY(split.screen() == s);
    QCOMPARE(split.ignoredBytes(), whole.ignoredBytes());
}

void TestDisplay::frames_data() {
    QTest::addColumn<int>("set");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("code");        // stored afterwards
    QTest::addColumn<QByteArray>("data"); // stored afterwards
    QTest::addColumn<QByteArray>("upper");
    QTest::addColumn<int>("ignored");
    QTest::newRow("in set 4") << 4 << frameOf("1HELLO") << 1 << QByteArray("HELLO") << padded("")
                              << 0;
    QTest::newRow("after ESC @") << 4
                                 << "\x1B\x40" + frameOf("2") +
                                        "\x1F"
                                        "A"
                                 << 2 << QByteArray() << padded("A") << 0;
    QTest::newRow("in AEDEX") << 1 << "!#1X\r" + frameOf("6S") << 6 << QByteArray("S")
                              << padded("X") << 0;
    QTest::newRow("a start that is not one")
        << 4 << QByteArray("\x1Bkq5X") << 4 << QByteArray() << padded("q5X") << 2;
    QTest::newRow("malformed frame stores nothing") << 2
                                                    << QByteArray("\x1Bkq5172@9AB\xFF"
                                                                  "C")
                                                    << 2 << QByteArray() << padded("C") << 0;
    QTest::newRow("cut off by another") << 0 << QByteArray("\x1Bkq5172@3AB") + frameOf("5CD") << 5
                                        << QByteArray("CD") << padded("") << 0;
}

// A frame is read in every set and stores its code and scroll data; the new set reads what
// follows. Fed whole and one byte at a time.
void TestDisplay::frames() {
    QFETCH(int, set);
    QFETCH(QByteArray, bytes);
    for (const bool split : {false, true}) {
        Display d(Eeprom{set, {}});
        Events events;
        if (split)
            for (const char b : bytes)
                d.feed(QByteArrayView(&b, 1), 0, &events);
        else
            d.feed(bytes, 0, &events);
        d.end(&events);
        QTEST(d.eeprom().code, "code");
        QTEST(d.eeprom().scrollData, "data");
        QTEST(rowOf(d.screen(), 0), "upper");
        QTEST(int(d.ignoredBytes()), "ignored");
        QCOMPARE(d.set(), d.eeprom().code);
    }
}

void TestDisplay::testPattern_data() {
    QTest::addColumn<int>("set");
    QTest::addColumn<QByteArray>("upper");
    QTest::addColumn<QList<int>>("alike"); // the sets that show it as cleanly
    const char* names[] = {"GENERAL", "AEDEX", "UTC STD", "UTC ENH", "EPSON", "CD7220", "PD3000"};
    for (int set = 0; set < frame::kCommandSetCount; ++set)
        QTest::addRow("%d", set)
            << set
            << padded(
                   qPrintable(QStringLiteral("TEST %1 %2").arg(set).arg(QLatin1String(names[set]))))
            << (set == 0 ? QList<int>{4, 5} : QList<int>{});
}

// The pattern shows in its own set, from any state the display was left in, and not in
// every other set.
void TestDisplay::testPattern() {
    QFETCH(int, set);
    QFETCH(QByteArray, upper);
    const QByteArray pattern = display::testPattern(set);
    for (const QByteArray& before : {QByteArray(), QByteArray("\x12\x1F\x02\x1B\x13XYZ")}) {
        Display d(Eeprom{set, "SCROLL DATA OF MORE THAN TWENTY"});
        d.feed(QByteArray(before + pattern), 0);
        QCOMPARE(rowOf(d.screen(), 0), upper);
        QCOMPARE(rowOf(d.screen(), 1), QByteArray("0123456789ABCDEFGHIJ"));
    }
    // In every other set, two other lines, but for the sets named.
    QList<int> alike;
    for (int other = 0; other < frame::kCommandSetCount; ++other) {
        Display d(Eeprom{other, {}});
        d.feed(pattern, 0);
        if (other != set && rowOf(d.screen(), 0) == upper &&
            rowOf(d.screen(), 1) == QByteArray("0123456789ABCDEFGHIJ"))
            alike << other;
    }
    QTEST(alike, "alike");
    QTEST(display::readAlike(set), "alike");
}

// Every byte that the display takes as scroll data is saved so that the next start reads it
// back; a file written before the escapes, with a raw backslash and an undefined byte as its
// C1 character, still loads.
void TestDisplay::everyScrollByteSurvivesARestart() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("eeprom.conf"));
    QByteArray all;
    for (int b = 0x20; b <= 0xFE; ++b)
        if (b != 0x7F)
            all += char(b);
    for (qsizetype at = 0; at < all.size(); at += frame::kMaxScrollData) {
        const Eeprom stored{int(at % 7), all.mid(at, frame::kMaxScrollData)};
        QVERIFY(display::eepromfile::save(path, stored).ok());
        const auto loaded = display::eepromfile::load(path);
        QVERIFY(loaded.savable());
        QCOMPARE(loaded.eeprom.scrollData.toHex(' '), stored.scrollData.toHex(' '));
        QCOMPARE(loaded.eeprom.code, stored.code);
    }
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly | QIODevice::Truncate));
    old.write("[eeprom]\ncode=2\nscroll=a\\b\xC2\x81\n");
    old.close();
    QCOMPARE(display::eepromfile::load(path).eeprom, (Eeprom{2, "a\\b\x81"}));
}

// The glyph that the C library's converter `from` gives byte `b`, U+FFFD where it has none.
QString viaIconv(const char* from, uchar b) {
    const iconv_t cd = ::iconv_open("UTF-32LE", from);
    char in = char(b);
    char32_t out = 0;
    char* inPtr = &in;
    char* outPtr = reinterpret_cast<char*>(&out);
    size_t inLeft = 1, outLeft = sizeof out;
    const bool ok = ::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != size_t(-1);
    ::iconv_close(cd);
    return ok && !(out >= 0x80 && out < 0xA0) ? QString::fromUcs4(&out, 1)
                                              : QStringLiteral("\uFFFD");
}

// Every byte from 0x80, after the bytes that choose a table (or none: the power-on one), draws
// what the converter of that table gives; Katakana is JIS X 0201's half-width forms.
void TestDisplay::codeTables_data() {
    QTest::addColumn<int>("set");
    QTest::addColumn<QByteArray>("choose");
    QTest::addColumn<QByteArray>("iconvName"); // empty: Katakana
    QTest::newRow("set 4 at power-on: PC437") << 4 << QByteArray() << QByteArray("IBM437");
    QTest::newRow("set 0 at power-on: PC437") << 0 << QByteArray() << QByteArray("IBM437");
    const struct {
        int n;
        const char* iconv;
    } tables[] = {{2, "IBM850"},  {3, "IBM860"},  {4, "IBM863"},  {5, "IBM865"},
                  {16, "CP1252"}, {17, "IBM866"}, {18, "IBM852"}, {19, "IBM858"}};
    for (const auto& t : tables)
        QTest::addRow("set 4 ESC t %d: %s", t.n, t.iconv)
            << 4 << QByteArray("\x1B\x74") + char(t.n) << QByteArray(t.iconv);
    QTest::newRow("set 4 ESC t 1: Katakana") << 4 << QByteArray("\x1B\x74\x01") << QByteArray();
    QTest::newRow("set 4 ESC t 7 is unknown: PC437 stays")
        << 4 << QByteArray("\x1B\x74\x07") << QByteArray("IBM437");
    QTest::newRow("set 4 ESC @ restores PC437")
        << 4 << QByteArray("\x1B\x74\x13\x1B\x40") << QByteArray("IBM437");
    QTest::newRow("set 5 ESC c R: PC866") << 5 << QByteArray("\x1B\x63R") << QByteArray("IBM866");
    QTest::newRow("set 5 ESC c J: Katakana") << 5 << QByteArray("\x1B\x63J") << QByteArray();
}

void TestDisplay::codeTables() {
    QFETCH(int, set);
    QFETCH(QByteArray, choose);
    QFETCH(QByteArray, iconvName);
    Display d(Eeprom{set, {}});
    d.feed(choose, 0);
    for (int first = 0x80; first < 0x100; first += display::kColumns) {
        QByteArray bytes;
        QString expected;
        for (int b = first; b < first + display::kColumns; ++b) {
            bytes += char(b < 0x100 ? b : ' ');
            expected += b >= 0x100               ? QStringLiteral(" ")
                        : !iconvName.isEmpty()   ? viaIconv(iconvName.constData(), uchar(b))
                        : b >= 0xA1 && b <= 0xDF ? QString(QChar(0xFF61 + b - 0xA1))
                                                 : QStringLiteral("\uFFFD");
        }
        d.feed(QByteArray("\x0C" + bytes), 0);
        QCOMPARE(display::glyphs(d.screen(), 0), expected);
    }
}

// Where displays differ: the national sets, a later table that leaves earlier cells as they
// were, and the wrap after the 20th character; each stream also cut at every byte.
void TestDisplay::variants_data() {
    QTest::addColumn<int>("set");
    QTest::addColumn<bool>("late");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("upper");
    QTest::addColumn<QString>("lower");
    const QByteArray a20 = "ABCDEFGHIJKLMNOPQRST";
    auto add = [](const char* name, int set, bool late, const QByteArray& bytes, const char* upper,
                  const char* lower) {
        QTest::newRow(name) << set << late << bytes << QString::fromUtf8(upper).leftJustified(20)
                            << QString::fromUtf8(lower).leftJustified(20);
    };
    add("ESC R 2, Germany", 4, false, "\x1BR\x02[\\]{|}~", "ÄÖÜäöüß", "");
    add("ESC R 2 and PC858", 4, false, "\x1BR\x02\x1Bt\x13[\xD5", "Ä€", "");
    add("ESC f G, Germany", 5, false, "\x1B\x66G[", "Ä", "");
    add("a later table changes later cells only", 4, false, "\x82\x1Bt\x10\x82", "é‚", "");
    add("eager: LF CR after 20 goes back to row 1", 4, false,
        a20 + "\x0A\x0D"
              "ab",
        "abCDEFGHIJKLMNOPQRST", "");
    add("late: LF CR after 20 reaches row 2", 4, true,
        a20 + "\x0A\x0D"
              "ab",
        "ABCDEFGHIJKLMNOPQRST", "ab");
    add("late: CR LF too", 4, true,
        a20 + "\x0D\x0A"
              "ab",
        "ABCDEFGHIJKLMNOPQRST", "ab");
    add("late: the 21st character wraps first", 4, true, a20 + "x", "ABCDEFGHIJKLMNOPQRST", "x");
    add("late, vertical scroll: the 41st scrolls", 4, true, "\x1F\x02" + a20 + a20 + "x",
        "ABCDEFGHIJKLMNOPQRST", "x");
    add("late, vertical scroll: LF on row 2 scrolls", 4, true, "\x1F\x02\x1F\x42" + a20 + "\x0A",
        "ABCDEFGHIJKLMNOPQRST", "");
    add("late, set 6: BS from column 20", 6, true,
        "\x11" + a20 +
            "\x08"
            "z",
        "ABCDEFGHIJKLMNOPQRzT", "");
}

void TestDisplay::variants() {
    QFETCH(int, set);
    QFETCH(bool, late);
    QFETCH(QByteArray, bytes);
    for (qsizetype cut = 0; cut <= bytes.size(); ++cut) {
        Display d(Eeprom{set, {}}, -1, display::Variant{0, late});
        d.feed(bytes.first(cut), 0);
        d.feed(bytes.sliced(cut), 0);
        QTEST(display::glyphs(d.screen(), 0), "upper");
        QTEST(display::glyphs(d.screen(), 1), "lower");
    }
}

// Streams whose screen depends on where displays differ are reported, at the byte where the
// readings part, once per part; a stream that depends on neither is not.
void TestDisplay::dependences_data() {
    QTest::addColumn<int>("set");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("reports"); // "wrap 23", "code-table 3"
    const QByteArray a20 = "ABCDEFGHIJKLMNOPQRST";
    QTest::newRow("20 characters, LF CR, a row") << 4
                                                 << "\x0C" + a20 +
                                                        "\x0A\x0D"
                                                        "abc"
                                                 << QStringList{QStringLiteral("wrap 23")};
    QTest::newRow("a byte from 0x80, no table chosen")
        << 4 << QByteArray("ab\x82") << QStringList{QStringLiteral("code-table 2")};
    QTest::newRow("a byte from 0x80 drawn by a command's end")
        << 1 << QByteArray("!#1A\x82\r") << QStringList{QStringLiteral("code-table 5")};
    QTest::newRow("a table chosen, rows addressed")
        << 4 << QByteArray("\x1Bt\x13\x1F$\x01\x02\xD5") << QStringList();
    QTest::newRow("the test pattern") << 5 << display::testPattern(5) << QStringList();
}

void TestDisplay::dependences() {
    QFETCH(int, set);
    QFETCH(QByteArray, bytes);
    Display d(Eeprom{set, {}});
    d.watchDependences();
    Events events;
    d.feed(bytes, 0, &events);
    QStringList reports;
    for (const Display::Event& e : events)
        if (e.kind == Display::Event::Kind::Depends)
            reports << QStringLiteral("%1 %2")
                           .arg(e.on == Display::Event::On::Wrap ? QStringLiteral("wrap")
                                                                 : QStringLiteral("code-table"))
                           .arg(e.offset);
    QTEST(reports, "reports");
}

// The stored scroll data moves on the upper row until the first byte.
void TestDisplay::marquee() {
    Display d(Eeprom{2, "0123456789abcdefghijKLM"});
    QCOMPARE(rowOf(d.screen(), 0), QByteArray("0123456789abcdefghij"));
    for (int i = 0; i < 3; ++i)
        QVERIFY(d.tick());
    QCOMPARE(rowOf(d.screen(), 0), QByteArray("3456789abcdefghijKLM"));
    QVERIFY(d.tick());
    QCOMPARE(rowOf(d.screen(), 0), QByteArray("456789abcdefghijKLM "));
    d.feed(frameOf("2"), 0); // a frame does not stop it
    QVERIFY(d.tick());
    d.feed("\x1F", 0);
    QVERIFY(!d.tick());
    QCOMPARE(rowOf(d.screen(), 0), padded(""));
    QVERIFY(!Display(Eeprom{2, "SHORT"}).tick());
}

// Ignored bytes are reported in runs, with the set they were ignored in.
void TestDisplay::ignoredBytes() {
    Display d(Eeprom{4, {}});
    Events events;
    d.feed("\x1B\x7A\x01"
           "A\x1F\x24\x30\x30",
           0, &events);
    d.feed(frameOf("1"), 0, &events);
    d.feed("hi", 0, &events);
    QCOMPARE(events.size(), 5);
    QCOMPARE(events[0].bytes, QByteArray("\x1B\x7A\x01"));
    // In the order of the bytes: the screen with the "A" comes before what was ignored after it.
    QCOMPARE(events[1].kind, Display::Event::Kind::Screen);
    QCOMPARE(rowOf(events[1].screen, 0), padded("A"));
    QCOMPARE(events[2].bytes, QByteArray("\x1F\x24\x30\x30"));
    QCOMPARE(events[3].kind, Display::Event::Kind::Frame);
    QCOMPARE(events[4].bytes, QByteArray("hi"));
    QCOMPARE(events[4].set, 1);
}

// The word moves of a row's bytes act as memmove() and memset() on every length they take,
// overlapping either way, and touch nothing around them.
void TestDisplay::rowBytes() {
    for (int n = 0; n <= 32; ++n)
        for (const int shift : {-3, -1, 0, 1, 5}) {
            QByteArray expected(80, '\0'), moved;
            for (int i = 0; i < expected.size(); ++i)
                expected[i] = char(i * 7 + 1);
            moved = expected;
            std::memmove(expected.data() + 24, expected.data() + 24 + shift, size_t(n));
            display::bytes::move(moved.data() + 24, moved.data() + 24 + shift, size_t(n));
            QVERIFY2(moved == expected,
                     qPrintable(QStringLiteral("move %1, %2").arg(n).arg(shift)));
            std::memset(expected.data() + 24 + shift, 0x5A, size_t(n));
            display::bytes::fill(moved.data() + 24 + shift, 0x5A, size_t(n));
            QVERIFY2(moved == expected,
                     qPrintable(QStringLiteral("fill %1, %2").arg(n).arg(shift)));
        }
    char a[40] = {}, b[40] = {};
    for (const int at : {0, 7, 8, 19, 39}) {
        b[at] = 1;
        QVERIFY(!display::bytes::same<40>(a, b));
        QCOMPARE(display::bytes::same<20>(a, b), at >= 20);
        b[at] = 0;
    }
    QVERIFY(display::bytes::same<40>(a, b));
}

// The role's list of arguments (meta/argument_specs.yml) offers exactly the codes of the table of
// command sets, and each set has rules of its own.
void TestDisplay::everyListAgrees() {
    QFile arguments(QStringLiteral(VORQ_ROLE_ARGUMENTS));
    QVERIFY(arguments.open(QIODevice::ReadOnly));
    QStringList codes;
    for (const frame::CommandSet& set : frame::kCommandSets) {
        codes << QString(QLatin1Char(set.digit));
        const display::SetRules& rules = display::rulesFor(set.digit - '0');
        QVERIFY(rules.commandCount > 0 && rules.pattern);
    }
    const QByteArray choices = "choices: [" + codes.join(QStringLiteral(", ")).toLatin1() + ']';
    QVERIFY2(arguments.readAll().contains(choices), choices.constData());
}

QTEST_GUILESS_MAIN(TestDisplay)
#include "test_display.moc"
