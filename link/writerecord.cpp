#include "link/writerecord.h"

#include "link/conffile.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

namespace {

QString hex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

} // namespace

QString WriteRecord::standardFile() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/vorq/written.conf");
}

QString WriteRecord::keyFor(const QString& device) {
    const QString canonical = QFileInfo(device).canonicalFilePath();
    if (canonical.isEmpty())
        return device;
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link :
         byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        if (link.isSymLink() && link.canonicalFilePath() == canonical)
            return link.absoluteFilePath();
    return canonical;
}

std::optional<WrittenFrame> WriteRecord::find(const QString& key) const {
    const ConfFile file = ConfFile::read(m_file);
    if (file.state() != ConfFile::State::Read)
        return std::nullopt;
    QHash<QString, QString> values;
    for (const ConfFile::Entry& e : file.entries())
        if (e.section == key.toLower())
            values.insert(e.key.toLower(), e.value);
    static const QRegularExpression hexBytes(QStringLiteral("^[0-9A-F]{2}( [0-9A-F]{2})*$"));
    WrittenFrame w;
    bool ok = false;
    w.speed = values.value(QStringLiteral("speed")).toInt(&ok);
    w.code = values.value(QStringLiteral("code"));
    w.text = values.value(QStringLiteral("text"));
    const QString frame = values.value(QStringLiteral("frame"));
    w.frame = QByteArray::fromHex(frame.toLatin1());
    w.time = values.value(QStringLiteral("time"));
    w.program = values.value(QStringLiteral("program"));
    if (!ok || w.speed <= 0 || w.code.size() != 1 || !hexBytes.match(frame).hasMatch() ||
        !values.contains(QStringLiteral("text")) || w.time.isEmpty())
        return std::nullopt;
    return w;
}

LinkResult WriteRecord::save(const QString& key, const WrittenFrame& written) const {
    ConfFile file = ConfFile::read(m_file);
    ConfFile::SaveError saved{m_file, file.why()};
    if (file.state() != ConfFile::State::Unreadable) {
        file.set(key, QStringLiteral("speed"), QString::number(written.speed));
        file.set(key, QStringLiteral("code"), written.code);
        file.set(key, QStringLiteral("text"), written.text);
        file.set(key, QStringLiteral("frame"), hex(written.frame));
        file.set(key, QStringLiteral("time"), written.time);
        file.set(key, QStringLiteral("program"), written.program);
        saved = file.save();
    }
    if (saved.ok())
        return LinkResult::success();
    LinkResult r = LinkResult::failure(LinkResult::Cause::Io, {}, saved.error);
    r.file = saved.path;
    return r;
}
