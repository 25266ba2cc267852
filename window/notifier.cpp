#include "window/notifier.h"

#include <QMessageBox>
#include <QPushButton>

void BoxNotifier::confirm(QWidget* parent, const QString& text, const QString& description) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("VORQ"), text, QMessageBox::Ok, parent);
    box.setAccessibleDescription(description);
    box.exec();
}

void BoxNotifier::warn(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("VORQ"), text, QMessageBox::Ok, parent);
    box.exec();
}

bool BoxNotifier::ask(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("VORQ"), text, QMessageBox::NoButton,
                    parent);
    QPushButton* keep = box.addButton(QStringLiteral("Keep"), QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(keep);
    box.exec();
    return box.clickedButton() == keep;
}
