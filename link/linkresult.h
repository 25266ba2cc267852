#pragma once

#include <QString>

// What every operation of the display link answers: success, or failure with a reason in
// plain words that the window may show to the operator. The link never shows it itself.
struct LinkResult {
    bool ok = true;
    QString reason; // empty on success

    static LinkResult success() { return {}; }
    static LinkResult failure(const QString& why) { return {false, why}; }
    explicit operator bool() const { return ok; }
};
