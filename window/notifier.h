#pragma once

#include <QString>

class QWidget;

// How the window tells the operator what happened. The window reports every outcome through
// one Notifier: the program's shows modal message boxes; a test passes its own and observes
// each report as it is made.
class Notifier {
public:
    virtual ~Notifier() = default;
    // A frame has left the port. `text` is shown as it is; `description` says what was
    // written and where, for screen readers. Returns once the operator has closed it.
    virtual void confirm(QWidget* parent, const QString& text, const QString& description) = 0;
    // Something went wrong or was refused; `text` is shown as it is. Returns once the
    // operator has closed it.
    virtual void warn(QWidget* parent, const QString& text) = 0;
    // Something may be a mistake; `text` says what and asks whether to go on. True to go on
    // (the default answer), false to leave things as they were.
    virtual bool ask(QWidget* parent, const QString& text) = 0;
};

// Modal message boxes titled "VORQ" with one OK button: no icon for a confirmation, the
// warning icon for a warning; a question has "Keep" (the default) and "Cancel".
class BoxNotifier : public Notifier {
public:
    void confirm(QWidget* parent, const QString& text, const QString& description) override;
    void warn(QWidget* parent, const QString& text) override;
    bool ask(QWidget* parent, const QString& text) override;
};
