#include "link/portmap.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QSettings>

namespace {

const QString kGroup = QStringLiteral("ports");

QString keyOf(int n) {
    return QStringLiteral("COM%1").arg(n);
}

} // namespace

PortMap::Files PortMap::standardFiles() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return {QStringLiteral("/etc/xdg/vorq/vorq.conf"), config + QStringLiteral("/vorq/vorq.conf")};
}

PortMap::PortMap(SerialPort::Resolver defaults, Files files)
    : m_defaults(std::move(defaults)), m_files(std::move(files)) {}

QStringList PortMap::load() {
    static const QRegularExpression comKey(QStringLiteral("^COM[1-5]$"));
    QStringList warnings;
    m_mapped.clear();
    for (const QString& file : {m_files.system, m_files.user}) {
        const QFileInfo info(file);
        if (file.isEmpty() || !info.exists())
            continue;
        auto ignored = [&](const QString& what) {
            warnings << QStringLiteral("%1: %2 is ignored").arg(file, what);
        };
        if (!info.isFile() || !info.isReadable()) {
            ignored(QStringLiteral("the file (it cannot be read)"));
            continue;
        }
        QSettings settings(file, QSettings::IniFormat);
        const QStringList all = settings.allKeys(); // reads the file
        if (settings.status() != QSettings::NoError) {
            ignored(QStringLiteral("the file (it is not in INI format)"));
            continue;
        }
        settings.beginGroup(kGroup);
        for (const QString& key : settings.childKeys()) {
            const QVariant value = settings.value(key);
            const QString path =
                value.typeId() == QMetaType::QString ? value.toString() : QString();
            if (!comKey.match(key).hasMatch())
                ignored(QStringLiteral("[ports] %1: only COM1 to COM5 can be mapped").arg(key));
            else if (path.isEmpty())
                ignored(QStringLiteral("[ports] %1: its device is empty or not one path").arg(key));
            else if (!QDir::isAbsolutePath(path))
                ignored(QStringLiteral("[ports] %1=%2: the device must be an absolute path")
                            .arg(key, path));
            else
                m_mapped.insert(key.mid(3).toInt(), path);
        }
    }
    return warnings;
}

QString PortMap::device(int n) const {
    if (n < 1 || n > kPorts)
        return {};
    return m_mapped.value(n, defaultDevice(n));
}

QString PortMap::defaultDevice(int n) const {
    return m_defaults(n);
}

LinkResult PortMap::map(int n, const QString& device, bool save) {
    if (n < 1 || n > kPorts || (!device.isEmpty() && !QDir::isAbsolutePath(device)))
        return LinkResult::failure(
            QStringLiteral("\"%1\" is not an absolute device path.").arg(device),
            LinkResult::Cause::Invalid);
    if (device.isEmpty())
        m_mapped.remove(n);
    else
        m_mapped.insert(n, device);
    if (!save || m_files.user.isEmpty())
        return LinkResult::success();
    QDir().mkpath(QFileInfo(m_files.user).absolutePath());
    QSettings settings(m_files.user, QSettings::IniFormat);
    settings.beginGroup(kGroup);
    if (device.isEmpty())
        settings.remove(keyOf(n));
    else
        settings.setValue(keyOf(n), device);
    settings.endGroup();
    settings.sync();
    if (settings.status() != QSettings::NoError)
        return LinkResult::failure(QStringLiteral("%1 cannot be written; %2 is %3 until VORQ ends.")
                                       .arg(m_files.user, keyOf(n), this->device(n)),
                                   LinkResult::Cause::Io);
    return LinkResult::success();
}

QList<SerialDevice> systemSerialDevices() {
    // Links in /dev/serial/by-id, by the device they point at.
    QMap<QString, QString> byId;
    const QDir dir(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link :
         dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        if (link.isSymLink())
            byId.insert(link.canonicalFilePath(), link.absoluteFilePath());

    QList<SerialDevice> devices;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        // The system's device database may know ports whose device node is not here.
        if (!QFileInfo::exists(info.systemLocation()))
            continue;
        devices.append({info.systemLocation(), info.description(), info.manufacturer(),
                        info.serialNumber(),
                        byId.value(QFileInfo(info.systemLocation()).canonicalFilePath())});
    }
    return devices;
}
