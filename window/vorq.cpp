#include "window/vorq.h"

#include "protocol/frame.h"
#include "store/writerecord.h"
#include "window/devicemenu.h"
#include "window/layout.h"
#include "window/messages.h"
#include "window/notifier.h"
#include "window/outputcommand.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>

namespace {

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

// `control` as a T when it is the layout's control `name` with array index `index`.
template <typename T> void take(T*& member, QWidget* control, const char* name, int index = -1) {
    if (control->objectName() == QLatin1String(name) && control->property("index") == index)
        member = qobject_cast<T*>(control);
}

} // namespace

// A top-level window to screen readers, with its title as its name (a plain widget would be
// announced as a filler).
static QAccessibleInterface* windowInterface(const QString& className, QObject* object) {
    if (className == QLatin1String("VORQ") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
}

// The icon lives in the static library's resources, which the linker keeps only when asked.
static void initResources() {
    Q_INIT_RESOURCE(vorq);
}

VORQ::VORQ(PortMap& map, DeviceLister lister, Notifier* notifier, QWidget* parent)
    : QWidget(parent), m_map(map), m_lister(std::move(lister)),
      m_ownNotifier(notifier ? nullptr : std::make_unique<BoxNotifier>()),
      m_notifier(notifier ? *notifier : *m_ownNotifier) {
    initResources();
    static const bool accessible = (QAccessible::installFactory(windowInterface), true);
    static_cast<void>(accessible);
    setWindowTitle(QStringLiteral("VORQ"));
    resize(twipsToPixels(kClientWidthTwips), twipsToPixels(kClientHeightTwips));

    m_serial = new SerialPort(m_map.resolver(), this);
    m_serial->setObjectName(QStringLiteral("MSComm1"));

    takeControls(buildControls(this));
    describeForScreenReaders();
    m_codeBox->setMaxLength(1);
    m_textBox->setMaxLength(frame::kMaxScrollData);
    m_portOptions[0]->setChecked(true);
    m_speedOptions[0]->setChecked(true);
    // Each option group is one tab stop, at its checked option; the arrow keys move within
    // the group. The first focus is the checked port.
    for (QRadioButton* option : m_portOptions)
        keepTabStopOnChecked(option);
    for (QRadioButton* option : m_speedOptions)
        keepTabStopOnChecked(option);
    m_portOptions[0]->setFocus();
    connectHandlers();

    Form_Initialize();
    if (started())
        Form_Load();
}

VORQ::~VORQ() = default;

void VORQ::takeControls(const QList<QWidget*>& controls) {
    for (QWidget* w : controls) {
        w->installEventFilter(this);
        take(m_portGroup, w, "Frame1");
        take(m_speedGroup, w, "Frame2");
        for (int i = 0; i < PortMap::kPorts; ++i)
            take(m_portOptions[i], w, "Opt_Com", i);
        for (int i = 0; i < int(std::size(m_speedOptions)); ++i)
            take(m_speedOptions[i], w, "Opt_speed", i);
        take(m_codeBox, w, "Ink");
        take(m_textBox, w, "Text1");
        take(m_codePrompt, w, "Label1", 6);
        take(m_scrollPrompt, w, "Label1", 7);
        take(m_writeButton, w, "Send", 0);
        take(m_endButton, w, "Send", 1);
    }
    installEventFilter(this);
    for (const QObject* found : std::initializer_list<const QObject*>{
             m_portGroup, m_speedGroup, m_codeBox, m_textBox, m_codePrompt, m_scrollPrompt,
             m_writeButton, m_endButton, m_portOptions[PortMap::kPorts - 1],
             m_speedOptions[std::size(m_speedOptions) - 1]})
        Q_ASSERT_X(found, "VORQ", "a control that the handlers use is missing from the layout");
}

void VORQ::connectHandlers() {
    connect(m_codeBox, &QLineEdit::textChanged, this, &VORQ::Ink_Change);
    for (int i = 0; i < int(std::size(m_speedOptions)); ++i)
        connect(m_speedOptions[i], &QAbstractButton::clicked, this,
                [this, i] { Opt_speed_Click(i); });
    connect(m_writeButton, &QAbstractButton::clicked, this, [this] { Send_Click(0); });
    connect(m_endButton, &QAbstractButton::clicked, this, [this] { Send_Click(1); });
    // A right-click on a port option, or on the Port group, opens the device menu.
    for (int i = 0; i < PortMap::kPorts; ++i) {
        QRadioButton* option = m_portOptions[i];
        connect(option, &QAbstractButton::clicked, this, [this, i] { Opt_Com_Click(i); });
        option->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(option, &QWidget::customContextMenuRequested, this, [this, i, option](QPoint pos) {
            Opt_Com_ContextMenu(i, option->mapToGlobal(pos));
        });
    }
    m_portGroup->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_portGroup, &QWidget::customContextMenuRequested, this, [this](QPoint pos) {
        Opt_Com_ContextMenu(m_serial->CommPort() - 1, m_portGroup->mapToGlobal(pos));
    });
}

