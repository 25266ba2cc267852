#pragma once

#include "store/conffile.h"

#include <QByteArray>
#include <QString>

#include <optional>

// What was last written to each display, so that a rollout can leave a display alone when it
// already holds the wanted frame.
//
// The record is a settings file (see ConfFile) with one section per device, named by
// keyFor(), and these keys:
//
//   [/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0]
//   speed=9600                        bits per second
//   code=3                            the code digit
//   text=HELLO                        the scroll data, UTF-8
//   frame=1B 6B 71 ... 4F FF          the bytes sent, as hex
//   time=2026-12-07T15:04:05Z         when, in UTC
//   program=vorq-write                which program wrote it
struct WrittenFrame {
    int speed = 0;
    QString code;
    QString text;
    QByteArray frame;
    QString time;    // ISO 8601, UTC
    QString program; // "vorq" or "vorq-write"
};

class WriteRecord {
public:
    // $XDG_STATE_HOME/vorq/written.conf, by default ~/.local/state/vorq/written.conf.
    static QString standardFile();

    // The present time as a record's `time`: UTC to the second, "2026-12-07T15:04:05Z".
    static QString timeNow();
    // `seconds` since 1970-01-01T00:00:00Z in the same form, for the years 1000 to 9999.
    static QString timeText(long long seconds);

    // The name under which `device` is recorded: its /dev/serial/by-id link where it has one
    // (it survives plugging the adapter into another socket), else its canonical path, else
    // the path as given; all without losing a byte (see losslessText). `byId` is the folder of
    // by-id links.
    static QString keyFor(const QString& device,
                          const QByteArray& byId = QByteArrayLiteral("/dev/serial/by-id"));

    explicit WriteRecord(QString file = standardFile()) : m_file(std::move(file)) {}

    // What was last written to the device recorded as `key`; nothing when that is unknown:
    // no record, a record that cannot be read, or a section that is incomplete or garbled.
    std::optional<WrittenFrame> find(const QString& key) const;

    // Records `written` for `key`, replacing what was recorded for it and changing no other
    // section; when the record shows that frame at that speed there already, it is left as
    // it is (its time stays the time the display got the frame). Atomic, and safe against other
    // programs saving at the same time: each save holds flock() on "<file>.lock" from its read to
    // its rename, waiting at most 3 s for it. Fails with the file and the reason (also when the
    // lock cannot be had), and then nothing changed. The file is not flushed to the disk:
    // after a power cut within seconds of a save, the record may show the device's frame before
    // that save.
    [[nodiscard]] ConfFile::SaveError save(const QString& key, const WrittenFrame& written) const;

private:
    QString m_file;
};
