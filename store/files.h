#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <sys/types.h>

// Facts about files and devices that the port, the port map, the settings and the write
// record share.

// What a file of mode `mode` (st_mode) is, for a message: "a FIFO", "a directory", "a device",
// "a symbolic link", "a socket", "a regular file".
QString fileKind(mode_t mode);

// The links in `folder` (/dev/serial/by-id), as full paths, by the canonical path of the device
// that each points at (the first by name where several do); all as the system's bytes. Links that
// point at nothing are left out.
QHash<QByteArray, QByteArray>
serialByIdLinks(const QByteArray& folder = QByteArrayLiteral("/dev/serial/by-id"));

// `native` (a path as the system's bytes) as text that keeps every byte: valid UTF-8 as it is,
// every other byte as "\xNN", and a backslash as "\\". Two different paths never give one
// text.
QString losslessText(const QByteArray& native);

// The system's words for errno value `err` ("No such file or directory").
QString systemError(int err);

// The login name of `uid` ("nobody"), or empty when it has none.
QString userName(uid_t uid);

// The name that /proc/<pid>/comm gives `pid` now, or empty.
QString commandOf(qint64 pid);
