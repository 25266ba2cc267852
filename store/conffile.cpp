#include "store/conffile.h"

#include "store/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 kMaxBytes = 1 << 20;
const QByteArray kBom("\xEF\xBB\xBF");

// A line without its line ending.
QByteArray body(QByteArray line) {
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

} // namespace

ConfFile ConfFile::read(const QString& path) {
    ConfFile file;
    file.m_path = path;
    const QByteArray native = QFile::encodeName(path);
    // O_NONBLOCK: a FIFO opens at once instead of waiting for a writer, and is refused below.
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        struct stat link {};
        if (err == ENOENT && ::lstat(native.constData(), &link) == 0 && S_ISLNK(link.st_mode)) {
            file.m_state = State::Unreadable;
            file.m_why = QStringLiteral("a symbolic link to nothing");
        } else if (err == ENOENT || err == ENOTDIR) {
            file.m_state = State::Missing;
        } else {
            file.m_state = State::Unreadable;
            file.m_why =
                err == ELOOP ? QStringLiteral("a loop of symbolic links") : systemError(err);
        }
        return file;
    }
    struct stat info {};
    QString why;
    if (::fstat(fd, &info) != 0)
        why = systemError(errno);
    else if (!S_ISREG(info.st_mode))
        why = fileKind(info.st_mode);
    else if (info.st_size > kMaxBytes)
        why = QStringLiteral("larger than 1 MiB");
    // Read straight into the bytes: one byte more than fstat's size sees the end of the file,
    // or that it grew since.
    QByteArray bytes;
    qsizetype used = 0;
    if (why.isEmpty())
        bytes.resize(qsizetype(info.st_size) + 1);
    while (why.isEmpty()) {
        if (used == bytes.size())
            bytes.resize(std::min<qsizetype>(kMaxBytes + 1, used * 2));
        const ssize_t n = ::read(fd, bytes.data() + used, size_t(bytes.size() - used));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            why = systemError(errno);
        else if (n == 0)
            break;
        else if ((used += n) > kMaxBytes)
            why = QStringLiteral("larger than 1 MiB");
    }
    bytes.truncate(used);
    ::close(fd);
    if (!why.isEmpty()) {
        file.m_state = State::Unreadable;
        file.m_why = why;
        return file;
    }
    file.m_state = State::Read;
    file.m_bytes = bytes;
    file.parse();
    return file;
}

QList<QByteArray> ConfFile::lines() const {
    QList<QByteArray> lines;
    qsizetype start = 0;
    while (start < m_bytes.size()) {
        qsizetype end = m_bytes.indexOf('\n', start);
        end = end < 0 ? m_bytes.size() : end + 1;
        lines << m_bytes.mid(start, end - start);
        start = end;
    }
    return lines;
}

void ConfFile::parse() {
    m_entries.clear();
    m_bad.clear();
    QString section;
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QByteArrayView all(m_bytes);
    int number = 0;
    for (qsizetype start = 0; start < all.size(); ++number) {
        qsizetype end = all.indexOf('\n', start);
        end = end < 0 ? all.size() : end + 1;
        QByteArrayView raw = all.sliced(start, end - start);
        start = end;
        if (raw.endsWith('\n'))
            raw.chop(1);
        if (raw.endsWith('\r'))
            raw.chop(1);
        if (number == 0 && raw.startsWith(kBom))
            raw = raw.sliced(kBom.size());
        utf8.resetState();
        const QString line = QString(utf8.decode(raw)).trimmed();
        auto bad = [&](const char* why) {
            m_bad.append({section, line, number + 1, QString::fromLatin1(why)});
        };
        if (utf8.hasError()) {
            bad("not valid UTF-8");
        } else if (line.isEmpty() || line.startsWith(QLatin1Char('#')) ||
                   line.startsWith(QLatin1Char(';'))) {
            continue;
        } else if (line.startsWith(QLatin1Char('['))) {
            if (line.endsWith(QLatin1Char(']')))
                section =
                    QStringView(line).sliced(1, line.size() - 2).trimmed().toString().toLower();
            else
                bad("a section name without its closing ']'");
        } else if (const qsizetype eq = line.indexOf(QLatin1Char('=')); eq < 0) {
            bad("not a setting (name=value), a [section] or a comment");
        } else if (const QStringView key = QStringView(line).first(eq).trimmed(); key.isEmpty()) {
            bad("nothing before '='");
        } else {
            QStringView value = QStringView(line).sliced(eq + 1).trimmed();
            if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"'))
                value = value.sliced(1, value.size() - 2);
            m_entries.append({section, key.toString(), value.toString(), number + 1});
        }
    }
}

