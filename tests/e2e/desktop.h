#pragma once

#include <QList>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QThread>

// An X server of the test's own (Xvfb) and xdotool, to drive programs as an operator would.
class Desktop {
public:
    ~Desktop();
    // Starts Xvfb on a free display at 96 dpi. Returns why it cannot, or an empty string.
    QString start();
    QString display() const { return m_display; }
    // The environment for a program that is to show its windows here.
    QProcessEnvironment environment() const;

    struct Window {
        QString id;
        QRect geometry; // screen coordinates; without a window manager, the client area
    };
    // The visible top-level windows titled exactly `title`.
    QList<Window> windows(const QString& title = QStringLiteral("VORQ"));
    // Waits up to `ms` for a visible window titled `title` that `pick` accepts.
    template <typename Pick> bool waitFor(Window* found, Pick pick, int ms = 10000);

    // Waits up to `ms` for a visible window without a title, such as a popup menu.
    bool waitForPopup(int ms = 5000);
    // Waits up to `ms` until the window `id` is no longer visible.
    bool waitGone(const QString& id, int ms = 5000);

    bool xdotool(const QStringList& args, QString* out = nullptr);
    void click(QPoint screen, int button = 1); // 1 left, 3 right
    void key(const QString& keysym);
    void type(const QString& text);
    void focus(const QString& windowId);
    bool screenshot(const QString& file, const QString& windowId = QStringLiteral("root"));

private:
    bool loadKeymap();

    QProcess m_xvfb;
    QString m_display;
};

template <typename Pick> bool Desktop::waitFor(Window* found, Pick pick, int ms) {
    for (int waited = 0; waited <= ms; waited += 50) {
        for (const Window& w : windows()) {
            if (pick(w)) {
                *found = w;
                return true;
            }
        }
        QThread::msleep(50);
    }
    return false;
}
