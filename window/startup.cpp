#include "window/startup.h"

#include "window/devicemenu.h"
#include "window/messages.h"

#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include <optional>

namespace {

QString cannotStart(const LinkResult& why) {
    return QStringLiteral("VORQ cannot start. ") + describe(why);
}

} // namespace

std::unique_ptr<VORQ> startVorq(PortMap& map, const DeviceLister& lister,
                                const std::function<void(const QString&)>& log) {
    auto window = std::make_unique<VORQ>(map, lister);
    if (window->started())
        return window;
    QString message = cannotStart(window->startupFailure());
    window.reset(); // releases whatever it held before the next try
    log(message);
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
        if (const LinkResult mapped = map.map(1, *device, false); !mapped) {
            message = QStringLiteral("COM1 was not changed.\n") + describe(mapped);
            continue;
        }
        window = std::make_unique<VORQ>(map, lister);
        if (window->started()) {
            if (const LinkResult saved = map.map(1, *device); !saved)
                QMessageBox::warning(nullptr, QStringLiteral("VORQ"),
                                     QStringLiteral("The device of COM1 could not be saved in "
                                                    "%1 (%2); it applies until VORQ ends.")
                                         .arg(saved.file, saved.error));
            return window;
        }
        // Back to what COM1 was; that mapping was valid, so this cannot fail.
        static_cast<void>(map.map(1, before, false));
        message = cannotStart(window->startupFailure());
        window.reset();
        log(message);
    }
}
