#include "desktop.h"

#include <QCoreApplication>
#include <QFile>

#include <QStandardPaths>
#include <QThread>
#include <algorithm>

Desktop::~Desktop() {
    if (m_xvfb.state() != QProcess::NotRunning) {
        m_xvfb.terminate();
        m_xvfb.waitForFinished(3000);
    }
}

QString Desktop::start() {
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        return QStringLiteral("Xvfb is not installed");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        return QStringLiteral("xdotool is not installed");
    // A display number picked from this process's id, away from :0 (often a real desktop);
    // a number in use is skipped, and a server that fails to come up is replaced.
    m_xvfb.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int n = 100 + (QCoreApplication::applicationPid() * 7 + attempt) % 800;
        if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)) ||
            QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)))
            continue;
        m_display = QStringLiteral(":%1").arg(n);
        m_xvfb.start(QStringLiteral("Xvfb"),
                     {m_display, QStringLiteral("-screen"), QStringLiteral("0"),
                      QStringLiteral("1024x768x24"), QStringLiteral("-dpi"), QStringLiteral("96"),
                      QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                      // Without it the server resets whenever its last client leaves, and
                      // refuses connections meanwhile: between two xdotool calls, say.
                      QStringLiteral("-noreset")});
        if (!m_xvfb.waitForStarted(5000))
            return QStringLiteral("Xvfb did not start");
        for (int i = 0; i < 100 && m_xvfb.state() == QProcess::Running; ++i) {
            if (xdotool({QStringLiteral("getmouselocation")}) &&
                m_xvfb.state() == QProcess::Running)
                return loadKeymap() ? QString()
                                    : QStringLiteral("xkbcomp could not load the keymap");
            QThread::msleep(50);
        }
        m_xvfb.kill();
        m_xvfb.waitForFinished(3000);
    }
    return QStringLiteral("no Xvfb could be started on a free display");
}

// The server's default keymap, with a key for ÿ. xdotool types a character that no key
// carries by binding a spare key to it for an instant; a busy program that reads the key
// press after the binding is undone gets nothing.
bool Desktop::loadKeymap() {
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(QStringLiteral("xkbcomp"),
            {QStringLiteral("-w"), QStringLiteral("0"), QStringLiteral("-"), m_display});
    p.write("xkb_keymap {\n"
            "  xkb_keycodes { include \"evdev+aliases(qwerty)\" };\n"
            "  xkb_types { include \"complete\" };\n"
            "  xkb_compat { include \"complete\" };\n"
            "  xkb_symbols { include \"pc+us+inet(evdev)\" key <FK24> { [ ydiaeresis ] }; };\n"
            "};\n");
    p.closeWriteChannel();
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QProcessEnvironment Desktop::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("QT_SCALE_FACTOR"));
    env.remove(QStringLiteral("QT_SCREEN_SCALE_FACTORS"));
    return env;
}

bool Desktop::xdotool(const QStringList& args, QString* out) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
        return false;
    }
    if (out)
        *out = QString::fromLocal8Bit(p.readAllStandardOutput());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QList<Desktop::Window> Desktop::windows(const QString& title) {
    QString ids;
    QList<Window> found;
    if (!xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                  QStringLiteral("--name"), QStringLiteral("^%1$").arg(title)},
                 &ids))
        return found;
    for (const QString& id : ids.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QString shell;
        if (!xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id}, &shell))
            continue;
        QRect r;
        for (const QString& line : shell.split(QLatin1Char('\n'))) {
            const int v = line.section(QLatin1Char('='), 1).toInt();
            if (line.startsWith(QLatin1String("X=")))
                r.moveLeft(v);
            else if (line.startsWith(QLatin1String("Y=")))
                r.moveTop(v);
            else if (line.startsWith(QLatin1String("WIDTH=")))
                r.setWidth(v);
            else if (line.startsWith(QLatin1String("HEIGHT=")))
                r.setHeight(v);
        }
        found.append({id, r});
    }
    return found;
}

bool Desktop::waitForPopup(int ms) {
    auto visible = [this](const char* by) {
        QString ids;
        xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QLatin1String(by),
                 QStringLiteral(".")},
                &ids);
        return ids.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    };
    for (int waited = 0; waited <= ms; waited += 50) {
        QStringList untitled = visible("--class");
        for (const QString& titled : visible("--name"))
            untitled.removeAll(titled);
        if (!untitled.isEmpty())
            return true;
        QThread::msleep(50);
    }
    return false;
}

bool Desktop::waitGone(const QString& id, int ms) {
    for (int waited = 0; waited <= ms; waited += 50) {
        const QList<Window> now = windows();
        if (std::none_of(now.begin(), now.end(), [&](const Window& w) { return w.id == id; }))
            return true;
        QThread::msleep(50);
    }
    return false;
}

// xdotool waits its repeat delay (100 ms by default) after every click, even a single one.
void Desktop::click(QPoint p, int button) {
    xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(p.x()),
             QString::number(p.y()), QStringLiteral("click"), QStringLiteral("--delay"),
             QStringLiteral("0"), QString::number(button)});
}

void Desktop::key(const QString& keysym) {
    xdotool({QStringLiteral("key"), keysym});
}

void Desktop::type(const QString& text) {
    xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), text});
}

void Desktop::focus(const QString& windowId) {
    xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), windowId});
}

bool Desktop::screenshot(const QString& file, const QString& windowId) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("import"), {QStringLiteral("-window"), windowId, file});
    return p.waitForFinished(10000) && p.exitCode() == 0;
}