void ConfFile::set(const QString& section, const QString& key, const QString& value) {
    QList<QByteArray> all = lines();
    const QByteArray eol = !all.isEmpty() && all.first().endsWith("\r\n") ? "\r\n" : "\n";
    const bool quote = value != value.trimmed() || value.startsWith(QLatin1Char('"'));
    auto lineFor = [&](const QString& name) -> QByteArray {
        const QString shown = quote ? QLatin1Char('"') + value + QLatin1Char('"') : value;
        return (name + QLatin1Char('=') + shown).toUtf8() + eol;
    };
    const QString wanted = section.toLower();
    int replace = 0; // the last line that sets the key
    int after = 0;   // the last line of the section: its header or an entry in it
    for (const Entry& e : m_entries) {
        if (e.section != wanted)
            continue;
        after = e.line;
        if (e.key.compare(key, Qt::CaseInsensitive) == 0)
            replace = e.line;
    }
    if (replace > 0) {
        const Entry& e = *std::find_if(m_entries.cbegin(), m_entries.cend(),
                                       [&](const Entry& x) { return x.line == replace; });
        const QByteArray old = all[replace - 1];
        const QByteArray ending = old.endsWith("\r\n") ? "\r\n" : old.endsWith('\n') ? "\n" : "";
        all[replace - 1] = body(lineFor(e.key)) + ending;
        if (replace == 1 && old.startsWith(kBom))
            all[0].prepend(kBom);
    } else {
        if (after == 0) { // the header of the section, if it has no entry yet
            for (qsizetype i = 0; i < all.size(); ++i) {
                QByteArray raw = body(all[i]).trimmed();
                if (i == 0 && raw.startsWith(kBom))
                    raw.remove(0, kBom.size());
                if (raw.startsWith('[') && raw.endsWith(']') &&
                    QString::fromUtf8(raw.mid(1, raw.size() - 2)).trimmed().toLower() == wanted)
                    after = int(i) + 1;
            }
        }
        QByteArray added = lineFor(key);
        if (after == 0) {
            added.prepend(section.toUtf8().prepend('[') + ']' + eol);
            after = int(all.size());
        }
        if (after > 0 && !all[after - 1].endsWith('\n'))
            all[after - 1].append(eol);
        all.insert(after, added);
    }
    m_bytes = all.join();
    parse();
}

void ConfFile::remove(const QString& section, const QString& key) {
    QList<QByteArray> all = lines();
    for (auto e = m_entries.crbegin(); e != m_entries.crend(); ++e) {
        if (e->section == section.toLower() && e->key.compare(key, Qt::CaseInsensitive) == 0) {
            const bool bom = e->line == 1 && all.first().startsWith(kBom);
            all.removeAt(e->line - 1);
            if (bom && all.isEmpty())
                all.append(kBom);
            else if (bom)
                all[0].prepend(kBom);
        }
    }
    m_bytes = all.join();
    parse();
}

