#include "window/vorq.h"

#include "link/frame.h"
#include "window/devicemenu.h"
#include "window/layout.h"
#include "window/outputcommand.h"

#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>

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

VORQ::VORQ(SerialPort::Resolver resolver, QWidget* parent)
    : VORQ(std::make_unique<PortMap>(std::move(resolver)), nullptr, {}, parent) {}

VORQ::VORQ(PortMap& map, DeviceLister lister, QWidget* parent)
    : VORQ(nullptr, &map, std::move(lister), parent) {}

VORQ::VORQ(std::unique_ptr<PortMap> own, PortMap* map, DeviceLister lister, QWidget* parent)
    : QWidget(parent), m_ownMap(std::move(own)), m_map(map ? map : m_ownMap.get()),
      m_lister(std::move(lister)) {
    initResources();
    setWindowTitle(QStringLiteral("VORQ"));
    setWindowIcon(QIcon(QStringLiteral(":/vorq.png"))); // the theme's follows the first show
    resize(twipsToPixels(kClientWidthTwips), twipsToPixels(kClientHeightTwips));

    m_serial = new SerialPort(m_map->resolver(), this);
    m_serial->setObjectName(QStringLiteral("MSComm1"));

    for (QWidget* w : buildControls(this)) {
        m_controls.insert(key(w->objectName(), w->property("index").toInt()), w);
        w->installEventFilter(this);
    }
    installEventFilter(this);

    lookUp(m_frame1, "Frame1");
    lookUp(m_frame2, "Frame2");
    for (int i = 0; i < 5; ++i)
        lookUp(m_optCom[i], "Opt_Com", i);
    for (int i = 0; i < 2; ++i) {
        lookUp(m_optSpeed[i], "Opt_speed", i);
        lookUp(m_send[i], "Send", i);
    }
    lookUp(m_ink, "Ink");
    lookUp(m_text1, "Text1");
    lookUp(m_scrollPrompt, "Label1", 7);

    describeForScreenReaders();

    m_ink->setMaxLength(1);
    m_text1->setMaxLength(frame::kMaxScrollData);
    m_optCom[0]->setChecked(true);
    m_optSpeed[0]->setChecked(true);
    // Each option group is one tab stop, at its checked option; the arrow keys move within
    // the group. The first focus is the checked port.
    for (QRadioButton* option : m_optCom)
        keepTabStopOnChecked(option);
    for (QRadioButton* option : m_optSpeed)
        keepTabStopOnChecked(option);
    m_optCom[0]->setFocus();

    connect(m_ink, &QLineEdit::textChanged, this, &VORQ::Ink_Change);
    for (int i = 0; i < 2; ++i) {
        connect(m_optSpeed[i], &QAbstractButton::clicked, this, [this, i] { Opt_speed_Click(i); });
        connect(m_send[i], &QAbstractButton::clicked, this, [this, i] { Send_Click(i); });
    }
    // A right-click on a port option, or on the Port group, opens the device menu.
    for (int i = 0; i < 5; ++i) {
        connect(m_optCom[i], &QAbstractButton::clicked, this, [this, i] { Opt_Com_Click(i); });
        m_optCom[i]->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(m_optCom[i], &QWidget::customContextMenuRequested, this,
                [this, i](QPoint pos) { Opt_Com_ContextMenu(i, m_optCom[i]->mapToGlobal(pos)); });
    }
    m_frame1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_frame1, &QWidget::customContextMenuRequested, this, [this](QPoint pos) {
        Opt_Com_ContextMenu(m_serial->CommPort() - 1, m_frame1->mapToGlobal(pos));
    });

    Form_Initialize();
    if (started())
        Form_Load();
}

VORQ::~VORQ() = default;

QWidget* VORQ::control(const QString& name, int index) const {
    return m_controls.value(key(name, index));
}

template <typename T> void VORQ::lookUp(T*& member, const char* name, int index) {
    member = control<T>(QString::fromLatin1(name), index);
    Q_ASSERT_X(member, name, "no control of this name, index and kind in the layout");
}

void VORQ::describeForScreenReaders() {
    // A prompt as spoken: without the "<< >>" around it or the ":" after it.
    auto spoken = [](QString prompt) {
        prompt = prompt.remove(QStringLiteral("<<")).remove(QStringLiteral(">>")).trimmed();
        if (prompt.endsWith(QLatin1Char(':')))
            prompt.chop(1);
        return prompt.trimmed();
    };
    auto* codePrompt = control<QLabel>(QStringLiteral("Label1"), 6);
    codePrompt->setBuddy(m_ink);
    m_scrollPrompt->setBuddy(m_text1);
    m_ink->setAccessibleName(spoken(codePrompt->text()));
    m_ink->setAccessibleDescription(QStringLiteral("The command set, one digit from 0 to 6."));
    m_text1->setAccessibleName(spoken(m_scrollPrompt->text()));
    m_text1->setAccessibleDescription(
        QStringLiteral("At most 40 characters, sent to the display as typed."));
    for (auto* group : findChildren<QGroupBox*>())
        group->setAccessibleName(group->title());
    for (QPushButton* button : m_send)
        button->setAccessibleName(button->text());
    m_send[0]->setAccessibleDescription(
        QStringLiteral("Sends the command set and the scroll data to the display, and locks "
                       "the port choice."));
    m_send[1]->setAccessibleDescription(
        QStringLiteral("Unlocks the port choice and clears the entry."));
}

