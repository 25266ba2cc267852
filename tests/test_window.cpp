// The window as built at start-up: controls, captions, tab order, start-up state and order.
#include "window/layout.h"
#include "windowsupport.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

class TestWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void controls_data();
    void controls();
    void arraysAreComplete();
    void captionsNameTheCommandSets();
    void clientAreaAndTitle();
    void stacking();
    void tabOrder();
    void startupState();
    void startupOrderAndTooltips();
    void maximumLengths_data();
    void maximumLengths();
    void captionsFitAtDefaultFont();
    void keptFontSize();
    void twips_data();
    void twips();
    void accessibleNames_data();
    void accessibleNames();

private:
    Ports m_ports;
};

static QString captionOf(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return g->title();
    return qobject_cast<QLineEdit*>(w)->text();
}

void TestWindow::controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("pixels");
    QTest::newRow("Frame1") << "Frame1" << -1 << "VORQ"
                            << "Port" << QRect(32, 16, 89, 145);
    QTest::newRow("Com5 is index 4") << "Opt_Com" << 4 << "Frame1"
                                     << "Com5" << QRect(16, 112, 57, 17);
    QTest::newRow("19200bps") << "Opt_speed" << 1 << "Frame2"
                              << "19200bps" << QRect(8, 40, 73, 17);
    QTest::newRow("two trailing spaces") << "Label1" << 0 << "Frame3"
                                         << "( 0 ) General_Command  " << QRect(40, 24, 241, 17);
    QTest::newRow("one trailing space") << "Label1" << 5 << "Frame3"
                                        << "( 5 ) CD7220 Command " << QRect(40, 144, 241, 17);
    QTest::newRow("code 6 is index 8") << "Label1" << 8 << "Frame3"
                                       << "( 6 ) PD3000 Command" << QRect(40, 168, 241, 17);
    QTest::newRow("code prompt is index 6")
        << "Label1" << 6 << "Frame3"
        << "Please Input Command_Code Number :" << QRect(40, 200, 241, 17);
    QTest::newRow("scroll prompt is index 7")
        << "Label1" << 7 << "Frame3"
        << "<< Please Input Scroll Data ( Max 40 Byte for ASCII ) >>" << QRect(16, 232, 281, 25);
    QTest::newRow("Ink") << "Ink" << -1 << "Frame3"
                         << "" << QRect(232, 192, 49, 25);
    QTest::newRow("Text1") << "Text1" << -1 << "Frame3"
                           << "" << QRect(32, 248, 249, 25);
    QTest::newRow("Write belongs to the window")
        << "Send" << 0 << "VORQ"
        << "Write to EEPROM(Y)" << QRect(224, 296, 161, 25);
    QTest::newRow("End belongs to the window") << "Send" << 1 << "VORQ"
                                               << "END(N)" << QRect(224, 328, 161, 25);
}

void TestWindow::controls() {
    QFETCH(QString, name);
    QFETCH(int, index);
    QFETCH(QString, parent);
    QFETCH(QString, caption);
    QFETCH(QRect, pixels);
    VORQUnderTest w(m_ports.resolver());
    w.setObjectName(QStringLiteral("VORQ"));
    QWidget* c = w.control(name, index);
    QVERIFY(c);
    QCOMPARE(c->objectName(), name);
    QCOMPARE(c->property("index").toInt(), index);
    QCOMPARE(c->parentWidget()->objectName(), parent);
    QCOMPARE(captionOf(c), caption);
    QCOMPARE(c->geometry(), pixels);
}

void TestWindow::arraysAreComplete() {
    VORQUnderTest w(m_ports.resolver());
    const QList<std::pair<QString, int>> arrays{{QStringLiteral("Send"), 2},
                                                {QStringLiteral("Opt_Com"), 5},
                                                {QStringLiteral("Opt_speed"), 2},
                                                {QStringLiteral("Label1"), 9}};
    for (const auto& [name, count] : arrays) {
        for (int i = 0; i < count; ++i)
            QVERIFY2(w.control(name, i), qPrintable(QStringLiteral("%1(%2)").arg(name).arg(i)));
        QVERIFY(!w.control(name, count));
        QCOMPARE(w.findChildren<QWidget*>(name).size(), count);
    }
}

// Each command set has its caption, with its digit and its name.
void TestWindow::captionsNameTheCommandSets() {
    VORQUnderTest w(m_ports.resolver());
    for (const frame::CommandSet& set : frame::kCommandSets) {
        const int index = set.digit == '6' ? 8 : set.digit - '0'; // index 6 is the code prompt
        const QString caption = w.control<QLabel>(QStringLiteral("Label1"), index)->text();
        QVERIFY2(caption.startsWith(QStringLiteral("( %1 ) ").arg(QLatin1Char(set.digit))) &&
                     caption.contains(QLatin1String(set.name)),
                 qPrintable(caption));
    }
}