void VORQ::describeForScreenReaders() {
    // A prompt as spoken: without the "<< >>" around it or the ":" after it.
    auto spoken = [](QString prompt) {
        prompt = prompt.remove(QStringLiteral("<<")).remove(QStringLiteral(">>")).trimmed();
        if (prompt.endsWith(QLatin1Char(':')))
            prompt.chop(1);
        return prompt.trimmed();
    };
    m_codePrompt->setBuddy(m_codeBox);
    m_scrollPrompt->setBuddy(m_textBox);
    m_codeBox->setAccessibleName(spoken(m_codePrompt->text()));
    QStringList meanings;
    for (const frame::CommandSet& set : frame::kCommandSets)
        meanings << QLatin1Char(set.digit) + QLatin1Char(' ') + QLatin1String(set.name);
    m_codeBox->setAccessibleDescription(QStringLiteral("The command set, one digit from %1: %2.")
                                            .arg(frame::codeRange(), meanings.join(u", ")));
    m_textBox->setAccessibleName(spoken(m_scrollPrompt->text()));
    m_textBox->setAccessibleDescription(
        QStringLiteral("At most %1 characters, sent to the display as typed.")
            .arg(frame::kMaxScrollData));
    for (auto* group : findChildren<QGroupBox*>())
        group->setAccessibleName(group->title());
    // Each speed's tooltip repeats its caption; the description says what else it means.
    for (QRadioButton* option : m_speedOptions)
        option->setAccessibleDescription(QStringLiteral("8 data bits, no parity, 1 stop bit."));
    for (QPushButton* button : {m_writeButton, m_endButton})
        button->setAccessibleName(button->text());
    describePorts();
    m_writeButton->setAccessibleDescription(
        QStringLiteral("Sends the command set and the scroll data to the display, and locks "
                       "the port choice."));
    m_endButton->setAccessibleDescription(
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
    m_startupFailure = m_serial->OpenAtStartup();
    if (m_startupFailure)
        AccessCode = frame::kAccessCode;
}

void VORQ::Form_Load() {
    m_startupTrace << QStringLiteral("Form_Load");
    m_textBox->setVisible(false);
    m_scrollPrompt->setVisible(false);
    m_textBox->clear();
    m_writeButton->setVisible(false);
    m_endButton->setVisible(false);
}

void VORQ::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_activated)
        return;
    m_activated = true;
    m_startupTrace << QStringLiteral("show");
    QMetaObject::invokeMethod(this, &VORQ::Form_Activate, Qt::QueuedConnection);
}

void VORQ::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (m_iconSet)
        return;
    m_iconSet = true;
    // The built-in icon, set once the window has been mapped and drawn: reading the PNG loads
    // the image plugins. Not the icon theme's: its lookup reads every installed theme's
    // folders, and costs as much as the whole start-up where many themes are installed; the
    // desktop entry gives the launchers the theme's icon.
    QMetaObject::invokeMethod(
        this, [this] { setWindowIcon(QIcon(QStringLiteral(":/vorq.png"))); }, Qt::QueuedConnection);
}

