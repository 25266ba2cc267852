#include "link/conffile.h"

#include "link/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <cerrno>
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
    QByteArray bytes;
    while (why.isEmpty()) {
        char buffer[65536];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            why = systemError(errno);
        else if (n == 0)
            break;
        else if (bytes.size() + n > kMaxBytes)
            why = QStringLiteral("larger than 1 MiB");
        else
            bytes.append(buffer, n);
    }
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

ConfFile::SaveError ConfFile::save(bool flush) const {
    // Follow symbolic links to the file they end at, which is what gets replaced.
    QString target = m_path;
    for (int hops = 0;; ++hops) {
        if (hops == 40) // as the kernel's own limit on nested links
            return {m_path, QStringLiteral("a loop of symbolic links")};
        struct stat info {};
        const QByteArray native = QFile::encodeName(target);
        if (::lstat(native.constData(), &info) != 0) {
            if (errno != ENOENT)
                return {target, systemError(errno)};
            break; // a new file
        }
        if (S_ISLNK(info.st_mode)) {
            const QString next = QFile::symLinkTarget(target);
            if (next.isEmpty())
                return {target, QStringLiteral("a symbolic link that cannot be followed")};
            target = next;
            continue;
        }
        if (!S_ISREG(info.st_mode))
            return {target, fileKind(info.st_mode)};
        break;
    }
    const QFileInfo where(target);
    if (!QDir().mkpath(where.absolutePath()))
        return {where.absolutePath(), QStringLiteral("the folder cannot be made")};
    const QByteArray finalPath = QFile::encodeName(where.absoluteFilePath());
    QByteArray temporary =
        QFile::encodeName(where.absolutePath() + QStringLiteral("/.") + where.fileName()) +
        ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return {where.absolutePath(), systemError(errno)};
    struct stat old {};
    const mode_t mode = ::stat(finalPath.constData(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    bool ok = ::fchmod(fd, mode) == 0;
    for (qsizetype done = 0; ok && done < m_bytes.size();) {
        const ssize_t n = ::write(fd, m_bytes.constData() + done, size_t(m_bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += ok ? n : 0;
    }
    const int err = errno;
    ok = ok && (!flush || ::fsync(fd) == 0);
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(temporary.constData(), finalPath.constData()) != 0) {
        const int why = ok ? errno : err;
        ::unlink(temporary.constData());
        return {target, systemError(why)};
    }
    return {};
}
