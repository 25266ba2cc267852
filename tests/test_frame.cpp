#include "protocol/escape.h"
#include "protocol/frame.h"

#include <QStringDecoder>
#include <QTest>

class TestFrame : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void bytes_data();
    void bytes();
    void windows1252Samples_data();
    void windows1252Samples();
    void everyCodeUnit();
    void windows1252AgreesWithQt();
    void refusalsNamePositions_data();
    void echoedText_data();
    void echoedText();
    void refusalsNamePositions();
};

static QByteArray head(char code) {
    return QByteArray("\x1B"
                      "kq5172@") +
           code;
}

void TestFrame::bytes_data() {
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("scroll");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("code 3, no scroll data") << "3"
                                            << "" << head('3') + '\xFF';
    QTest::newRow("code 0, HELLO") << "0"
                                   << "HELLO" << head('0') + "HELLO\xFF";
    const QString forty = QString(40, QLatin1Char('A'));
    QTest::newRow("forty characters") << "6" << forty << head('6') + QByteArray(40, 'A') + '\xFF';
    QTest::newRow("spaces kept") << "1"
                                 << "  HI  " << head('1') + "  HI  \xFF";
    QTest::newRow("only spaces") << "2"
                                 << "   " << head('2') + "   \xFF";
    QTest::newRow("euro, e acute, thorn")
        << "4" << QString::fromUtf8("€é þ") << head('4') + "\x80\xE9 \xFE\xFF";
    // The builder guards its own contract; an empty expectation means refused.
    QTest::newRow("code 7 refused") << "7"
                                    << "" << QByteArray();
    QTest::newRow("code letter refused") << "a"
                                         << "HI" << QByteArray();
    QTest::newRow("no code refused") << ""
                                     << "" << QByteArray();
    QTest::newRow("forty-one characters refused")
        << "6" << forty + QLatin1Char('B') << QByteArray();
}

void TestFrame::bytes() {
    QFETCH(QString, code);
    QFETCH(QString, scroll);
    QFETCH(QByteArray, expected);
    const auto built = frame::build(frame::kAccessCode + code + scroll);
    QCOMPARE(built.bytes, expected);
    QCOMPARE(bool(built), !expected.isEmpty());
    if (built)
        QCOMPARE(built->size(), 10 + scroll.size());
}

void TestFrame::windows1252Samples_data() {
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("byte"); // -1: none
    QTest::newRow("A") << 0x41 << 0x41;
    QTest::newRow("euro") << 0x20AC << 0x80;
    QTest::newRow("low quote") << 0x201A << 0x82;
    QTest::newRow("S caron") << 0x0160 << 0x8A;
    QTest::newRow("trade mark") << 0x2122 << 0x99;
    QTest::newRow("Y diaeresis") << 0x0178 << 0x9F;
    QTest::newRow("nbsp") << 0xA0 << 0xA0;
    QTest::newRow("e acute") << 0xE9 << 0xE9;
    QTest::newRow("thorn") << 0xFE << 0xFE;
    QTest::newRow("y diaeresis") << 0xFF << 0xFF;
    for (int undefined : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
        QTest::newRow(qPrintable(QStringLiteral("C1 %1").arg(undefined, 0, 16))) << undefined << -1;
    QTest::newRow("C1 0x80") << 0x80 << -1;
    QTest::newRow("A macron") << 0x0100 << -1;
    QTest::newRow("CJK") << 0x4E2D << -1;
    QTest::newRow("surrogate") << 0xD83D << -1;
}

void TestFrame::windows1252Samples() {
    QFETCH(int, unit);
    QFETCH(int, byte);
    const auto got = frame::windows1252(static_cast<char16_t>(unit));
    QCOMPARE(got ? int(*got) : -1, byte);
}

// Every single code unit as scroll data either gives a frame of 11 bytes with 0xFF only at
// the end and no 0x00, or is refused at position 1, as the character it is sent as (its
// canonical composed form).
void TestFrame::everyCodeUnit() {
    int accepted = 0;
    for (int unit = 0; unit <= 0xFFFF; ++unit) {
        const QString text(QChar(static_cast<char16_t>(unit)));
        const auto refusals = frame::refusedCharacters(text);
        const auto built = frame::build(frame::kAccessCode + QLatin1Char('1') + text);
        QCOMPARE(bool(built), refusals.isEmpty());
        if (!built) {
            QCOMPARE(refusals[0].position, 1);
            const uint sent = QChar::isSurrogate(char16_t(unit))
                                  ? uint(unit)
                                  : frame::composed(text).toUcs4().first();
            QCOMPARE(uint(refusals[0].code), sent);
            continue;
        }
        ++accepted;
        QCOMPARE(built->size(), 11);
        QCOMPARE(built->indexOf('\xFF'), 10);
        QVERIFY(!built->contains('\0'));
        QVERIFY(uchar(built->at(9)) >= 0x20 && uchar(built->at(9)) != 0x7F);
    }
    // Printable ASCII (95), 0x80 to 0x9F less five undefined (27), 0xA0 to 0xFE (95), and
    // the 6 characters whose canonical form is one of these (such as U+212B ANGSTROM SIGN,
    // sent as Å).
    QCOMPARE(accepted, 95 + 27 + 95 + 6);
}

// Each of the 251 defined bytes against the code page as Qt's converter knows it, both ways,
// so that the table cannot be checked against itself.
void TestFrame::windows1252AgreesWithQt() {
    QStringDecoder qt("windows-1252");
    QVERIFY(qt.isValid());
    int defined = 0;
    for (int b = 0; b < 256; ++b) {
        if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D)
            continue;
        const QString c = qt.decode(QByteArray(1, char(b)));
        QCOMPARE(c.size(), 1);
        QCOMPARE(int(frame::windows1252(c.at(0).unicode()).value_or(-1)), b);
        QCOMPARE(frame::fromWindows1252(QByteArray(1, char(b))), c);
        ++defined;
    }
    QCOMPARE(defined, 251);
}