void TestWindow::clientAreaAndTitle() {
    VORQUnderTest w(m_ports.resolver());
    QCOMPARE(w.size(), QSize(478, 408));
    QCOMPARE(w.windowTitle(), QStringLiteral("VORQ"));
    w.show(); // the icon comes once the window is up
    QTRY_VERIFY(!w.windowIcon().isNull());
    QCOMPARE(w.windowIcon().pixmap(32, 32).size(), QSize(32, 32));
    QCOMPARE(QImage(QStringLiteral(":/vorq.png")).size(), QSize(32, 32));
    QVERIFY(w.maximumSize().width() > 478); // sizable
}

void TestWindow::stacking() {
    VORQUnderTest w(m_ports.resolver());
    const QObjectList top = w.children();
    auto at = [&](QWidget* c) { return top.indexOf(c); };
    // Frame3 lies under both buttons; each prompt lies under its text box.
    QVERIFY(at(w.control(QStringLiteral("Frame3"))) < at(w.control(QStringLiteral("Send"), 0)));
    QVERIFY(at(w.control(QStringLiteral("Frame3"))) < at(w.control(QStringLiteral("Send"), 1)));
    const QObjectList inFrame = w.control(QStringLiteral("Frame3"))->children();
    QVERIFY(inFrame.indexOf(w.control(QStringLiteral("Label1"), 6)) <
            inFrame.indexOf(w.control(QStringLiteral("Ink"))));
    QVERIFY(inFrame.indexOf(w.control(QStringLiteral("Label1"), 7)) <
            inFrame.indexOf(w.control(QStringLiteral("Text1"))));
}

// Each option group is one stop, at its checked option; the order of the groups is the
// layout's.
void TestWindow::tabOrder() {
    VORQUnderTest w(m_ports.resolver());
    auto chain = [&] {
        QList<QWidget*> stops;
        QWidget* c = &w;
        do {
            if (c->focusPolicy() & Qt::TabFocus)
                stops << c;
            c = c->nextInFocusChain();
        } while (c != &w);
        return stops;
    };
    QList<QWidget*> expected{
        w.control(QStringLiteral("Opt_Com"), 0), w.control(QStringLiteral("Opt_speed"), 0),
        w.control(QStringLiteral("Send"), 1),    w.control(QStringLiteral("Send"), 0),
        w.control(QStringLiteral("Ink")),        w.control(QStringLiteral("Text1"))};
    QCOMPARE(chain(), expected);
    w.control<QAbstractButton>(QStringLiteral("Opt_Com"), 2)->setChecked(true);
    expected[0] = w.control(QStringLiteral("Opt_Com"), 2);
    QCOMPARE(chain(), expected);
}

void TestWindow::startupState() {
    VORQUnderTest w(m_ports.resolver());
    QVERIFY(w.started());
    QCOMPARE(w.AccessCode, QStringLiteral("kq5172@"));
    for (int i = 0; i < 5; ++i)
        QCOMPARE(w.control<QAbstractButton>(QStringLiteral("Opt_Com"), i)->isChecked(), i == 0);
    QVERIFY(w.control<QAbstractButton>(QStringLiteral("Opt_speed"), 0)->isChecked());
    QVERIFY(!w.control<QAbstractButton>(QStringLiteral("Opt_speed"), 1)->isChecked());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QStringList hidden{QStringLiteral("Text1"), QStringLiteral("Label1(7)"),
                             QStringLiteral("Send(0)"), QStringLiteral("Send(1)")};
    for (QWidget* c : w.findChildren<QWidget*>()) {
        const int index = c->property("index").toInt();
        const QString id =
            index < 0 ? c->objectName() : QStringLiteral("%1(%2)").arg(c->objectName()).arg(index);
        if (!c->property("index").isValid())
            continue;
        QCOMPARE(c->isVisible(), !hidden.contains(id));
        QVERIFY2(c->isEnabled(), qPrintable(id));
    }
    QVERIFY(w.control<QLineEdit>(QStringLiteral("Ink"))->text().isEmpty());
    QVERIFY(w.control<QLineEdit>(QStringLiteral("Text1"))->text().isEmpty());
    QVERIFY(m_ports.pty[0]->baud() == 9600);
}

void TestWindow::startupOrderAndTooltips() {
    VORQUnderTest w(m_ports.resolver());
    QCOMPARE(w.startupTrace(),
             (QStringList{QStringLiteral("Form_Initialize"), QStringLiteral("Form_Load")}));
    for (QWidget* c : w.findChildren<QWidget*>())
        QVERIFY(c->toolTip().isEmpty());
    w.show();
    QTRY_COMPARE(w.startupTrace().size(), 4);
    QCOMPARE(w.startupTrace(),
             (QStringList{QStringLiteral("Form_Initialize"), QStringLiteral("Form_Load"),
                          QStringLiteral("show"), QStringLiteral("Form_Activate")}));
    QCOMPARE(w.control(QStringLiteral("Opt_speed"), 0)->toolTip(), QStringLiteral("9600bps"));
    QCOMPARE(w.control(QStringLiteral("Opt_speed"), 1)->toolTip(), QStringLiteral("19200bps"));
    int withTip = 0;
    for (QWidget* c : w.findChildren<QWidget*>())
        withTip += c->toolTip().isEmpty() ? 0 : 1;
    QCOMPARE(withTip, 2);
    w.hide();
    w.show();
    QCoreApplication::sendPostedEvents(); // a second activation would be queued by now
    QCOMPARE(w.startupTrace().size(), 4); // activation runs once
}

