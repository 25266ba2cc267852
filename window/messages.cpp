#include "window/messages.h"

#include "protocol/escape.h"

namespace {

using Cause = LinkResult::Cause;
using Hold = LinkResult::Hold;
using Stage = LinkResult::Stage;

// What happened, and what to do about it.
struct Words {
    QString what;
    QString hint;
};

Words busy(const LinkResult& r) {
    const QString remove = QStringLiteral("Remove it if no program uses the port.");
    if (r.hold == Hold::NotALock)
        return {QStringLiteral("%1 is not a lock file (%2).").arg(shown(r.lockFile), r.error),
                remove};
    if (r.hold == Hold::GarbledLock)
        return {
            QStringLiteral("%1 names no process (it is empty or garbled).").arg(shown(r.lockFile)),
            remove};
    QString by = r.hold == Hold::Exclusive ? QStringLiteral("a program that opened it in "
                                                            "exclusive mode")
                 : r.holder.isEmpty()      ? QStringLiteral("another program")
                                           : shown(r.holder);
    if (r.hold == Hold::Lock)
        by += QStringLiteral(", lock ") + shown(r.lockFile);
    if (!r.lockNames.isEmpty())
        by += QStringLiteral(", although the lock names ") + shown(r.lockNames);
    return {QStringLiteral("%1 is busy: held by %2.").arg(r.where(), by),
            QStringLiteral("Another program holds the port; close that program and try again.")};
}

Words settings(const LinkResult& r) {
    if (r.file.isEmpty())
        return {QStringLiteral("\"%1\" cannot be a device: %2.").arg(shown(r.entry), r.error),
                QStringLiteral("Give an absolute path, such as /dev/ttyUSB0.")};
    const QString fix =
        QStringLiteral("Correct the settings file; VORQ does not fall back to another device.");
    if (r.line == 0)
        return {QStringLiteral("COM%1 is not used: %2 cannot be read (%3).")
                    .arg(r.port)
                    .arg(shown(r.file), r.error),
                fix};
    return {QStringLiteral("COM%1 is not used: %2:%3: %4: %5.")
                .arg(r.port)
                .arg(shown(r.file))
                .arg(r.line)
                .arg(shown(r.entry), r.error),
            fix};
}

Words words(const LinkResult& r) {
    const QString error = r.error.isEmpty() ? QString() : QStringLiteral(": ") + r.error;
    switch (r.cause) {
    case Cause::None:
        break;
    case Cause::Missing:
        return {QStringLiteral("%1 cannot be opened%2.").arg(r.where(), error),
                QStringLiteral("There is no such port on this machine now; right-click the port "
                               "to choose another device.")};
    case Cause::Permission:
        return {QStringLiteral("%1 cannot be opened%2.").arg(r.where(), error),
                QStringLiteral("Add your user to the dialout group (sudo usermod -aG dialout "
                               "$USER), then log out and in again.")};
    case Cause::Busy:
        return busy(r);
    case Cause::NotSerial:
        return {QStringLiteral("%1 is not a serial line.").arg(r.where()), {}};
    case Cause::Timeout:
        return {QStringLiteral("%1: %2 bytes had not left the port after %3 ms; they were "
                               "discarded.")
                    .arg(r.where())
                    .arg(r.bytes)
                    .arg(r.boundMs),
                {}};
    case Cause::RefusedText:
        return {QStringLiteral("The scroll data cannot be sent as it is:\n") +
                    frame::describe(r.refusals),
                QStringLiteral("Correct the text and write again.")};
    case Cause::Settings:
        return settings(r);
    case Cause::LineSettings:
        return {
            QStringLiteral("\"%1\" is not a line setting such as 9600,n,8,1.").arg(shown(r.entry)),
            {}};
    case Cause::Io:
        if (r.stage == Stage::Configure)
            return {QStringLiteral("%1 cannot be set on %2%3.").arg(r.entry, r.where(), error), {}};
        if (r.stage == Stage::Open)
            return {QStringLiteral("%1 cannot be opened%2.").arg(r.where(), error),
                    r.closedByFailure ? QStringLiteral("The adapter may have been unplugged; plug "
                                                       "it in and write again.")
                                      : QString()};
        return {QStringLiteral("%1: the write failed%2.").arg(r.where(), error),
                QStringLiteral("The adapter may have been unplugged; plug it in and write "
                               "again.")};
    }
    return {};
}

} // namespace

QString describe(const LinkResult& r) {
    if (r.ok())
        return {};
    Words w = words(r);
    if (r.stage == Stage::Closed)
        w.what = QStringLiteral("The port is not open; nothing was sent.") +
                 (r.cause == Cause::Io && r.error.isEmpty() && !r.closedByFailure
                      ? QString()
                      : QStringLiteral("\n") + w.what);
    if (r.closedByFailure)
        w.what += QStringLiteral("\n%1 was closed: the device failed or went away.").arg(r.where());
    return w.hint.isEmpty() ? w.what : w.what + QLatin1Char('\n') + w.hint;
}
