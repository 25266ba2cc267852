#include "store/writerecord.h"

#include "protocol/escape.h"
#include "store/conffile.h"
#include "store/files.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// flock(LOCK_EX) on "<record>.lock", held from the read to the rename, so that writers that
// save at the same time each keep the others' sections. The lock file stays in place (removing
// it would let two writers lock two different files). Waits at most kWaitMs; `error` then says
// why there is no lock.
class RecordLock {
public:
    static constexpr int kWaitMs = 3000;
    explicit RecordLock(const QString& record) {
        const QByteArray path = QFile::encodeName(record + QStringLiteral(".lock"));
        m_fd =
            ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        struct stat info {};
        if (m_fd < 0) {
            m_folderMissing = errno == ENOENT || errno == ENOTDIR;
            error = systemError(errno);
            return;
        }
        if (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            error = QStringLiteral("its lock file is not a regular file");
            return;
        }
        QDeadlineTimer deadline(kWaitMs);
        while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                error = systemError(errno);
                return;
            }
            if (deadline.hasExpired()) {
                error =
                    QStringLiteral("another program kept it locked for %1 s").arg(kWaitMs / 1000);
                return;
            }
            QThread::msleep(2);
        }
        m_locked = true;
    }
    ~RecordLock() {
        if (m_fd >= 0)
            ::close(m_fd); // also releases the lock
    }
    bool locked() const { return m_locked; }
    bool folderMissing() const { return m_folderMissing; } // the record's folder is not there
    QString error;

private:
    int m_fd = -1;
    bool m_locked = false;
    bool m_folderMissing = false;
};

// The section of `key` in `file`, when it is complete and sound.
std::optional<WrittenFrame> sectionOf(const ConfFile& file, const QString& key) {
    // The last line that sets a key counts.
    enum { Speed, Code, Text, Frame, Time, Program, Keys };
    static const QLatin1String names[Keys] = {QLatin1String("speed"), QLatin1String("code"),
                                              QLatin1String("text"),  QLatin1String("frame"),
                                              QLatin1String("time"),  QLatin1String("program")};
    std::optional<QString> values[Keys];
    const QString section = key.toLower();
    for (const ConfFile::Entry& e : file.entries())
        if (e.section == section)
            for (int k = 0; k < Keys; ++k)
                if (e.key.compare(names[k], Qt::CaseInsensitive) == 0)
                    values[k] = e.value;
    // "1B 6B FF": pairs of upper-case hex digits, one space between pairs.
    auto isHexBytes = [](const QString& s) {
        auto hexDigit = [](QChar c) {
            return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
        };
        if (s.size() % 3 != 2)
            return false;
        for (qsizetype i = 0; i < s.size(); ++i)
            if (i % 3 == 2 ? s[i] != u' ' : !hexDigit(s[i]))
                return false;
        return true;
    };
    WrittenFrame w;
    bool ok = false;
    w.speed = values[Speed].value_or(QString()).toInt(&ok);
    w.code = values[Code].value_or(QString());
    w.text = values[Text].value_or(QString());
    const QString frame = values[Frame].value_or(QString());
    w.frame = QByteArray::fromHex(frame.toLatin1());
    w.time = values[Time].value_or(QString());
    w.program = values[Program].value_or(QString());
    if (!ok || w.speed <= 0 || w.code.size() != 1 || !isHexBytes(frame) || !values[Text] ||
        w.time.isEmpty())
        return std::nullopt;
    return w;
}

} // namespace

QString WriteRecord::standardFile() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/vorq/written.conf");
}

QString WriteRecord::keyFor(const QString& device, const QByteArray& byId) {
    const QByteArray native = QFile::encodeName(device);
    char canonical[PATH_MAX];
    if (!::realpath(native.constData(), canonical))
        return losslessText(native);
    const QByteArray resolved(canonical);
    return losslessText(serialByIdLinks(byId).value(resolved, resolved));
}

QString WriteRecord::timeNow() {
    return timeText(std::time(nullptr));
}

QString WriteRecord::timeText(long long seconds) {
    // The civil date of a day count, by arithmetic alone: gmtime and strftime would load the
    // local time zone's file first, which a time in UTC does not need.
    const long long days = seconds / 86400 - (seconds % 86400 < 0);
    const long long secondOfDay = seconds - days * 86400;
    const long long z = days + 719468; // days since 0000-03-01
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long dayOfEra = z - era * 146097;
    const long long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long mp = (5 * dayOfYear + 2) / 153; // March is 0
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yearOfEra + era * 400 + (month <= 2);
    const long long day = dayOfYear - (153 * mp + 2) / 5 + 1;
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", int(year), int(month),
                  int(day), int(secondOfDay / 3600), int(secondOfDay / 60 % 60),
                  int(secondOfDay % 60));
    return QString::fromLatin1(text);
}

std::optional<WrittenFrame> WriteRecord::find(const QString& key) const {
    const ConfFile file = ConfFile::read(m_file);
    if (file.state() != ConfFile::State::Read)
        return std::nullopt;
    return sectionOf(file, key);
}

ConfFile::SaveError WriteRecord::save(const QString& key, const WrittenFrame& written) const {
    std::optional<RecordLock> lock(std::in_place, m_file);
    if (lock->folderMissing()) {
        if (!QDir().mkpath(QFileInfo(m_file).absolutePath()))
            return {m_file, QStringLiteral("the folder cannot be made")};
        lock.emplace(m_file);
    }
    if (!lock->locked())
        return {m_file, lock->error};
    // Read again under the lock, whatever find() read: another program may have saved since,
    // or edited the file in place within one tick of the file clock, with no trace in its times.
    ConfFile file = ConfFile::read(m_file);
    // The display holds what the record says already: the record stays as it is, and its
    // time is when the display got that frame.
    if (const auto now = sectionOf(file, key);
        now && now->speed == written.speed && now->code == written.code &&
        now->text == written.text && now->frame == written.frame)
        return {};
    ConfFile::SaveError saved{m_file, file.why()};
    if (file.state() != ConfFile::State::Unreadable) {
        file.set(key, QStringLiteral("speed"), QString::number(written.speed));
        file.set(key, QStringLiteral("code"), written.code);
        file.set(key, QStringLiteral("text"), written.text);
        file.set(key, QStringLiteral("frame"), toHex(written.frame));
        file.set(key, QStringLiteral("time"), written.time);
        file.set(key, QStringLiteral("program"), written.program);
        saved = file.save(false); // a cache: a write is not held up to flush it
    }
    return saved;
}
