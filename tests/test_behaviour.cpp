// What the window does when the operator uses it: the write panel, the lock, the write
// itself against pseudo-terminals, and the refusals and failure reports around it.
#include "store/writerecord.h"
#include "window/outputcommand.h"
#include "windowsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

// The visible state: panel shown, Text1's text, and the lock (Frame1, Frame2, Write, End).
struct View {
    bool panel;
    QString text1;
    QString lock; // four letters, E enabled or d disabled: Frame1 Frame2 Write End
    bool operator==(const View& o) const {
        return panel == o.panel && text1 == o.text1 && lock == o.lock;
    }
};

char* toString(const View& v) {
    return qstrdup(qPrintable(
        QStringLiteral("panel %1, Text1 \"%2\", lock %3")
            .arg(v.panel ? QStringLiteral("shown") : QStringLiteral("hidden"), v.text1, v.lock)));
}

View viewOf(VORQUnderTest& w) {
    auto en = [&](const QString& name, int index = -1) {
        return w.control(name, index)->isEnabled() ? QLatin1Char('E') : QLatin1Char('d');
    };
    const QStringList panel{QStringLiteral("Text1"), QStringLiteral("Label1")};
    const bool shown = w.control(QStringLiteral("Text1"))->isVisible();
    // The four panel controls always move together.
    for (QWidget* c : {w.control(QStringLiteral("Label1"), 7), w.control(QStringLiteral("Send"), 0),
                       w.control(QStringLiteral("Send"), 1)})
        if (c->isVisible() != shown)
            return {shown, QStringLiteral("(panel split)"), {}};
    QString lock;
    lock += en(QStringLiteral("Frame1"));
    lock += en(QStringLiteral("Frame2"));
    lock += en(QStringLiteral("Send"), 0);
    lock += en(QStringLiteral("Send"), 1);
    return {shown, w.control<QLineEdit>(QStringLiteral("Text1"))->text(), lock};
}

// Types `text` into `box` as key events, including characters beyond ASCII.
void type(QWidget* box, const QString& text) {
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::KeyAction::Click, box, Qt::Key_unknown, QString(c),
                            Qt::NoModifier);
}

// Runs one scripted event: "ink:X" sets Ink to X (empty X clears it), "text:X" types into
// Text1, "write" and "end" click the buttons, "f1" and "f2" press the keys on Ink.
void run(VORQUnderTest& w, const QString& event) {
    auto* ink = w.control<QLineEdit>(QStringLiteral("Ink"));
    if (event.startsWith(QLatin1String("ink:"))) {
        ink->selectAll();
        const QString x = event.mid(4);
        if (x.isEmpty())
            QTest::keyClick(ink, Qt::Key_Backspace);
        else
            type(ink, x);
    } else if (event.startsWith(QLatin1String("text:"))) {
        type(w.control(QStringLiteral("Text1")), event.mid(5));
    } else if (event == QLatin1String("write")) {
        w.Send_Click(0); // the button may be disabled or hidden; the handler runs regardless
    } else if (event == QLatin1String("end")) {
        w.Send_Click(1);
    } else if (event == QLatin1String("f1")) {
        QTest::keyClick(ink, Qt::Key_F1);
    } else if (event == QLatin1String("f2")) {
        QTest::keyClick(ink, Qt::Key_F2);
    } else {
        QFAIL(qPrintable(QStringLiteral("unknown event ") + event));
    }
}

// "a|b|c" as a list of three.
QStringList list(const char* items) {
    return QString::fromUtf8(items).split(QLatin1Char('|'));
}

} // namespace

class TestBehaviour : public QObject {
    Q_OBJECT
    QTemporaryDir m_state; // the write record's folder, instead of the user's
private Q_SLOTS:
    void initTestCase() { qputenv("XDG_STATE_HOME", QFile::encodeName(m_state.path())); }
    void init();
    void stateMachines_data();
    void stateMachines();
    void functionKeysReachTheFocusedBox();
    void writeSendsTheFrameAndConfirms();
    void writeAfterSpeedAndPortChange();
    void closedPortReportsFailure();
    void unsendableTextIsRefused_data();
    void unsendableTextIsRefused();
    void failedSpeedChangeIsReported();
    void portMenuMapsAndReopens();
    void refusedPortsAreNeverOpened();
    void portMenuForEveryTechnician();
    void replugThenWrite();

private:
    std::unique_ptr<Ports> m_ports;
    std::unique_ptr<VORQUnderTest> m_w;
};

