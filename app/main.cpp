#include "link/portmap.h"
#include "version.h"
#include "window/messages.h"
#include "window/startup.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QStringLiteral("vorq"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORQ_VERSION));

    // --help and --version before anything else, so that they work without a display.
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
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays help on commandline options."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Displays version information."));
    parser.addOptions({help, version});
    parser.parse(arguments); // Qt's own options, such as -platform, are checked below
    if (parser.isSet(help)) {
        // Without an application object the parser does not know the program's name.
        std::fputs(qPrintable(parser.helpText().replace(QStringLiteral("<executable_name>"),
                                                        QStringLiteral("vorq"))),
                   stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("vorq %s\n", VORQ_VERSION);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VORQ"));
    if (!parser.parse(QApplication::arguments()) || !parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "vorq: %s\n",
                     qPrintable(parser.errorText().isEmpty()
                                    ? QStringLiteral("unexpected argument \"%1\"")
                                          .arg(parser.positionalArguments().first())
                                    : parser.errorText()));
        return 64;
    }

    PortMap map(SerialPort::systemDevice, PortMap::standardFiles());
    for (const PortMap::Warning& warning : map.load())
        std::fprintf(stderr, "vorq: warning: %s\n", qPrintable(describe(warning)));
    const std::unique_ptr<VORQ> window =
        startVorq(map, systemSerialDevices, [](const QString& message) {
            std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        });
    if (!window)
        return 1;
    window->show();
    return QApplication::exec();
}
