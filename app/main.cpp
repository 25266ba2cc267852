#include "window/vorq.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VORQ"));

    VORQ window;
    if (!window.started()) {
        const QString message = window.startupFailure();
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        QMessageBox::critical(nullptr, QStringLiteral("VORQ"), message);
        return 1;
    }
    window.show();
    return QApplication::exec();
}
