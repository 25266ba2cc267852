#include "line/portmap.h"
#include "line/signalwatch.h"
#include "version.h"
#include "window/messages.h"
#include "window/startup.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <cstring>
#include <optional>
#include <unistd.h>

namespace {

// Qt's own options, which QApplication takes from the command line: those that take a value,
// then those that do not.
const char* const kQtOptionsWithValue[] = {
    "platform",        "platformpluginpath", "platformtheme", "plugin",
    "qwindowgeometry", "qwindowicon",        "qwindowtitle",  "session",
    "display",         "geometry",           "style",         "stylesheet"};
const char* const kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

// Exit status 64 and one line, for an argument that vorq does not take.
int usage(const QString& line) {
    std::fprintf(stderr, "vorq: %s\n", qPrintable(line));
    return 64;
}

// Qt's options as the help shows them.
QString qtOptionsHelp() {
    QString help = QStringLiteral("\nOptions of Qt, which the window takes:\n");
    for (const char* option : kQtOptionsWithValue)
        help += QStringLiteral("  -%1 <value>\n").arg(QLatin1String(option));
    for (const char* option : kQtFlags)
        help += QStringLiteral("  -%1\n").arg(QLatin1String(option));
    return help;
}

// While the window system is being reached, its failure is the one line that says so: Qt
// would abort with advice to reinstall.
bool g_connecting = false;
void onQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (g_connecting && type == QtFatalMsg) {
        static const char line[] = "vorq: cannot open the display (DISPLAY/WAYLAND_DISPLAY not "
                                   "set or not reachable)\n";
        static_cast<void>(::write(STDERR_FILENO, line, sizeof line - 1));
        ::_exit(1);
    }
    if (g_connecting && context.category && std::strncmp(context.category, "qt.qpa", 6) == 0)
        return; // the same failure, as the platform plugin words it
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

// Checks the command line before the window system is reached, so that --help, --version
// and a wrong argument answer without a display. Returns the exit status when the program
// must end here.
std::optional<int> answerCommandLine(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Stores a command set and scroll data in the EEPROM of a point-of-sale "
                       "pole display on COM1 to COM5.\n\nCOM1 to COM5 are /dev/ttyS0 to "
                       "/dev/ttyS4 unless [ports] in ~/.config/vorq/vorq.conf (or "
                       "/etc/xdg/vorq/vorq.conf) maps them to other devices; right-click a "
                       "port to choose one."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays help on commandline options."));
    const QCommandLineOption helpAll(QStringLiteral("help-all"),
                                     QStringLiteral("Displays help including Qt specific "
                                                    "options."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Displays version information."));
    parser.addOptions({help, helpAll, version});
    for (const char* option : kQtOptionsWithValue) {
        QCommandLineOption qt(QLatin1String(option), {}, QStringLiteral("value"));
        qt.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qt);
    }
    for (const char* option : kQtFlags) {
        QCommandLineOption qt{QLatin1String(option)};
        qt.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qt);
    }
    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usage(
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
    if (parser.isSet(help) || parser.isSet(helpAll)) {
        // Without an application object the parser does not know the program's name.
        QString text =
            parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("vorq"));
        if (parser.isSet(helpAll))
            text += qtOptionsHelp();
        std::fputs(qPrintable(text), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("vorq %s\n", VORQ_VERSION);
        return 0;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QStringLiteral("vorq"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORQ_VERSION));
    if (const auto status = answerCommandLine(argc, argv))
        return *status;

    qInstallMessageHandler(onQtMessage);
    g_connecting = true;
    QApplication app(argc, argv);
    g_connecting = false;
    QApplication::setApplicationName(QStringLiteral("VORQ"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vorq.VORQ"));
    // SIGTERM, SIGINT and SIGHUP close every open message box and end the event loop; the
    // window then goes as on a normal exit and closes its port.
    SignalWatch signals;
    signals.endEventLoopOnSignal();

    PortMap map(SerialPort::systemDevice, PortMap::standardFiles());
    for (const PortMap::Warning& warning : map.load())
        std::fprintf(stderr, "vorq: warning: %s\n", qPrintable(describe(warning)));
    const std::unique_ptr<VORQ> window =
        startVorq(map, systemSerialDevices, [](const QString& message) {
            std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        });
    if (SignalWatch::pending()) // caught while a start-up box was open
        return SignalWatch::exitStatus();
    if (!window)
        return 1;
    window->show();
    return QApplication::exec();
}