void TestFrame::refusalsNamePositions_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("positions");
    QTest::addColumn<QString>("mentions");
    QTest::newRow("y diaeresis is the end marker")
        << QString::fromUtf8("abÿ") << QList<int>{3} << QStringLiteral("U+00FF");
    QTest::newRow("tab") << QStringLiteral("a\tb") << QList<int>{2} << QStringLiteral("U+0009");
    QTest::newRow("delete") << QStringLiteral("\x7F") << QList<int>{1} << QStringLiteral("control");
    QTest::newRow("nul") << QString(QChar(0)) << QList<int>{1} << QStringLiteral("U+0000");
    QTest::newRow("two refusals") << QString::fromUtf8("Ā ok 中") << QList<int>{1, 6}
                                  << QStringLiteral("\"中\"");
    QTest::newRow("surrogate pair is one character")
        << QString::fromUtf8("x😀y") << QList<int>{2} << QStringLiteral("U+1F600");
    QTest::newRow("lone surrogate")
        << QString(QChar(0xDC00)) << QList<int>{1} << QStringLiteral("U+DC00");
}

void TestFrame::refusalsNamePositions() {
    QFETCH(QString, text);
    QFETCH(QList<int>, positions);
    QFETCH(QString, mentions);
    const auto refusals = frame::refusedCharacters(text);
    QList<int> got;
    for (const auto& r : refusals)
        got << r.position;
    QCOMPARE(got, positions);
    const QString described = frame::describe(refusals);
    QVERIFY2(described.contains(mentions), qPrintable(described));
    for (int p : positions)
        QVERIFY(described.contains(QStringLiteral("Position %1:").arg(p)));
    const auto built = frame::build(frame::kAccessCode + QLatin1Char('1') + text);
    QCOMPARE(built.refusals.size(), positions.size());
    QCOMPARE(frame::describe(built.refusals), described);
}

// What a message echoes of a value from outside: one line that drives no terminal.
void TestFrame::echoedText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("printable, accents and emoji kept")
        << QStringLiteral("COM1 é \U0001F600") << QStringLiteral("COM1 é \U0001F600");
    QTest::newRow("C0 and C1 controls")
        << QStringLiteral("a\x1B[2J\nb\u0085") << QStringLiteral("a\\x1B[2J\\x0Ab\\x85");
    QTest::newRow("format characters")
        << QStringLiteral("x\u00AD\u200By\U000E0001") << QStringLiteral("x\\xAD\\u200By\\uE0001");
    const QString emoji = QStringLiteral("\U0001F600");
    QTest::newRow("200 code points whole") << emoji.repeated(200) << emoji.repeated(200);
    QTest::newRow("201 cut after 200")
        << emoji.repeated(200) + QLatin1Char('b') << emoji.repeated(200) + QStringLiteral("\u2026");
}

void TestFrame::echoedText() {
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(::shown(text), shown);
}

QTEST_APPLESS_MAIN(TestFrame)
#include "test_frame.moc"
