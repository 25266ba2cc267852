// The least a program of vorq-write's kind can do: open the port with QSerialPort, set 9600
// 8N1, write one configuration frame, wait until it has left, and exit. vorq-write is timed
// against it.
//
//   floor_sender DEVICE
#include <QCoreApplication>
#include <QSerialPort>

#include <termios.h>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 64;
    QSerialPort port(QString::fromLocal8Bit(argv[1]));
    port.setBaudRate(9600);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::WriteOnly))
        return 69;
    const QByteArray frame("\x1Bkq5172@3HELLO\xFF", 15);
    if (port.write(frame) != frame.size() || !port.waitForBytesWritten(2000))
        return 74;
    ::tcdrain(int(port.handle()));
    return 0;
}
