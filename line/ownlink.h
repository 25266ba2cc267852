#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// A symbolic link that this process makes to its line (vorq-display's pseudo-terminal), and
// removes when it ends: the destructor removes it only while it is still the very one that
// was made (same target, same inode), so that a path that someone replaced meanwhile is left
// alone. The folder it lies in is held open, so that a parent renamed or swapped meanwhile
// cannot redirect the removal.
class OwnLink {
public:
    enum class Cause {
        None,
        System,  // the system refused: errno
        Exists,  // the path exists and is not a leftover link to a gone pseudo-terminal
        Changed, // the path changed while it was replaced, or right after it was made
        TooLong, // the path or the target is too long
    };
    struct Result {
        Cause cause = Cause::None;
        int error = 0; // errno, for System
        bool ok() const { return cause == Cause::None; }
    };

    OwnLink() = default;
    ~OwnLink() { remove(); }
    OwnLink(const OwnLink&) = delete;
    OwnLink& operator=(const OwnLink&) = delete;

    // Makes the link `at` to `target`. It never replaces an existing path, except a dangling
    // link into /dev/pts (one left by an earlier run), and that only by an atomic exchange
    // that is undone if the path changed meanwhile; a link that already points at `target`
    // (this process's own pseudo-terminal, its number reused) is adopted as it is.
    Result make(const QString& at, const QString& target);
    // Removes the link now, if it is still the one made.
    void remove();

private:
    Result fail(Cause cause, int error = 0);

    int m_dir = -1;
    QByteArray m_name;
    QByteArray m_target;
    dev_t m_dev = 0;
    ino_t m_ino = 0;
};