void VORQ::Form_Activate() {
    m_startupTrace << QStringLiteral("Form_Activate");
    for (QRadioButton* option : m_speedOptions)
        option->setToolTip(option->text());
}

bool VORQ::eventFilter(QObject* watched, QEvent* event) {
    // The device menu from the keyboard: the Menu key, or Shift+F10 where there is none.
    const int option = int(std::find(std::begin(m_portOptions), std::end(m_portOptions), watched) -
                           std::begin(m_portOptions));
    const bool menuKey =
        (event->type() == QEvent::ContextMenu &&
         static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) ||
        (event->type() == QEvent::KeyPress &&
         static_cast<QKeyEvent*>(event)->key() == Qt::Key_F10 &&
         static_cast<QKeyEvent*>(event)->modifiers() == Qt::ShiftModifier);
    if (option < PortMap::kPorts && menuKey) {
        Opt_Com_ContextMenu(option, m_portOptions[option]->mapToGlobal(QPoint(0, 0)), true);
        return true;
    }
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
    return {m_portGroup->isEnabled(), m_speedGroup->isEnabled(), m_writeButton->isEnabled(),
            m_endButton->isEnabled()};
}

void VORQ::setLock(const Lock& lock) {
    m_portGroup->setEnabled(lock.portGroup);
    m_speedGroup->setEnabled(lock.speedGroup);
    m_writeButton->setEnabled(lock.write);
    m_endButton->setEnabled(lock.end);
}

void VORQ::setPanelVisible(bool visible) {
    const bool appears = visible && m_textBox->isHidden();
    m_textBox->setVisible(visible);
    if (!visible)
        m_textBox->clear();
    m_scrollPrompt->setVisible(visible);
    m_writeButton->setVisible(visible);
    m_endButton->setVisible(visible);
    if (appears) { // a screen reader says that the scroll-data prompt has come
        QAccessibleEvent shown(m_scrollPrompt, QAccessible::Alert);
        QAccessible::updateAccessibility(&shown);
    }
}

void VORQ::Form_KeyDown(int keyCode, Qt::KeyboardModifiers) {
    if (keyCode == kF1)
        setLock({kDisabled, kDisabled, kDisabled, kEnabled});
    else if (keyCode == kF2)
        setLock({kEnabled, kEnabled, kEnabled, kDisabled});
}

void VORQ::Ink_Change() {
    CommandCode = m_codeBox->text().left(1);
    setPanelVisible(frame::codeOf(CommandCode).has_value());
}

void VORQ::Send_Click(int index) {
    if (index != 0) { // END(N)
        setLock({kEnabled, kEnabled, kEnabled, kDisabled});
        setPanelVisible(false);
        m_codeBox->clear();
        return;
    }

    // Write to EEPROM(Y). Refuse what the display cannot be sent before touching anything.
    if (const auto refusals = frame::refusedCharacters(m_textBox->text()); !refusals.isEmpty()) {
        LinkResult refused = LinkResult::failure(LinkResult::Cause::RefusedText);
        refused.refusals = refusals;
        m_notifier.warn(this, describe(refused) + QStringLiteral("\nNothing was sent."));
        return;
    }
    const Lock before = lock();
    setLock({kDisabled, kDisabled, kDisabled, kEnabled});
    // A port closed by a failure (an adapter pulled out), or never opened, is opened again on
    // the same device with the same settings: a replugged adapter just works. If that fails
    // too, the write below says why.
    if (!m_serial->PortOpen())
        static_cast<void>(m_serial->setPortOpen(true));
    ScrollData = m_textBox->text();
    CommandText = AccessCode + CommandCode + ScrollData;
    if (const LinkResult sent = OutputCommand(*m_serial, CommandText, this, m_notifier); !sent) {
        m_notifier.warn(this, QStringLiteral("Write .... Failed \n") + describe(sent));
        setLock(before);
        return;
    }
    record();
}

