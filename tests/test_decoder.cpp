#include "protocol/decoder.h"
#include "protocol/frame.h"
#include "support.h"

#include <QTest>

namespace {

// One report, written as "valid 3 HELLO" or "malformed <problem>".
QString summary(const FrameDecoder::Report& r) {
    return r.valid ? QStringLiteral("valid %1 %2").arg(r.code).arg(r.scrollData)
                   : QStringLiteral("malformed ") + r.problem;
}

} // namespace

class TestDecoder : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void reports_data();
    void reports();
    void overdueEndMarker();
    void roundTripsEveryAcceptedText();
};

void TestDecoder::reports_data() {
    QTest::addColumn<QList<QByteArray>>("chunks"); // fed one after another, 10 ms apart
    QTest::addColumn<QStringList>("expected");
    auto list = [](std::initializer_list<const char*> items) {
        QStringList l;
        for (const char* i : items)
            l << QString::fromUtf8(i);
        return l;
    };
    QTest::newRow("hello") << QList<QByteArray>{frameOf("3HELLO")} << list({"valid 3 HELLO"});
    QTest::newRow("empty scroll data") << QList<QByteArray>{frameOf("0")} << list({"valid 0 "});
    QTest::newRow("split across reads")
        << QList<QByteArray>{"\x1Bkq51", "72@6AB", "\xFF"} << list({"valid 6 AB"});
    QTest::newRow("two frames in one read")
        << QList<QByteArray>{frameOf("1A") + frameOf("2B")} << list({"valid 1 A", "valid 2 B"});
    QTest::newRow("windows-1252") << QList<QByteArray>{frameOf("4\x80\xE9")}
                                  << list({"valid 4 €é"});
    QTest::newRow("forty bytes") << QList<QByteArray>{frameOf("5" + QByteArray(40, 'x'))}
                                 << list({qPrintable(QStringLiteral("valid 5 ") +
                                                     QString(40, QLatin1Char('x')))});
    QTest::newRow("wrong access code")
        << QList<QByteArray>{QByteArray("\x1Bkq5173@3HI\xFF"), frameOf("3OK")}
        << list({"malformed wrong access code", "valid 3 OK"});
    QTest::newRow("short frame") << QList<QByteArray>{QByteArray("\x1Bkq\xFF"), frameOf("2")}
                                 << list({"malformed wrong access code", "valid 2 "});
    QTest::newRow("code 7") << QList<QByteArray>{frameOf("7HI"), frameOf("6HI")}
                            << list({"malformed code digit outside 0 to 6 (0x37)", "valid 6 HI"});
    QTest::newRow("forty-one bytes")
        << QList<QByteArray>{frameOf("1" + QByteArray(41, 'y')), frameOf("1")}
        << list({"malformed scroll data of 41 bytes, longer than 40", "valid 1 "});
    QTest::newRow("not starting with ESC")
        << QList<QByteArray>{QByteArray("noise") + frameOf("0Z")}
        << list({"malformed 5 bytes that do not start with ESC", "valid 0 Z"});
    // A frame cut off mid-way and then sent again whole: two reports, not one merged frame.
    QTest::newRow("cut off, then the retry")
        << QList<QByteArray>{frame::header('3') + "HEL", frameOf("3HELLO")}
        << list({"malformed cut off after 12 bytes by the ESC of another frame", "valid 3 HELLO"});
    QTest::newRow("ESC in the access code")
        << QList<QByteArray>{QByteArray("\x1Bkq5") + frameOf("1A")}
        << list({"malformed cut off after 4 bytes by the ESC of another frame", "valid 1 A"});
    QTest::newRow("ESC twice") << QList<QByteArray>{QByteArray("\x1B") + frameOf("2")}
                               << list({"malformed cut off after 1 byte by the ESC of another "
                                        "frame",
                                        "valid 2 "});
    QTest::newRow("terminal escape in scroll data") << QList<QByteArray>{frameOf("3\x9B"
                                                                                 "2J"),
                                                                         frameOf("3[2J")}
                                                    << list({"valid 3 \u203A2J", "valid 3 [2J"});
    QTest::newRow("0x1F is a control byte, 0x20 is scroll data")
        << QList<QByteArray>{frameOf("3A\x1F"), frameOf("3 \x20")}
        << list({"malformed control byte 0x1f at position 2 of the scroll data", "valid 3   "});
    QTest::newRow("an undefined byte is kept as its C1 code")
        << QList<QByteArray>{frameOf("3\x81")} << list({"valid 3 \u0081"});
    QTest::newRow("control byte in scroll data")
        << QList<QByteArray>{frameOf("3AB\x07"), frameOf("4\x7F")}
        << list({"malformed control byte 0x07 at position 3 of the scroll data",
                 "malformed control byte 0x7f at position 1 of the scroll data"});
}

void TestDecoder::reports() {
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QStringList, expected);
    FrameDecoder decoder;
    QStringList got;
    qint64 now = 0;
    for (const QByteArray& chunk : chunks) {
        for (const auto& r : decoder.feed(chunk, now))
            got << summary(r);
        now += 10;
    }
    for (const auto& r : decoder.flush(now))
        got << summary(r);
    QCOMPARE(got, expected);
    QVERIFY(decoder.flush(now + 10 * FrameDecoder::kFrameTimeoutMs).isEmpty()); // nothing left
}

void TestDecoder::overdueEndMarker() {
    FrameDecoder decoder;
    QVERIFY(decoder.feed(frame::header('3') + "HEL", 0).isEmpty());
    QVERIFY(decoder.flush(999).isEmpty());
    const auto late = decoder.flush(1000);
    QCOMPARE(late.size(), 1);
    QCOMPARE(late[0].problem, QStringLiteral("no end marker (0xFF) within one second"));
    QCOMPARE(late[0].bytes, QByteArray(frame::header('3') + "HEL"));
    // The rest of the late frame is stray; the next frame is decoded.
    const auto next = decoder.feed(QByteArray("LO\xFF") + frameOf("4NEW"), 1500);
    QCOMPARE(next.size(), 2);
    QCOMPARE(summary(next[0]), QStringLiteral("malformed 3 bytes that do not start with ESC"));
    QCOMPARE(summary(next[1]), QStringLiteral("valid 4 NEW"));
}

// Whatever the frame builder accepts, the decoder gives back unchanged.
void TestDecoder::roundTripsEveryAcceptedText() {
    FrameDecoder decoder;
    QString all;
    for (int unit = 0x20; unit <= 0xFFFF; ++unit) {
        const QString c(QChar(static_cast<char16_t>(unit)));
        if (frame::refusedCharacters(c).isEmpty())
            all += c;
    }
    for (qsizetype i = 0; i < all.size(); i += 40) {
        const QString text = all.mid(i, 40);
        const auto reports =
            decoder.feed(*frame::build(frame::kAccessCode + QLatin1Char('5') + text), i);
        QCOMPARE(reports.size(), 1);
        QVERIFY(reports[0].valid);
        QCOMPARE(reports[0].scrollData, frame::composed(text));
    }
}

QTEST_APPLESS_MAIN(TestDecoder)
#include "test_decoder.moc"
