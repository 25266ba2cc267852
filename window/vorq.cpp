#include "window/vorq.h"

#include "link/frame.h"
#include "link/outputcommand.h"
#include "window/layout.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>

namespace {

QString key(const QString& name, int index) {
    return index < 0 ? name : QStringLiteral("%1(%2)").arg(name).arg(index);
}

// Windows virtual-key codes: F1 is 112; letters and digits are their upper-case ASCII code.
int virtualKey(int qtKey) {
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return 112 + (qtKey - Qt::Key_F1);
    return qtKey < 0x80 ? qtKey : 0;
}

constexpr int kF1 = 112;
constexpr int kF2 = 113;
constexpr bool kEnabled = true;
constexpr bool kDisabled = false;

} // namespace

// The icon lives in the static library's resources, which the linker keeps only when asked.
static void initResources() {
    Q_INIT_RESOURCE(vorq);
}

VORQ::VORQ(SerialPort::Resolver resolver, QWidget* parent) : QWidget(parent) {
    initResources();
    setWindowTitle(QStringLiteral("VORQ"));
    setWindowIcon(QIcon(QStringLiteral(":/vorq.png")));
    resize(twipsToPixels(kClientWidthTwips), twipsToPixels(kClientHeightTwips));

    m_serial = new SerialPort(std::move(resolver), this);
    m_serial->setObjectName(QStringLiteral("MSComm1"));

    for (QWidget* w : buildControls(this)) {
        m_controls.insert(key(w->objectName(), w->property("index").toInt()), w);
        w->installEventFilter(this);
    }
    installEventFilter(this);

    control<QLineEdit>(QStringLiteral("Ink"))->setMaxLength(1);
    control<QLineEdit>(QStringLiteral("Text1"))->setMaxLength(frame::kMaxScrollData);
    control<QAbstractButton>(QStringLiteral("Opt_Com"), 0)->setChecked(true);
    control<QAbstractButton>(QStringLiteral("Opt_speed"), 0)->setChecked(true);

    connect(control<QLineEdit>(QStringLiteral("Ink")), &QLineEdit::textChanged, this,
            &VORQ::Ink_Change);
    for (int i = 0; i < 5; ++i)
        connect(control<QAbstractButton>(QStringLiteral("Opt_Com"), i), &QAbstractButton::clicked,
                this, [this, i] { Opt_Com_Click(i); });
    for (int i = 0; i < 2; ++i) {
        connect(control<QAbstractButton>(QStringLiteral("Opt_speed"), i), &QAbstractButton::clicked,
                this, [this, i] { Opt_speed_Click(i); });
        connect(control<QAbstractButton>(QStringLiteral("Send"), i), &QAbstractButton::clicked,
                this, [this, i] { Send_Click(i); });
    }

    Form_Initialize();
    if (started())
        Form_Load();
}

VORQ::~VORQ() = default;

QWidget* VORQ::control(const QString& name, int index) const {
    return m_controls.value(key(name, index));
}

void VORQ::Form_Initialize() {
    m_startupTrace << QStringLiteral("Form_Initialize");
    if (LinkResult opened = m_serial->OpenAtStartup(); !opened) {
        m_startupFailure = QStringLiteral("VORQ cannot start. ") + opened.reason;
        return;
    }
    AccessCode = frame::kAccessCode;
}

void VORQ::Form_Load() {
    m_startupTrace << QStringLiteral("Form_Load");
    control(QStringLiteral("Text1"))->setVisible(false);
    control(QStringLiteral("Label1"), 7)->setVisible(false);
    control<QLineEdit>(QStringLiteral("Text1"))->clear();
    control(QStringLiteral("Send"), 0)->setVisible(false);
    control(QStringLiteral("Send"), 1)->setVisible(false);
}

void VORQ::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_activated)
        return;
    m_activated = true;
    m_startupTrace << QStringLiteral("show");
    QMetaObject::invokeMethod(this, &VORQ::Form_Activate, Qt::QueuedConnection);
}