void TestBehaviour::init() {
    m_w.reset();
    m_ports = std::make_unique<Ports>();
    m_w = std::make_unique<VORQUnderTest>(m_ports->resolver());
    m_w->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_w.get()));
    m_w->control(QStringLiteral("Ink"))->setFocus();
}

void TestBehaviour::stateMachines_data() {
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<View>("expected");
    const QString start = QStringLiteral("EEEE"), locked = QStringLiteral("dddE"),
                  unlocked = QStringLiteral("EEEd");
    // The write panel.
    QTest::newRow("start") << QStringList() << View{false, {}, start};
    QTest::newRow("hidden, digit shows") << list("ink:3") << View{true, {}, start};
    QTest::newRow("hidden, 7 stays hidden") << list("ink:7") << View{false, {}, start};
    QTest::newRow("hidden, letter stays hidden") << list("ink:a") << View{false, {}, start};
    QTest::newRow("hidden, space stays hidden") << list("ink: ") << View{false, {}, start};
    QTest::newRow("shown, digit keeps text")
        << list("ink:3|text:ABC|ink:5") << View{true, QStringLiteral("ABC"), start};
    QTest::newRow("shown, other hides and empties")
        << list("ink:3|text:ABC|ink:9") << View{false, {}, start};
    QTest::newRow("shown, delete hides and empties")
        << list("ink:0|text:ABC|ink:") << View{false, {}, start};
    QTest::newRow("shown, End hides and empties")
        << list("ink:6|text:ABC|end") << View{false, {}, unlocked};
    // The lock.
    QTest::newRow("start, Write locks") << list("ink:3|write") << View{true, {}, locked};
    QTest::newRow("start, F1 locks with nothing sent") << list("f1") << View{false, {}, locked};
    QTest::newRow("start, End unlocks") << list("ink:3|end") << View{false, {}, unlocked};
    QTest::newRow("start, F2 unlocks") << list("f2") << View{false, {}, unlocked};
    QTest::newRow("locked, End unlocks") << list("ink:3|write|end") << View{false, {}, unlocked};
    QTest::newRow("locked, F2 unlocks, panel stays")
        << list("ink:3|text:HI|write|f2") << View{true, QStringLiteral("HI"), unlocked};
    QTest::newRow("locked, F1 stays locked") << list("f1|f1") << View{false, {}, locked};
    QTest::newRow("unlocked, Write locks") << list("f2|ink:1|write") << View{true, {}, locked};
    QTest::newRow("unlocked, F1 locks") << list("f2|f1") << View{false, {}, locked};
    QTest::newRow("unlocked, F2 stays unlocked") << list("f2|f2") << View{false, {}, unlocked};
    // The two machines are independent.
    QTest::newRow("panel shown again after a write keeps Write disabled")
        << list("ink:3|write|ink:x|ink:4") << View{true, {}, locked};
    QTest::newRow("F2 does not show the panel") << list("f1|f2") << View{false, {}, unlocked};
    QTest::newRow("hiding the panel does not unlock")
        << list("ink:2|write|ink:") << View{false, {}, locked};
}

void TestBehaviour::stateMachines() {
    QFETCH(QStringList, events);
    QFETCH(View, expected);
    for (const QString& e : events)
        run(*m_w, e);
    QCOMPARE(viewOf(*m_w), expected);
    for (const auto& report : m_w->notes.reports)
        QVERIFY2(report.confirmation, qPrintable(report.text)); // no failures
}

void TestBehaviour::functionKeysReachTheFocusedBox() {
    auto* ink = m_w->control<QLineEdit>(QStringLiteral("Ink"));
    QWidget* frame3 = m_w->control(QStringLiteral("Frame3"));
    // Ink ignores F1 and F2, so a key that reached it travels on to its parent.
    struct Spy : QObject {
        int presses = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            presses += e->type() == QEvent::KeyPress;
            return false;
        }
    } spy;
    frame3->installEventFilter(&spy);
    QTest::keyClick(ink, Qt::Key_F1);
    QCOMPARE(spy.presses, 1);
    QCOMPARE(viewOf(*m_w).lock, QStringLiteral("dddE"));
    QTest::keyClick(ink, Qt::Key_F2);
    QCOMPARE(spy.presses, 2);
    QCOMPARE(viewOf(*m_w).lock, QStringLiteral("EEEd"));
    // An ordinary key is seen by the window and typed into the box.
    QTest::keyClick(ink, Qt::Key_4);
    QCOMPARE(ink->text(), QStringLiteral("4"));
}