namespace {

// Whether the kernel follows the symbolic link `link` (lstat `info`) for this process: not in
// a sticky folder that everyone may write to, unless the link is this user's or the folder
// owner's (fs.protected_symlinks).
bool followable(const QByteArray& link, const struct stat& info) {
    const qsizetype slash = link.lastIndexOf('/');
    const QByteArray folder = slash < 0    ? QByteArray(".")
                              : slash == 0 ? QByteArray("/")
                                           : link.first(slash);
    struct stat dir {};
    if (::stat(folder.constData(), &dir) != 0)
        return false;
    const bool shared = (dir.st_mode & S_ISVTX) && (dir.st_mode & S_IWOTH);
    return !shared || info.st_uid == ::geteuid() || info.st_uid == dir.st_uid;
}

QString ownerOf(uid_t uid) {
    const QString name = userName(uid);
    return name.isEmpty() ? QStringLiteral("user %1").arg(uid)
                          : QStringLiteral("%1 (user %2)").arg(name).arg(uid);
}

// A temporary file left by a save that was killed between naming it and renaming it:
// ".<name>.XXXXXX" beside the file, this user's, and older than any save takes.
void removeStaleTemporaries(const QString& folder, const QString& name) {
    const QByteArray prefix = QFile::encodeName(QStringLiteral(".") + name) + '.';
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return;
    const time_t now = ::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArrayView entryName(entry->d_name);
        struct stat info {};
        if (entryName.size() == prefix.size() + 6 && entryName.startsWith(prefix) &&
            ::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && info.st_uid == ::geteuid() && now - info.st_mtime > 60)
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

// Writes `bytes` to a new file in `folder` and gives it the name `temporary` (a mkostemp
// template, filled in) only once it holds them all (and, with `flush`, they are on disk), so
// that a kill leaves no named part behind. False with errno on failure, nothing named left.
bool writeTemporary(const QByteArray& folder, QByteArray& temporary, const QByteArray& bytes,
                    mode_t mode, bool flush) {
    int fd = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    const bool unnamed = fd >= 0;
    if (!unnamed)
        fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, mode) == 0;
    for (qsizetype done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += ok ? n : 0;
    }
    ok = ok && (!flush || ::fsync(fd) == 0);
    if (ok && unnamed) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        static const char kLetters[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        quint64 state = quint64(::getpid()) * 0x9E3779B97F4A7C15ULL ^ quint64(now.tv_nsec) ^
                        quint64(now.tv_sec);
        for (int tries = 0; tries < 100; ++tries) {
            QByteArray name = temporary; // the template's XXXXXX, filled in
            for (qsizetype i = name.size() - 6; i < name.size(); ++i) {
                state = state * 6364136223846793005ULL + 1442695040888963407ULL;
                name[i] = kLetters[(state >> 33) % 62];
            }
            if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, name.constData(),
                         AT_SYMLINK_FOLLOW) == 0) {
                temporary = name;
                break;
            }
            ok = errno == EEXIST;
            if (!ok)
                break;
        }
    }
    const int err = errno;
    ok = (::close(fd) == 0) && ok;
    if (!ok && !unnamed)
        ::unlink(temporary.constData());
    errno = err;
    return ok;
}

} // namespace

ConfFile::SaveError ConfFile::save(bool flush) const {
    if (m_state == State::Unreadable)
        return {m_path,
                QStringLiteral("it could not be read (%1), so it is kept as it is").arg(m_why)};
    // Follow symbolic links to the file they end at, which is what gets replaced, but only
    // where the kernel itself would follow them.
    QString target = m_path;
    bool viaLink = false;
    for (int hops = 0;; ++hops) {
        if (hops == 40) // as the kernel's own limit on nested links
            return {m_path, QStringLiteral("a loop of symbolic links")};
        struct stat info {};
        const QByteArray native = QFile::encodeName(target);
        if (::lstat(native.constData(), &info) != 0) {
            if (errno != ENOENT)
                return {target, systemError(errno)};
            if (viaLink)
                return {m_path, QStringLiteral("a symbolic link to nothing, which is not "
                                               "followed to make a file")};
            break; // a new file
        }
        if (S_ISLNK(info.st_mode)) {
            if (!followable(native, info))
                return {target, QStringLiteral("a symbolic link of %1 in a folder that everyone "
                                               "may write to; it is not followed")
                                    .arg(ownerOf(info.st_uid))};
            const QString next = QFile::symLinkTarget(target);
            if (next.isEmpty())
                return {target, QStringLiteral("a symbolic link that cannot be followed")};
            target = next;
            viaLink = true;
            continue;
        }
        if (!S_ISREG(info.st_mode))
            return {target, fileKind(info.st_mode)};
        break;
    }
    const QFileInfo where(target);
    if (!viaLink && !QDir().mkpath(where.absolutePath()))
        return {where.absolutePath(), QStringLiteral("the folder cannot be made")};
    const QByteArray finalPath = QFile::encodeName(where.absoluteFilePath());
    removeStaleTemporaries(where.absolutePath(), where.fileName());
    QByteArray temporary =
        QFile::encodeName(where.absolutePath() + QStringLiteral("/.") + where.fileName()) +
        ".XXXXXX";
    struct stat old {};
    const mode_t mode = ::stat(finalPath.constData(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    if (!writeTemporary(QFile::encodeName(where.absolutePath()), temporary, m_bytes, mode, flush))
        return {target, systemError(errno)};
    if (::rename(temporary.constData(), finalPath.constData()) != 0) {
        const int why = errno;
        ::unlink(temporary.constData());
        return {target, systemError(why)};
    }
    return {};
}
