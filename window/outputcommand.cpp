#include "window/outputcommand.h"

#include "line/serialport.h"
#include "protocol/frame.h"
#include "window/notifier.h"

#include <QCoreApplication>

LinkResult OutputCommand(SerialPort& port, QString Cmd, QWidget* parent, Notifier& notifier) {
    const frame::Built built = frame::build(Cmd);
    if (!built) {
        LinkResult refused = LinkResult::failure(LinkResult::Cause::RefusedText);
        refused.refusals = built.refusals;
        return refused;
    }
    if (LinkResult written = port.WriteBytes(built.bytes); !written)
        return written;

    const int scroll = int(built.bytes.size()) - frame::kFrameOverhead;
    const QString where = port.portName().isEmpty()
                              ? port.devicePath()
                              : QStringLiteral("%1, %2").arg(port.portName(), port.devicePath());
    notifier.confirm(parent, kWriteConfirmation,
                     QStringLiteral("Code %1 and %2 of scroll data written to %3")
                         .arg(Cmd.at(frame::kHeaderCharacters - 1))
                         .arg(scroll == 1 ? QStringLiteral("1 character")
                                          : QStringLiteral("%1 characters").arg(scroll))
                         .arg(where));
    QCoreApplication::processEvents();
    return LinkResult::success();
}
