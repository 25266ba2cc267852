#pragma once

#include "link/portmap.h"
#include "link/serialport.h"

#include <QHash>
#include <QStringList>
#include <QWidget>

#include <memory>

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
    // `resolver` maps port numbers 1 to 5 to devices; the port menu offers no devices and
    // stores nothing.
    explicit VORQ(SerialPort::Resolver resolver = SerialPort::systemDevice,
                  QWidget* parent = nullptr);
    // The ports as `map` maps them (it must outlive the window); the port menu offers the
    // devices that `lister` finds and saves choices in `map`.
    VORQ(PortMap& map, DeviceLister lister, QWidget* parent = nullptr);
    ~VORQ() override;

    // False when COM1 could not be opened at start-up: the window must then not be shown,
    // and startupFailure() names the port, the device, the system's reason and a hint.
    bool started() const { return m_startupFailure.isEmpty(); }
    QString startupFailure() const { return m_startupFailure; }

    // The control called `name`, with `index` in its control array (-1 for none).
    QWidget* control(const QString& name, int index = -1) const;
    template <typename T> T* control(const QString& name, int index = -1) const {
        return qobject_cast<T*>(control(name, index));
    }
    SerialPort& MSComm1() { return *m_serial; }
    // The start-up handlers and the show, in the order they ran.
    QStringList startupTrace() const { return m_startupTrace; }

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
    // group): the device menu for that COM number, at `at` (global coordinates).
    void Opt_Com_ContextMenu(int index, QPoint at);

    // The device menu for COM `n` (the caller owns it), or nullptr while the port choice is
    // locked. A choice maps the port and saves the mapping (a failed save is reported in a
    // warning box; the mapping still applies); for the selected port it then reopens the
    // port on the new device as a port switch does.
    QMenu* portMenu(int n);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    VORQ(std::unique_ptr<PortMap> own, PortMap* map, DeviceLister lister, QWidget* parent);
    void mapPort(int n, const QString& device);

    struct Lock {
        bool frame1, frame2, write, end;
    };
    Lock lock() const;
    void setLock(const Lock& lock);
    void setPanelVisible(bool visible);
    void warn(const QString& text);
    // Names the boxes after their prompts, and the groups and buttons after their captions,
    // for screen readers; nothing visible changes.
    void describeForScreenReaders();
    // Gives `option` the tab focus while it is checked, and takes it away while it is not.
    void keepTabStopOnChecked(QRadioButton* option);
    // Sets `member` to the control `name`(`index`), which must exist with kind T.
    template <typename T> void lookUp(T*& member, const char* name, int index = -1);

    std::unique_ptr<PortMap> m_ownMap; // when the window was given a resolver only
    PortMap* m_map = nullptr;
    DeviceLister m_lister;
    SerialPort* m_serial = nullptr;
    QHash<QString, QWidget*> m_controls; // by "Name" or "Name(index)"
    // The controls that the handlers use, looked up once.
    QGroupBox* m_frame1 = nullptr;
    QGroupBox* m_frame2 = nullptr;
    QRadioButton* m_optCom[5] = {};
    QRadioButton* m_optSpeed[2] = {};
    QLineEdit* m_ink = nullptr;
    QLineEdit* m_text1 = nullptr;
    QLabel* m_scrollPrompt = nullptr; // Label1(7)
    QPushButton* m_send[2] = {};      // Write to EEPROM(Y), END(N)
    QStringList m_startupTrace;
    QString m_startupFailure;
    bool m_activated = false;
};
