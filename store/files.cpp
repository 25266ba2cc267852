#include "store/files.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>

QString fileKind(mode_t mode) {
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISDIR(mode))
        return QStringLiteral("a directory");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISLNK(mode))
        return QStringLiteral("a symbolic link");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISREG(mode))
        return QStringLiteral("a regular file");
    return QStringLiteral("not a regular file");
}

QHash<QByteArray, QByteArray> serialByIdLinks(const QByteArray& folder) {
    QHash<QByteArray, QByteArray> links;
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return links;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray link = folder + '/' + entry->d_name;
        struct stat info {};
        char target[PATH_MAX];
        if (::lstat(link.constData(), &info) == 0 && S_ISLNK(info.st_mode) &&
            ::realpath(link.constData(), target)) {
            QByteArray& named = links[QByteArray(target)];
            if (named.isEmpty() || link < named) // the first by name, whatever readdir's order
                named = link;
        }
    }
    ::closedir(dir);
    return links;
}

QString losslessText(const QByteArray& native) {
    if (std::all_of(native.begin(), native.end(),
                    [](char c) { return uchar(c) < 0x80 && c != '\\'; }))
        return QString::fromLatin1(native);
    QString text;
    for (qsizetype i = 0; i < native.size();) {
        const uchar lead = uchar(native.at(i));
        const qsizetype length = lead < 0x80             ? 1
                                 : (lead & 0xE0) == 0xC0 ? 2
                                 : (lead & 0xF0) == 0xE0 ? 3
                                 : (lead & 0xF8) == 0xF0 ? 4
                                                         : 0;
        if (lead != '\\' && length > 0 && i + length <= native.size()) {
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString character = utf8.decode(QByteArrayView(native).sliced(i, length));
            if (!utf8.hasError()) {
                text += character;
                i += length;
                continue;
            }
        }
        text += lead == '\\' ? QStringLiteral("\\\\")
                             : QStringLiteral("\\x") +
                                   QString::number(lead, 16).toUpper().rightJustified(2, u'0');
        ++i;
    }
    return text;
}

QString commandOf(qint64 pid) {
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    return comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.read(64).trimmed())
                                          : QString();
}

QString systemError(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

QString userName(uid_t uid) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) != 0 || !found)
        return {};
    return QString::fromLocal8Bit(found->pw_name);
}
