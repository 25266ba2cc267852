#include "window/outputcommand.h"

#include "link/frame.h"
#include "link/serialport.h"

#include <QApplication>
#include <QMessageBox>

LinkResult OutputCommand(SerialPort& port, QString Cmd, QWidget* parent) {
    const frame::Built built = frame::build(Cmd);
    if (!built)
        return LinkResult::failure(QStringLiteral("the text cannot be sent:\n") +
                                       frame::describe(built.refusals),
                                   LinkResult::Cause::Invalid);
    if (LinkResult written = port.WriteBytes(built.bytes); !written)
        return written;

    QMessageBox confirmation(QMessageBox::NoIcon, QStringLiteral("VORQ"), kWriteConfirmation,
                             QMessageBox::Ok, parent);
    confirmation.exec();
    QCoreApplication::processEvents();
    return LinkResult::success();
}