void VORQ::record() {
    const WriteRecord written;
    const ConfFile::SaveError saved = written.save(
        WriteRecord::keyFor(m_serial->devicePath()),
        {lineSettingsSpeed(m_serial->Settings()), CommandCode, frame::composed(ScrollData),
         *frame::build(CommandText), WriteRecord::timeNow(), QStringLiteral("vorq")});
    if (!saved.ok())
        m_notifier.warn(this, QStringLiteral("The frame was written, but the record %1 could not "
                                             "be saved (%2).")
                                  .arg(saved.path, saved.error));
}

void VORQ::Opt_Com_Click(int index) {
    // A failed switch is silent: the port stays closed, and a write on it says why.
    static_cast<void>(m_serial->SwitchPort(index));
}

void VORQ::Opt_Com_ContextMenu(int index, QPoint at, bool fromKeyboard) {
    if (index < 0 || index >= PortMap::kPorts)
        return;
    std::unique_ptr<QMenu> menu{portMenu(index + 1)};
    if (!menu)
        return;
    if (fromKeyboard) // the first item is active, so that the arrows and Enter work at once
        for (QAction* action : menu->actions())
            if (action->isEnabled() && !action->isSeparator()) {
                menu->setActiveAction(action);
                break;
            }
    menu->exec(at);
}

QMenu* VORQ::portMenu(int n) {
    if (!m_portGroup->isEnabled()) // locked: the port choice is frozen
        return nullptr;
    return deviceMenu(this, n, m_map, m_lister,
                      [this, n](const QString& device) { mapPort(n, device); });
}

void VORQ::mapPort(int n, const QString& device) {
    // A technician may map a device before plugging it in: a missing one is kept when asked.
    const PortMap::Presence presence =
        device.isEmpty() || !PortMap::unusableDevice(device).isEmpty() ? PortMap::Presence::Present
                                                                       : PortMap::presence(device);
    if (presence != PortMap::Presence::Present &&
        !m_notifier.ask(this, QStringLiteral("%1 %2. Map COM%3 to it anyway?")
                                  .arg(device, presence == PortMap::Presence::Missing
                                                   ? QStringLiteral("is not present now")
                                                   : QStringLiteral("is not a serial line"))
                                  .arg(n)))
        return;
    const LinkResult saved = m_map.map(n, device);
    if (saved.cause == LinkResult::Cause::Settings) {
        m_notifier.warn(this, QStringLiteral("COM%1 was not changed.\n").arg(n) + describe(saved));
        return;
    }
    if (!saved)
        m_notifier.warn(this,
                        QStringLiteral("The device of COM%1 could not be saved in %2 (%3); it "
                                       "applies until VORQ ends.")
                            .arg(n)
                            .arg(saved.file, saved.error));
    describePorts();
    if (n == m_serial->CommPort()) // as a port switch: a failure is silent
        static_cast<void>(m_serial->SwitchPort(n - 1));
}

void VORQ::describePorts() {
    for (int i = 0; i < PortMap::kPorts; ++i) {
        const QString device = m_map.device(i + 1);
        m_portOptions[i]->setAccessibleDescription(QStringLiteral("%1: %2").arg(
            m_portOptions[i]->text(), device.isEmpty() ? QStringLiteral("refused by the "
                                                                        "settings")
                                                       : device));
    }
}

void VORQ::Opt_speed_Click(int index) {
    if (const LinkResult set = m_serial->SetSpeed(index); !set)
        m_notifier.warn(this, QStringLiteral("The speed could not be changed.\n") + describe(set) +
                                  QStringLiteral("\nThe new setting is kept and applies when "
                                                 "the port is next opened."));
}

// The meta-object code, compiled with this file instead of on its own.
#include "moc_vorq.cpp"
