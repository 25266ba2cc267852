#include "tools/cli.h"

namespace cli {

namespace {

using Cause = LinkResult::Cause;
using Hold = LinkResult::Hold;
using Stage = LinkResult::Stage;

QString where(const LinkResult& r) {
    return portLabel(r.port, r.device);
}

QString busy(const LinkResult& r) {
    const QString lock = shown(r.lockFile);
    switch (r.hold) {
    case Hold::NotALock:
        return QStringLiteral("%1 is not a lock file (%2); remove it if no program uses the port")
            .arg(lock, r.error);
    case Hold::GarbledLock:
        return QStringLiteral("%1 names no process (it is empty or garbled); remove it if no "
                              "program uses the port")
            .arg(lock);
    case Hold::Lock:
    case Hold::Flock:
    case Hold::Exclusive:
    case Hold::Unknown:
        break;
    }
    QString by = r.hold == Hold::Exclusive ? QStringLiteral("a program that opened it in "
                                                            "exclusive mode")
                 : r.holder.isEmpty()      ? QStringLiteral("another program")
                                           : shown(r.holder);
    if (r.hold == Hold::Lock)
        by += QStringLiteral(", lock ") + lock;
    if (!r.lockNames.isEmpty())
        by += QStringLiteral(", although the lock names ") + shown(r.lockNames);
    return QStringLiteral("Device or resource busy: held by %1. Another program holds the "
                          "port; close that program and try again")
        .arg(by);
}

QString settings(const LinkResult& r) {
    if (r.file.isEmpty())
        return QStringLiteral("\"%1\" cannot be a device: %2").arg(shown(r.entry), r.error);
    const QString at =
        r.line > 0 ? QStringLiteral("%1:%2").arg(shown(r.file)).arg(r.line) : shown(r.file);
    const QString what = r.line > 0 ? QStringLiteral("%1: %2").arg(shown(r.entry), r.error)
                                    : QStringLiteral("the file cannot be read (%1)").arg(r.error);
    return QStringLiteral("COM%1 is not used: %2: %3. Correct the settings; VORQ does not fall "
                          "back to another device")
        .arg(r.port)
        .arg(at, what);
}

} // namespace

int exitStatus(LinkResult::Cause cause) {
    switch (cause) {
    case Cause::Missing:
    case Cause::Busy:
        return EX_UNAVAILABLE;
    case Cause::Permission:
        return EX_NOPERM;
    case Cause::RefusedText:
        return EX_DATAERR;
    case Cause::LineSettings:
        return EX_USAGE;
    case Cause::Settings:
        return EX_CONFIG;
    case Cause::None:
        return EX_OK;
    case Cause::NotSerial:
    case Cause::Io:
    case Cause::Timeout:
        break;
    }
    return EX_IOERR;
}

QString describe(const LinkResult& r) {
    const QString error = r.error.isEmpty() ? QString() : QStringLiteral(": ") + r.error;
    QString line;
    switch (r.cause) {
    case Cause::None:
        return {};
    case Cause::Missing:
        line = QStringLiteral("%1 cannot be opened%2. There is no such port on this machine")
                   .arg(where(r), error);
        break;
    case Cause::Permission:
        line = QStringLiteral("%1 cannot be opened%2. Add your user to the dialout group (sudo "
                              "usermod -aG dialout $USER), then log out and in again")
                   .arg(where(r), error);
        break;
    case Cause::Busy:
        line = QStringLiteral("%1 cannot be opened: %2").arg(where(r), busy(r));
        break;
    case Cause::NotSerial:
        line = QStringLiteral("%1 is not a serial line; nothing was sent").arg(where(r));
        break;
    case Cause::Timeout:
        line = QStringLiteral("%1: %2 bytes had not left the port after %3 ms; they were "
                              "discarded")
                   .arg(where(r))
                   .arg(r.bytes)
                   .arg(r.boundMs);
        break;
    case Cause::RefusedText:
        line = QStringLiteral("the scroll data cannot be sent: ") +
               frame::describe(r.refusals).replace(QLatin1Char('\n'), QStringLiteral("; "));
        break;
    case Cause::Settings:
        line = settings(r);
        break;
    case Cause::LineSettings:
        line =
            QStringLiteral("\"%1\" is not a line setting such as 9600,n,8,1").arg(shown(r.entry));
        break;
    case Cause::Io:
        line = r.stage == Stage::Configure
                   ? QStringLiteral("cannot set %1 on %2%3").arg(r.entry, where(r), error)
               : r.stage == Stage::Open
                   ? QStringLiteral("%1 cannot be opened%2").arg(where(r), error)
                   : QStringLiteral("%1: the write failed%2").arg(where(r), error);
        break;
    }
    if (r.closedByFailure)
        line += QStringLiteral("; %1 was closed: the device failed or went away").arg(where(r));
    return line + QLatin1Char('.');
}

} // namespace cli
