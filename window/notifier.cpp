#include "window/notifier.h"

#include <QMessageBox>

void BoxNotifier::confirm(QWidget* parent, const QString& text, const QString& description) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("VORQ"), text, QMessageBox::Ok, parent);
    box.setAccessibleDescription(description);
    box.exec();
}

void BoxNotifier::warn(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("VORQ"), text, QMessageBox::Ok, parent);
    box.exec();
}