void TestBehaviour::writeSendsTheFrameAndConfirms() {
    run(*m_w, QStringLiteral("ink:3"));
    run(*m_w, QStringLiteral("text:HELLO"));
    QTest::mouseClick(m_w->control(QStringLiteral("Send"), 0), Qt::LeftButton);
    QCOMPARE(m_ports->pty[0]->read(1000, 15),
             QByteArray("\x1B\x6B\x71\x35\x31\x37\x32\x40\x33\x48\x45\x4C\x4C\x4F\xFF"));
    const auto& notes = m_w->notes.reports;
    QCOMPARE(notes.size(), 1);
    QVERIFY(notes[0].confirmation);
    QCOMPARE(notes[0].text, QStringLiteral("Write .... Ok \r\n @@@@@@@@@@@@ "));
    QCOMPARE(notes[0].description,
             QStringLiteral("Code 3 and 5 characters of scroll data written to COM1, %1")
                 .arg(m_ports->pty[0]->slavePath()));
    QCOMPARE(m_w->CommandText, frame::kAccessCode + QStringLiteral("3HELLO"));
    const auto recorded = WriteRecord().find(WriteRecord::keyFor(m_ports->pty[0]->slavePath()));
    QVERIFY(recorded && recorded->frame == frameOf("3HELLO") &&
            recorded->program == QLatin1String("vorq"));
    QCOMPARE(viewOf(*m_w).lock, QStringLiteral("dddE"));
}

void TestBehaviour::writeAfterSpeedAndPortChange() {
    QTest::mouseClick(m_w->control(QStringLiteral("Opt_speed"), 1), Qt::LeftButton);
    QTest::mouseClick(m_w->control(QStringLiteral("Opt_Com"), 2), Qt::LeftButton);
    QCOMPARE(m_w->MSComm1().CommPort(), 3);
    run(*m_w, QStringLiteral("ink:0"));
    run(*m_w, QString::fromUtf8("text: é € "));
    QTest::mouseClick(m_w->control(QStringLiteral("Send"), 0), Qt::LeftButton);
    QCOMPARE(m_ports->pty[2]->read(1000, 15), frameOf("0 \xE9 \x80 "));
    QCOMPARE(m_ports->pty[2]->baud(), 19200);
    QCOMPARE(m_ports->pty[0]->read(), QByteArray());
    QCOMPARE(m_w->notes.reports.size(), 1);
}

void TestBehaviour::closedPortReportsFailure() {
    const auto& boxes = m_w->notes.reports;
    m_ports->missing = {5};
    QTest::keyClick(m_w->control(QStringLiteral("Ink")), Qt::Key_F2); // unlocked
    QTest::mouseClick(m_w->control(QStringLiteral("Opt_Com"), 4), Qt::LeftButton);
    QVERIFY(!m_w->MSComm1().PortOpen());
    QVERIFY(boxes.isEmpty()); // a failed switch is silent
    run(*m_w, QStringLiteral("ink:1"));
    run(*m_w, QStringLiteral("text:ABC"));
    QTest::mouseClick(m_w->control(QStringLiteral("Send"), 0), Qt::LeftButton);
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(!boxes[0].confirmation &&
                 boxes[0].text.startsWith(QLatin1String("Write .... Failed \n")) &&
                 boxes[0].text.contains(QLatin1String("COM5 (/nonexistent/vorq-port-5)")),
             qPrintable(boxes[0].text));
    QCOMPARE(m_ports->readAll(), QByteArray());
    QCOMPARE(viewOf(*m_w), (View{true, QStringLiteral("ABC"), QStringLiteral("EEEd")}));
    // Another port and the same text, written again.
    QTest::mouseClick(m_w->control(QStringLiteral("Opt_Com"), 1), Qt::LeftButton);
    QTest::mouseClick(m_w->control(QStringLiteral("Send"), 0), Qt::LeftButton);
    QCOMPARE(m_ports->pty[1]->read(1000, 13), frameOf("1ABC"));
    QCOMPARE(boxes.size(), 2);
    QCOMPARE(boxes[1].text, kWriteConfirmation);
}

