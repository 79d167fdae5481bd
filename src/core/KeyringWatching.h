#pragma once

#include <QObject>

namespace quillby {

// Tells when the system keyring may have become readable: its service appeared on the session
// bus, or one of its collections changed (as when it is unlocked). The configuration manager
// then reads a configuration it could not read again at once, instead of at the end of its
// next pause. Main thread only.
class KeyringWatching : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void keyringMayHaveChanged();
};

} // namespace quillby
