#pragma once

#include "line/portmap.h"
#include "line/serialport.h"

#include <QStringList>
#include <QWidget>

#include <memory>

class Notifier;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;

// The operator's window. It owns its controls, the four window-level strings and the serial
// port `MSComm1`. Start-up runs Form_Initialize and Form_Load in the constructor; the first
// show runs Form_Activate right after the window appears.
class VORQ : public QWidget {
    Q_OBJECT
public:
    // The ports as `map` maps them (it must outlive the window); the port menu offers the
    // devices that `lister` finds and saves choices in `map`. Every confirmation and warning
    // goes through `notifier` (which must outlive the window); without one, message boxes.
    VORQ(PortMap& map, DeviceLister lister, Notifier* notifier = nullptr,
         QWidget* parent = nullptr);
    ~VORQ() override;

    // Success unless COM1 could not be opened at start-up: the window must then not be
    // shown, and the result says why.
    bool started() const { return m_startupFailure.ok(); }
    const LinkResult& startupFailure() const { return m_startupFailure; }

    SerialPort& MSComm1() { return *m_serial; }

    // Window-level state.
    QString AccessCode;
    QString CommandCode;
    QString ScrollData;
    QString CommandText;

    void Form_Initialize();
    void Form_Load();
    void Form_Activate();
    // `keyCode` is a Windows virtual-key code: 112 is F1, 113 is F2.
    void Form_KeyDown(int keyCode, Qt::KeyboardModifiers shift);
    void Ink_Change();
    void Send_Click(int index);
    void Opt_Com_Click(int index);
    void Opt_speed_Click(int index);
    // A right-click on a port option (or, with the index of the selected one, on the Port
    // group), or the Menu key or Shift+F10 on a port option: the device menu for that COM
    // number, at `at` (global coordinates); from the keyboard, with its first item active.
    void Opt_Com_ContextMenu(int index, QPoint at, bool fromKeyboard = false);

    // The device menu for COM `n` (the caller owns it), or nullptr while the port choice is
    // locked. A choice maps the port and saves the mapping (a failed save is reported in a
    // warning; the mapping still applies); for the selected port it then reopens the port
    // on the new device as a port switch does.
    QMenu* portMenu(int n);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    friend struct VORQTestAccess; // the start-up trace, for tests

    struct Lock {
        bool portGroup, speedGroup, write, end;
    };
    // Looks up the controls that the handlers use, and wires their events to the handlers.
    void takeControls(const QList<QWidget*>& controls);
    void connectHandlers();
    Lock lock() const;
    void setLock(const Lock& lock);
    void setPanelVisible(bool visible);
    // Maps COM `n` to `device` (asking first when it is missing or not a serial line), saves
    // it, and reopens the port when it is the selected one.
    void mapPort(int n, const QString& device);
    // Gives each port option the device of its COM number as its description.
    void describePorts();
    // Records the frame just written in the write record ($XDG_STATE_HOME/vorq/written.conf);
    // a record that cannot be saved is a warning, since the frame was written.
    void record();
    // Names the boxes after their prompts, and the groups and buttons after their captions,
    // for screen readers; nothing visible changes.
    void describeForScreenReaders();
    // Gives `option` the tab focus while it is checked, and takes it away while it is not.
    void keepTabStopOnChecked(QRadioButton* option);

    PortMap& m_map;
    DeviceLister m_lister;
    std::unique_ptr<Notifier> m_ownNotifier; // when none was given
    Notifier& m_notifier;
    SerialPort* m_serial = nullptr;
    // The controls that the handlers use, by role; their object names are the layout's.
    QGroupBox* m_portGroup = nullptr;  // Frame1
    QGroupBox* m_speedGroup = nullptr; // Frame2
    QRadioButton* m_portOptions[PortMap::kPorts] = {};
    QRadioButton* m_speedOptions[std::size(kDisplaySpeeds)] = {};
    QLineEdit* m_codeBox = nullptr;       // Ink
    QLineEdit* m_textBox = nullptr;       // Text1
    QLabel* m_codePrompt = nullptr;       // Label1(6)
    QLabel* m_scrollPrompt = nullptr;     // Label1(7)
    QPushButton* m_writeButton = nullptr; // Send(0)
    QPushButton* m_endButton = nullptr;   // Send(1)
    QStringList m_startupTrace; // the start-up handlers and the show, in the order they ran
    LinkResult m_startupFailure;
    bool m_activated = false;
    bool m_iconSet = false;
};