void TestBehaviour::unsendableTextIsRefused_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("named");
    QTest::newRow("y diaeresis") << QString::fromUtf8("abÿ") << list("Position 3:|ÿ");
    QTest::newRow("no single-byte code")
        << QString::fromUtf8("Ā-中") << list("Position 1:|Position 3:|中");
    QTest::newRow("control character") << QStringLiteral("a\x01") << list("Position 2:|U+0001");
}

void TestBehaviour::unsendableTextIsRefused() {
    QFETCH(QString, typed);
    QFETCH(QStringList, named);
    run(*m_w, QStringLiteral("ink:3"));
    m_w->control<QLineEdit>(QStringLiteral("Text1"))->setText(typed);
    QTest::mouseClick(m_w->control(QStringLiteral("Send"), 0), Qt::LeftButton);
    const auto& boxes = m_w->notes.reports;
    QCOMPARE(boxes.size(), 1);
    QVERIFY(!boxes[0].confirmation);
    for (const QString& n : named)
        QVERIFY2(boxes[0].text.contains(n), qPrintable(boxes[0].text));
    QCOMPARE(m_ports->readAll(), QByteArray());
    QCOMPARE(viewOf(*m_w), (View{true, typed, QStringLiteral("EEEE")}));
}

void TestBehaviour::failedSpeedChangeIsReported() {
    const auto& boxes = m_w->notes.reports;
    m_ports->pty[0]->vanish();
    QTest::mouseClick(m_w->control(QStringLiteral("Opt_speed"), 1), Qt::LeftButton);
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes[0].text.contains(QLatin1String("COM1")), qPrintable(boxes[0].text));
    QCOMPARE(m_w->MSComm1().Settings(), QStringLiteral("19200,n,8,1"));
    run(*m_w, QStringLiteral("ink:1"));
    m_w->Send_Click(0);
    QCOMPARE(boxes.size(), 2);
    // The port closed with the failure; the write tried to open it again, and says why not.
    QVERIFY2(boxes[1].text.contains(QLatin1String("not open")) &&
                 boxes[1].text.contains(
                     QLatin1String("COM1 (%1) cannot be opened").arg(m_ports->pty[0]->slavePath())),
             qPrintable(boxes[1].text));
    // Still running: the next port opens at the new speed.
    QTest::mouseClick(m_w->control(QStringLiteral("Opt_Com"), 1), Qt::LeftButton);
    QVERIFY(m_w->MSComm1().PortOpen());
    QCOMPARE(m_ports->pty[1]->baud(), 19200);
}

// A device chosen for the selected port reopens it there; while locked, no menu.
void TestBehaviour::portMenuMapsAndReopens() {
    m_w.reset(); // COM1 is this window's
    Pty adapter;
    PortMap map(m_ports->resolver());
    VORQUnderTest w(map, [&] {
        return QList<SerialDevice>{
            {adapter.slavePath(), QStringLiteral("USB UART"), QStringLiteral("FTDI"), {}, {}}};
    });
    QVERIFY(w.started());
    const std::unique_ptr<QMenu> menu{w.portMenu(1)};
    QStringList texts;
    for (QAction* a : menu->actions())
        texts << a->text();
    QCOMPARE(texts,
             (QStringList{QStringLiteral("Device for COM1"),
                          adapter.slavePath() + QString::fromUtf8(" — USB UART, FTDI"), QString(),
                          QStringLiteral("Default (%1)").arg(m_ports->pty[0]->slavePath()),
                          QString::fromUtf8("Other device…")}));
    menu->actions().at(1)->trigger(); // after the heading
    QVERIFY(w.MSComm1().PortOpen());
    QCOMPARE(adapter.baud(), 9600);
    run(w, QStringLiteral("ink:2"));
    w.Send_Click(0);
    QCOMPARE(adapter.readFrame(), frameOf("2"));
    QCOMPARE(m_ports->readAll(), QByteArray());
    QVERIFY(!w.portMenu(1)); // locked by the write

    // Through a link, the write is recorded under the device's own name.
    w.Send_Click(1);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("adapter"));
    QVERIFY(QFile::link(adapter.slavePath(), link) && map.map(1, link, false).ok());
    w.Opt_Com_Click(0);
    run(w, QStringLiteral("ink:4"));
    w.Send_Click(0);
    QCOMPARE(adapter.readFrame(), frameOf("4"));
    const auto recorded = WriteRecord().find(adapter.slavePath());
    QVERIFY(recorded && recorded->frame == frameOf("4"));
}

