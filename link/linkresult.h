#pragma once

#include <QString>

// What every operation of the display link answers: success, or failure with a reason in
// plain words. The link shows and prints nothing: the window or the tool that called it
// decides whether to show the reason, print it, or ignore it.
struct LinkResult {
    // What kind of failure it was, for callers that act on the kind (such as exit statuses).
    // Settings: the settings file forbids the port (a COM entry that cannot be used, or a
    // file that cannot be read); the port was not opened.
    enum class Cause { None, Missing, Busy, Permission, Io, Invalid, Settings };

    bool ok = true;
    QString reason; // empty on success
    Cause cause = Cause::None;

    static LinkResult success() { return {}; }
    static LinkResult failure(const QString& why, Cause cause = Cause::Io) {
        return {false, why, cause};
    }
    explicit operator bool() const { return ok; }
};
