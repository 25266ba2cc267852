#include "line/portmap.h"

#include "protocol/escape.h"
#include "store/conffile.h"
#include "store/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <climits>
#include <sys/stat.h>

namespace {

const QString kSection = QStringLiteral("ports");

QString keyOf(int n) {
    return QStringLiteral("COM%1").arg(n);
}

// The COM number (1 to kPorts) that `word` names, such as "com3"; 0 for none.
int comNumber(const QString& word) {
    const int n = comNumberOf(word);
    return n >= 1 && n <= PortMap::kPorts ? n : 0;
}

} // namespace

PortMap::Files PortMap::standardFiles() {
    const QString tail = QStringLiteral("/vorq/vorq.conf");
    Files files;
    QStringList dirs = qEnvironmentVariable("XDG_CONFIG_DIRS").split(QLatin1Char(':'));
    dirs.removeIf([](const QString& d) { return !QDir::isAbsolutePath(d); });
    if (dirs.isEmpty())
        dirs << QStringLiteral("/etc/xdg");
    for (const QString& dir : dirs)
        files.system << dir + tail;
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    files.user = config + tail;
    return files;
}

PortMap::PortMap(SerialPort::Resolver defaults, Files files)
    : m_defaults(std::move(defaults)), m_files(std::move(files)) {}

QString PortMap::unusableDevice(const QString& device) {
    if (device.isEmpty())
        return QStringLiteral("no device is given");
    for (const QChar c : device)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F ||
            (c.unicode() >= 0x80 && c.unicode() < 0xA0))
            return QStringLiteral("the path holds a control character");
    if (QFile::encodeName(device).size() >= PATH_MAX)
        return QStringLiteral("the path is longer than %1 bytes").arg(PATH_MAX - 1);
    if (!QDir::isAbsolutePath(device))
        return QStringLiteral("the path is not absolute");
    return {};
}

PortMap::Presence PortMap::presence(const QString& device) {
    struct stat info {};
    if (::stat(QFile::encodeName(device).constData(), &info) != 0)
        return Presence::Missing;
    return S_ISCHR(info.st_mode) ? Presence::Present : Presence::NotADevice;
}

void PortMap::readFile(const QString& path, QList<Warning>& warnings) {
    const ConfFile file = ConfFile::read(path);
    const bool system = path != m_files.user;
    auto refuse = [&](int n, int line, const QString& entry, const QString& why) {
        LinkResult r = LinkResult::failure(LinkResult::Cause::Settings, {}, why);
        r.port = n;
        r.file = path;
        r.line = line;
        r.entry = entry;
        m_mapped.remove(n);
        m_refused.insert(n, r);
        if (system)
            m_bySystem.insert(n);
    };
    if (file.state() == ConfFile::State::Missing)
        return;
    if (file.state() == ConfFile::State::Unreadable) {
        for (int n = 1; n <= kPorts; ++n)
            refuse(n, 0, {}, file.why());
        return;
    }
    for (const ConfFile::Entry& e : file.entries()) {
        const int n = comNumber(e.key);
        const QString entry = e.key + QLatin1Char('=') + e.value;
        if (n == 0) {
            if (e.section == kSection)
                warnings.append({path, e.line, e.key, true, {}});
        } else if (e.section != kSection) {
            refuse(n, e.line, entry, QStringLiteral("outside [ports]"));
        } else if (const QString why = unusableDevice(e.value); !why.isEmpty()) {
            refuse(n, e.line, entry, why);
        } else {
            m_refused.remove(n);
            m_mapped.insert(n, e.value);
            if (system)
                m_bySystem.insert(n);
        }
    }
    for (const ConfFile::BadLine& bad : file.badLines()) {
        // A line meant for a COM number that cannot be read must not leave it to the default.
        const int n = comNumber(
            bad.text.section(QLatin1Char('='), 0, 0).section(QLatin1Char(' '), 0, 0).trimmed());
        if (n != 0)
            refuse(n, bad.line, bad.text, bad.why);
        else
            warnings.append({path, bad.line, bad.text, false, bad.why});
    }
}

QList<PortMap::Warning> PortMap::load() {
    QList<Warning> warnings;
    m_mapped.clear();
    m_refused.clear();
    m_bySystem.clear();
    for (auto file = m_files.system.crbegin(); file != m_files.system.crend(); ++file)
        if (!file->isEmpty())
            readFile(*file, warnings);
    if (!m_files.user.isEmpty())
        readFile(m_files.user, warnings);
    return warnings;
}

QString PortMap::device(int n) const {
    if (n < 1 || n > kPorts || m_refused.contains(n))
        return {};
    return m_mapped.value(n, defaultDevice(n));
}

QString PortMap::defaultDevice(int n) const {
    return m_defaults(n).path;
}

LinkResult PortMap::map(int n, const QString& device, bool save) {
    if (n < 1 || n > kPorts)
        return LinkResult::failure(LinkResult::Cause::Settings, {}, QStringLiteral("no such COM"));
    if (const QString why = unusableDevice(device); !device.isEmpty() && !why.isEmpty()) {
        LinkResult r = LinkResult::failure(LinkResult::Cause::Settings, {}, why);
        r.port = n;
        r.entry = device;
        return r;
    }
    m_refused.remove(n);
    if (device.isEmpty())
        m_mapped.remove(n);
    else
        m_mapped.insert(n, device);
    if (!save || m_files.user.isEmpty())
        return LinkResult::success();
    ConfFile file = ConfFile::read(m_files.user);
    ConfFile::SaveError saved{m_files.user, file.why()};
    if (file.state() != ConfFile::State::Unreadable) {
        if (!device.isEmpty())
            file.set(kSection, keyOf(n), device);
        else if (m_bySystem.contains(n)) // the system's entry would come back
            file.set(kSection, keyOf(n), defaultDevice(n));
        else
            file.remove(kSection, keyOf(n));
        saved = file.save();
    }
    if (saved.ok())
        return LinkResult::success();
    LinkResult r = LinkResult::failure(LinkResult::Cause::Io, this->device(n), saved.error);
    r.port = n;
    r.file = saved.path;
    return r;
}

QList<SerialDevice> systemSerialDevices() {
    const QHash<QByteArray, QByteArray> byId = serialByIdLinks();

    QList<SerialDevice> devices;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        // The system's device database may know ports whose device node is not here.
        if (!QFileInfo::exists(info.systemLocation()))
            continue;
        devices.append(
            {info.systemLocation(), info.description(), info.manufacturer(), info.serialNumber(),
             QFile::decodeName(byId.value(
                 QFile::encodeName(QFileInfo(info.systemLocation()).canonicalFilePath())))});
    }
    return devices;
}

QString describe(const PortMap::Warning& w) {
    const QString at = QStringLiteral("%1:%2").arg(shown(w.file)).arg(w.line);
    if (w.unknownKey)
        return QStringLiteral("%1: %2 is ignored: only COM1 to COM%3 can be mapped")
            .arg(at, shown(w.text))
            .arg(PortMap::kPorts);
    return QStringLiteral("%1: the line is ignored: %2").arg(at, w.why);
}
