#include "tools/display/forward.h"

#include "line/portmap.h"
#include "tools/cli.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

std::variant<std::unique_ptr<SerialPort>, int> openForward(const Request& request) {
    PortMap map(SerialPort::systemDevice, PortMap::standardFiles());
    for (const PortMap::Warning& warning : map.load())
        cli::fail(0, QStringLiteral("warning: ") + cli::describe(warning));
    const auto resolved = cli::resolvePort(map, request.forward, "--forward");
    if (const int* status = std::get_if<int>(&resolved))
        return *status;
    const cli::Target target = std::get<cli::Target>(resolved);
    const QString path = target.path;
    auto serial = std::make_unique<SerialPort>([path](int) { return path; });
    serial->setCommPort(target.number);
    serial->setReceiving(true, true);
    LinkResult opened = serial->setSettings(lineSettingsFor(request.bps));
    if (opened)
        opened = serial->setPortOpen(true);
    if (!opened)
        return cli::fail(cli::exitStatus(opened.cause), cli::describe(opened));
    return serial;
}

ToSoftware::ToSoftware(int master) : m_master(master), m_writable(master, QSocketNotifier::Write) {
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    m_writable.setEnabled(false);
    QObject::connect(&m_writable, &QSocketNotifier::activated, &m_writable, [this] { drain(); });
}

void ToSoftware::send(const QByteArray& bytes) {
    m_pending += bytes;
    drain();
}

void ToSoftware::drain() {
    while (!m_pending.isEmpty()) {
        const ssize_t n = ::write(m_master, m_pending.constData(), size_t(m_pending.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        m_pending.remove(0, n);
    }
    m_writable.setEnabled(!m_pending.isEmpty());
}
