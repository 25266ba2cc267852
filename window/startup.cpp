#include "window/startup.h"

#include "window/devicemenu.h"

#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>
#include <optional>

std::unique_ptr<VORQ> startVorq(PortMap& map, const DeviceLister& lister) {
    auto window = std::make_unique<VORQ>(map, lister);
    if (window->started())
        return window;
    QString message = window->startupFailure();
    window.reset(); // releases whatever it held before the next try
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    for (;;) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("VORQ"), message, QMessageBox::Ok);
        QPushButton* choose = box.addButton(kChooseDevice, QMessageBox::ActionRole);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        box.exec();
        if (box.clickedButton() != choose)
            return nullptr;
        std::optional<QString> device;
        const std::unique_ptr<QMenu> menu{
            deviceMenu(nullptr, 1, map, lister, [&](const QString& d) { device = d; })};
        menu->exec(box.geometry().center());
        if (!device)
            continue;
        const QString before = map.isMapped(1) ? map.device(1) : QString();
        map.map(1, *device, false);
        window = std::make_unique<VORQ>(map, lister);
        if (window->started()) {
            if (LinkResult saved = map.map(1, *device); !saved)
                QMessageBox::warning(
                    nullptr, QStringLiteral("VORQ"),
                    QStringLiteral("The device of COM1 could not be saved: %1").arg(saved.reason));
            return window;
        }
        map.map(1, before, false);
        message = window->startupFailure();
        window.reset();
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    }
}
