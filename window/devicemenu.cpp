#include "window/devicemenu.h"

#include <QInputDialog>
#include <QMenu>
#include <QStringList>

QMenu* deviceMenu(QWidget* parent, int n, const PortMap& map, const DeviceLister& lister,
                  const std::function<void(const QString&)>& chosen) {
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("COM%1").arg(n));
    const QString current = map.device(n);
    const QList<SerialDevice> devices = lister ? lister() : QList<SerialDevice>();
    menu->addSection(QStringLiteral("Device for COM%1").arg(n));
    bool currentListed = false;
    for (const SerialDevice& d : devices) {
        QStringList about;
        for (const QString& part : {d.description, d.manufacturer})
            if (!part.isEmpty())
                about << part;
        QString text = d.path;
        if (!about.isEmpty())
            text += QStringLiteral(" \u2014 ") + about.join(QStringLiteral(", "));
        if (!d.byId.isEmpty())
            text += QStringLiteral(" (%1)").arg(d.byId);
        QAction* a = menu->addAction(text);
        a->setCheckable(true);
        a->setChecked(map.isMapped(n) && (current == d.path || current == d.byId));
        currentListed = currentListed || a->isChecked();
        const QString device = d.byId.isEmpty() ? d.path : d.byId;
        QObject::connect(a, &QAction::triggered, menu, [chosen, device] { chosen(device); });
    }
    if (map.isMapped(n) && !currentListed) { // mapped to a device that is not here now
        QAction* a = menu->addAction(QStringLiteral("%1 (not present)").arg(current));
        a->setCheckable(true);
        a->setChecked(true);
        QObject::connect(a, &QAction::triggered, menu, [chosen, current] { chosen(current); });
    } else if (devices.isEmpty()) {
        menu->addAction(QStringLiteral("No serial device found"))->setEnabled(false);
    }
    menu->addSeparator();
    QAction* standard = menu->addAction(QStringLiteral("Default (%1)").arg(map.defaultDevice(n)));
    standard->setCheckable(true);
    standard->setChecked(!map.isMapped(n));
    QObject::connect(standard, &QAction::triggered, menu, [chosen] { chosen(QString()); });
    QAction* other = menu->addAction(QStringLiteral("Other device\u2026"));
    QObject::connect(other, &QAction::triggered, menu, [parent, n, current, chosen] {
        bool ok = false;
        const QString path = QInputDialog::getText(parent, QStringLiteral("VORQ"),
                                                   QStringLiteral("Device for COM%1:").arg(n),
                                                   QLineEdit::Normal, current, &ok)
                                 .trimmed();
        if (ok && !path.isEmpty())
            chosen(path);
    });
    return menu;
}
