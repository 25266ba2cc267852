#pragma once

#include "support.h"
#include "window/notifier.h"
#include "window/vorq.h"

#include <QList>
#include <QString>

#include <memory>

// Every report the window made, in order, instead of message boxes.
class RecordingNotifier : public Notifier {
public:
    struct Report {
        bool confirmation = false; // a confirmation, or a warning or a question
        bool question = false;
        QString text;
        QString description; // for screen readers, of a confirmation
    };
    QList<Report> reports;
    bool answer = true; // to every question

    void confirm(QWidget*, const QString& text, const QString& description) override {
        reports.append({true, false, text, description});
    }
    void warn(QWidget*, const QString& text) override { reports.append({false, false, text, {}}); }
    bool ask(QWidget*, const QString& text) override {
        reports.append({false, true, text, {}});
        return answer;
    }
};

namespace detail {
// What the window under test owns before the window itself is made.
struct WindowParts {
    std::unique_ptr<PortMap> ownMap;
    RecordingNotifier notes;
};
} // namespace detail

// The window as the tests drive it: its ports from a resolver or a map, every report recorded
// in `notes`, and its controls found by their layout names.
class VORQUnderTest : private detail::WindowParts, public VORQ {
public:
    explicit VORQUnderTest(SerialPort::Resolver resolver);
    VORQUnderTest(PortMap& map, DeviceLister lister);

    using detail::WindowParts::notes;

    // The control called `name`, with `index` in its control array (-1 for none).
    QWidget* control(const QString& name, int index = -1) const;
    template <typename T> T* control(const QString& name, int index = -1) const {
        return qobject_cast<T*>(control(name, index));
    }
    // The start-up handlers and the show, in the order they ran.
    QStringList startupTrace() const;
};
