#include "link/outputcommand.h"

#include "link/frame.h"
#include "link/serialport.h"

#include <QApplication>
#include <QMessageBox>

LinkResult OutputCommand(SerialPort& port, QString Cmd, QWidget* parent) {
    const auto bytes = frame::build(Cmd);
    if (!bytes)
        return LinkResult::failure(
            QStringLiteral("the text holds characters that cannot be sent:\n") +
            frame::describe(frame::refusedCharacters(Cmd)));
    if (LinkResult written = port.WriteBytes(*bytes); !written)
        return written;

    QMessageBox confirmation(QMessageBox::NoIcon, QStringLiteral("VORQ"), kWriteConfirmation,
                             QMessageBox::Ok, parent);
    confirmation.exec();
    QCoreApplication::processEvents();
    return LinkResult::success();
}