void VORQ::Form_Activate() {
    m_startupTrace << QStringLiteral("Form_Activate");
    for (int i = 0; i < 2; ++i) {
        auto* option = control<QAbstractButton>(QStringLiteral("Opt_speed"), i);
        option->setToolTip(option->text());
    }
}

bool VORQ::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        // A key travels from the focused control up to the window; see it once, first.
        QWidget* focused = QApplication::focusWidget();
        QWidget* first = focused && isAncestorOf(focused) ? focused : this;
        if (watched == first) {
            const auto* press = static_cast<QKeyEvent*>(event);
            Form_KeyDown(virtualKey(press->key()), press->modifiers());
        }
    }
    return false; // the key still reaches the control
}

VORQ::Lock VORQ::lock() const {
    return {control(QStringLiteral("Frame1"))->isEnabled(),
            control(QStringLiteral("Frame2"))->isEnabled(),
            control(QStringLiteral("Send"), 0)->isEnabled(),
            control(QStringLiteral("Send"), 1)->isEnabled()};
}

void VORQ::setLock(const Lock& lock) {
    control(QStringLiteral("Frame1"))->setEnabled(lock.frame1);
    control(QStringLiteral("Frame2"))->setEnabled(lock.frame2);
    control(QStringLiteral("Send"), 0)->setEnabled(lock.write);
    control(QStringLiteral("Send"), 1)->setEnabled(lock.end);
}

void VORQ::setPanelVisible(bool visible) {
    control(QStringLiteral("Text1"))->setVisible(visible);
    if (!visible)
        control<QLineEdit>(QStringLiteral("Text1"))->clear();
    control(QStringLiteral("Label1"), 7)->setVisible(visible);
    control(QStringLiteral("Send"), 0)->setVisible(visible);
    control(QStringLiteral("Send"), 1)->setVisible(visible);
}

void VORQ::warn(const QString& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("VORQ"), text, QMessageBox::Ok, this);
    box.exec();
}

void VORQ::Form_KeyDown(int keyCode, Qt::KeyboardModifiers) {
    if (keyCode == kF1)
        setLock({kDisabled, kDisabled, kDisabled, kEnabled});
    else if (keyCode == kF2)
        setLock({kEnabled, kEnabled, kEnabled, kDisabled});
}

void VORQ::Ink_Change() {
    CommandCode = control<QLineEdit>(QStringLiteral("Ink"))->text().left(1);
    const bool valid = !CommandCode.isEmpty() && CommandCode >= QLatin1String("0") &&
                       CommandCode <= QLatin1String("6");
    setPanelVisible(valid);
}

void VORQ::Send_Click(int index) {
    auto* text1 = control<QLineEdit>(QStringLiteral("Text1"));
    if (index != 0) { // END(N)
        setLock({kEnabled, kEnabled, kEnabled, kDisabled});
        setPanelVisible(false);
        control<QLineEdit>(QStringLiteral("Ink"))->clear();
        return;
    }

    // Write to EEPROM(Y). Refuse what the display cannot be sent before touching anything.
    if (const auto refusals = frame::refusedCharacters(text1->text()); !refusals.isEmpty()) {
        warn(QStringLiteral("The scroll data cannot be sent as it is:\r\n%1\r\nNothing was "
                            "sent. Correct the text and write again.")
                 .arg(frame::describe(refusals)));
        return;
    }
    const Lock before = lock();
    setLock({kDisabled, kDisabled, kDisabled, kEnabled});
    ScrollData = text1->text();
    CommandText = AccessCode + CommandCode + ScrollData;
    if (LinkResult sent = OutputCommand(*m_serial, CommandText, this); !sent) {
        warn(QStringLiteral("Write .... Failed \r\n%1: %2").arg(m_serial->portName(), sent.reason));
        setLock(before);
    }
}

void VORQ::Opt_Com_Click(int index) {
    m_serial->SwitchPort(index); // a failed switch is silent; the port stays closed
}

void VORQ::Opt_speed_Click(int index) {
    if (LinkResult set = m_serial->SetSpeed(index); !set)
        warn(QStringLiteral("The speed of %1 could not be changed: %2\r\nThe new setting is kept "
                            "and applies when the port is next opened.")
                 .arg(m_serial->portName(), set.reason));
}