// The menu shows a mapping whose device is not here, asks before mapping a missing device,
// and opens from the keyboard with its first item active.
void TestBehaviour::portMenuForEveryTechnician() {
    m_w.reset();
    PortMap map(m_ports->resolver());
    QVERIFY(map.map(3, QStringLiteral("/nonexistent/ttyUSB9"), false).ok());
    VORQUnderTest w(map, [] {
        return QList<SerialDevice>{{QStringLiteral("/nonexistent/ttyUSB7"), {}, {}, {}, {}}};
    });
    const std::unique_ptr<QMenu> menu{w.portMenu(3)};
    const QAction* mapped = menu->actions().at(2);
    QVERIFY(mapped->isChecked() && mapped->text() == QLatin1String("/nonexistent/ttyUSB9 (not "
                                                                   "present)"));
    w.notes.answer = false; // not the missing /nonexistent/ttyUSB7
    menu->actions().at(1)->trigger();
    QVERIFY(w.notes.reports.last().question);
    QCOMPARE(map.device(3), QStringLiteral("/nonexistent/ttyUSB9"));

    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QWidget* com1 = w.control(QStringLiteral("Opt_Com"), 0);
    com1->setFocus();
    QString active;
    QTimer::singleShot(0, &w, [&] {
        if (auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            active = popup->activeAction() ? popup->activeAction()->text() : QString();
            popup->close();
        }
    });
    QTest::keyClick(com1, Qt::Key_F10, Qt::ShiftModifier);
    QCOMPARE(active, QStringLiteral("/nonexistent/ttyUSB7"));
}

// A settings line that cannot be used refuses its COM number, naming the file and line, and
// nothing is written to that number's default device.
void TestBehaviour::refusedPortsAreNeverOpened() {
    m_w.reset();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("vorq.conf"));
    QFile conf(file);
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("# till 7\n[ports]\nCOM3=ttyUSB0\n");
    conf.close();
    PortMap map(m_ports->resolver(), {{}, file});
    QVERIFY(map.load().isEmpty());
    VORQUnderTest w(map, {});
    QVERIFY(w.started());
    const auto& boxes = w.notes.reports;
    QTest::mouseClick(w.control(QStringLiteral("Opt_Com"), 2), Qt::LeftButton);
    run(w, QStringLiteral("ink:3"));
    w.Send_Click(0);
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes[0].text.startsWith(QLatin1String("Write .... Failed")) &&
                 boxes[0].text.contains(file + QStringLiteral(":3")),
             qPrintable(boxes[0].text));
    QCOMPARE(m_ports->readAll(), QByteArray());

    conf.open(QIODevice::WriteOnly);
    conf.write("[ports]\nCOM1=\n");
    conf.close();
    QVERIFY(map.load().isEmpty());
    VORQUnderTest refused(map, {});
    QVERIFY(!refused.started());
    QCOMPARE(refused.startupFailure().cause, LinkResult::Cause::Settings);
    QCOMPARE(refused.startupFailure().file, file);
    QCOMPARE(refused.startupFailure().line, 2);
}

// An adapter pulled out: the write says so and names the device; plugged in again, the next
// Write opens it again by itself, with no click on the port.
void TestBehaviour::replugThenWrite() {
    const auto& boxes = m_w->notes.reports;
    const QString pulled = m_ports->pty[0]->slavePath();
    m_ports->pty[0]->vanish();
    run(*m_w, QStringLiteral("ink:2"));
    run(*m_w, QStringLiteral("text:A"));
    m_w->Send_Click(0);
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes[0].text.startsWith(QLatin1String("Write .... Failed")) &&
                 boxes[0].text.contains(pulled) &&
                 boxes[0].text.contains(QLatin1String("may have been unplugged")),
             qPrintable(boxes[0].text));
    m_ports->pty[0] = std::make_unique<Pty>(); // plugged in again
    m_w->Send_Click(0);
    QCOMPARE(m_ports->pty[0]->readFrame(), frameOf("2A"));
    QCOMPARE(boxes.size(), 2);
    QVERIFY(boxes[1].confirmation);
}

QTEST_MAIN(TestBehaviour)
#include "test_behaviour.moc"