void TestWindow::maximumLengths_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::newRow("Ink takes one character") << "Ink"
                                             << "34"
                                             << "3";
    QTest::newRow("Text1 takes forty")
        << "Text1" << QString(41, QLatin1Char('x')) << QString(40, QLatin1Char('x'));
    QTest::newRow("Text1 keeps spaces") << "Text1"
                                        << "  a  "
                                        << "  a  ";
}

void TestWindow::maximumLengths() {
    QFETCH(QString, box);
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    VORQUnderTest w(m_ports.resolver());
    w.show();
    w.control<QLineEdit>(QStringLiteral("Ink"))->setText(QStringLiteral("1"));
    auto* edit = w.control<QLineEdit>(box);
    edit->clear();
    QTest::keyClicks(edit, typed);
    QCOMPARE(edit->text(), kept);
}

void TestWindow::captionsFitAtDefaultFont() {
    VORQUnderTest w(m_ports.resolver());
    QList<QWidget*> all;
    for (const ControlSpec& row : kControls)
        all << w.control(QString::fromLatin1(row.name), row.index);
    QVERIFY(captionsFit(all));
    QVERIFY(w.font().pointSizeF() >= 6.0);
}

// A start that finds its font size kept from an earlier one gives every control the size
// that measuring gave, here where the captions do not fit at the application's font.
void TestWindow::keptFontSize() {
    const QFont before = QApplication::font();
    QFont large = before;
    large.setPointSizeF(16);
    QApplication::setFont(large);
    QFile::remove(qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/vorq/font-fit"));
    VORQUnderTest measured(m_ports.resolver());
    VORQUnderTest kept(m_ports.resolver());
    QApplication::setFont(before);
    QVERIFY(measured.font().pointSizeF() < 16);
    QList<QWidget*> all;
    for (const ControlSpec& row : kControls) {
        const QString name = QString::fromLatin1(row.name);
        QCOMPARE(kept.control(name, row.index)->font(), measured.control(name, row.index)->font());
        all << kept.control(name, row.index);
    }
    QVERIFY(captionsFit(all));
}

void TestWindow::twips_data() {
    QTest::addColumn<int>("twips");
    QTest::addColumn<int>("pixels");
    QTest::newRow("client width") << kClientWidthTwips << 478;
    QTest::newRow("client height") << kClientHeightTwips << 408;
    QTest::newRow("one pixel") << 15 << 1;
    QTest::newRow("rounds to nearest") << 8 << 1;
    QTest::newRow("rounds down") << 7 << 0;
}

void TestWindow::twips() {
    QFETCH(int, twips);
    QFETCH(int, pixels);
    QCOMPARE(twipsToPixels(twips), pixels);
}

void TestWindow::accessibleNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("spoken");
    QTest::addColumn<QString>("described"); // in the description, after the name
    QTest::addColumn<int>("role");          // QAccessible::Role; 0: any
    QTest::newRow("the window") << "" << -1 << "VORQ"
                                << "" << int(QAccessible::Window);
    QTest::newRow("code box") << "Ink" << -1 << "Please Input Command_Code Number"
                              << "6 PD3000 Command" << 0;
    QTest::newRow("scroll-data box")
        << "Text1" << -1 << "Please Input Scroll Data ( Max 40 Byte for ASCII )"
        << "" << 0;
    QTest::newRow("Port group") << "Frame1" << -1 << "Port"
                                << "" << 0;
    QTest::newRow("Command group") << "Frame3" << -1 << "Command"
                                   << "" << 0;
    QTest::newRow("Write") << "Send" << 0 << "Write to EEPROM(Y)"
                           << "" << 0;
    QTest::newRow("a speed, its caption read once") << "Opt_speed" << 1 << "19200bps"
                                                    << "8 data bits" << 0;
}

// What a screen reader announces for each control.
void TestWindow::accessibleNames() {
    QFETCH(QString, name);
    QFETCH(int, index);
    QFETCH(QString, spoken);
    QFETCH(QString, described);
    QFETCH(int, role);
    VORQUnderTest w(m_ports.resolver());
    w.show();
    QTRY_COMPARE(w.startupTrace().size(), 4); // the tooltips are set
    QAccessibleInterface* a =
        QAccessible::queryAccessibleInterface(name.isEmpty() ? &w : w.control(name, index));
    QVERIFY(a);
    QCOMPARE(a->text(QAccessible::Name), spoken);
    QVERIFY2(a->text(QAccessible::Description).contains(described),
             qPrintable(a->text(QAccessible::Description)));
    QVERIFY(a->text(QAccessible::Description) != spoken);
    if (role)
        QCOMPARE(int(a->role()), role);
}

QTEST_MAIN(TestWindow)
#include "test_window.moc"