void VORQ::keepTabStopOnChecked(QRadioButton* option) {
    auto update = [option](bool checked) {
        option->setFocusPolicy(checked ? Qt::StrongFocus : Qt::ClickFocus);
    };
    update(option->isChecked());
    connect(option, &QAbstractButton::toggled, option, update);
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
    m_text1->setVisible(false);
    m_scrollPrompt->setVisible(false);
    m_text1->clear();
    m_send[0]->setVisible(false);
    m_send[1]->setVisible(false);
}

void VORQ::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_activated)
        return;
    m_activated = true;
    m_startupTrace << QStringLiteral("show");
    QMetaObject::invokeMethod(this, &VORQ::Form_Activate, Qt::QueuedConnection);
    // The icon theme's "vorq", when installed, with the built-in one as the fallback. Looked
    // up once the window is up: the lookup (and the SVG icon engine) cost a tenth of the
    // start-up.
    QMetaObject::invokeMethod(
        this, [this] { setWindowIcon(QIcon::fromTheme(QStringLiteral("vorq"), windowIcon())); },
        Qt::QueuedConnection);
}

void VORQ::Form_Activate() {
    m_startupTrace << QStringLiteral("Form_Activate");
    for (QRadioButton* option : m_optSpeed)
        option->setToolTip(option->text());
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
    return {m_frame1->isEnabled(), m_frame2->isEnabled(), m_send[0]->isEnabled(),
            m_send[1]->isEnabled()};
}

void VORQ::setLock(const Lock& lock) {
    m_frame1->setEnabled(lock.frame1);
    m_frame2->setEnabled(lock.frame2);
    m_send[0]->setEnabled(lock.write);
    m_send[1]->setEnabled(lock.end);
}

void VORQ::setPanelVisible(bool visible) {
    m_text1->setVisible(visible);
    if (!visible)
        m_text1->clear();
    m_scrollPrompt->setVisible(visible);
    m_send[0]->setVisible(visible);
    m_send[1]->setVisible(visible);
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
    CommandCode = m_ink->text().left(1);
    setPanelVisible(!CommandCode.isEmpty() && frame::isCodeDigit(CommandCode.at(0).unicode()));
}

void VORQ::Send_Click(int index) {
    if (index != 0) { // END(N)
        setLock({kEnabled, kEnabled, kEnabled, kDisabled});
        setPanelVisible(false);
        m_ink->clear();
        return;
    }

    // Write to EEPROM(Y). Refuse what the display cannot be sent before touching anything.
    if (const auto refusals = frame::refusedCharacters(m_text1->text()); !refusals.isEmpty()) {
        warn(QStringLiteral("The scroll data cannot be sent as it is:\r\n%1\r\nNothing was "
                            "sent. Correct the text and write again.")
                 .arg(frame::describe(refusals)));
        return;
    }
    const Lock before = lock();
    setLock({kDisabled, kDisabled, kDisabled, kEnabled});
    ScrollData = m_text1->text();
    CommandText = AccessCode + CommandCode + ScrollData;
    if (LinkResult sent = OutputCommand(*m_serial, CommandText, this); !sent) {
        warn(QStringLiteral("Write .... Failed \r\n%1: %2").arg(m_serial->portName(), sent.reason));
        setLock(before);
    }
}

void VORQ::Opt_Com_Click(int index) {
    m_serial->SwitchPort(index); // a failed switch is silent; the port stays closed
}

void VORQ::Opt_Com_ContextMenu(int index, QPoint at) {
    if (index < 0 || index > 4)
        return;
    if (std::unique_ptr<QMenu> menu{portMenu(index + 1)})
        menu->exec(at);
}

QMenu* VORQ::portMenu(int n) {
    if (!m_frame1->isEnabled()) // locked: the port choice is frozen
        return nullptr;
    return deviceMenu(this, n, *m_map, m_lister,
                      [this, n](const QString& device) { mapPort(n, device); });
}

void VORQ::mapPort(int n, const QString& device) {
    const LinkResult saved = m_map->map(n, device);
    if (!saved && saved.cause == LinkResult::Cause::Invalid) {
        warn(QStringLiteral("COM%1 was not changed: %2").arg(n).arg(saved.reason));
        return;
    }
    if (!saved)
        warn(QStringLiteral("The device of COM%1 could not be saved: %2").arg(n).arg(saved.reason));
    if (n == m_serial->CommPort())
        m_serial->SwitchPort(n - 1); // as a port switch: a failure is silent
}

void VORQ::Opt_speed_Click(int index) {
    if (LinkResult set = m_serial->SetSpeed(index); !set)
        warn(QStringLiteral("The speed of %1 could not be changed: %2\r\nThe new setting is kept "
                            "and applies when the port is next opened.")
                 .arg(m_serial->portName(), set.reason));
}
