#pragma once

#include "platform/LoginItemManaging.h"

#include <QByteArray>
#include <QString>

namespace quillby {

// The login item as an XDG autostart entry: "quillby.desktop" in the "autostart" folder of the
// user's configuration home ($XDG_CONFIG_HOME, or ~/.config when that is unset, empty or not
// absolute). Registering writes the entry atomically (temporary file, fsync, rename, fsync of
// the folder) with the absolute path of the running program; unregistering removes it.
//
// An entry of that name that Quillby did not write (it lacks our marker key) belongs to
// someone else: it is never overwritten or removed, and it counts as not registered.
class LoginItemManager final : public LoginItemManaging {
public:
    static inline const QString kFileName = QStringLiteral("quillby.desktop");
    static inline const QString kMarkerKey = QStringLiteral("X-Quillby-LoginItem");
    // An entry is read only when it is (or links to) a regular file of at most this size.
    static constexpr qint64 kMaxEntryBytes = 64 * 1024;

    // What an entry's text says about it: whether it carries our marker, and whether the user
    // switched it off (Hidden=true or X-GNOME-Autostart-enabled=false), both in the
    // [Desktop Entry] group.
    struct EntryFlags {
        bool ours = false;
        bool switchedOff = false;
    };
    static EntryFlags parseEntry(const QByteArray &text);

    // `executablePath`: the program the entry starts; empty means the running program.
    // `configHome`: the configuration folder; empty means the XDG rule above.
    explicit LoginItemManager(QString executablePath = {}, QString configHome = {});

    void registerApplication() override;
    void unregisterApplication() override;
    LoginItemStatus status() const override;

    QString entryPath() const;
    // The entry's text for `executablePath` (Exec quoted and escaped as desktop entries require).
    // Throws LoginItemError when the path holds a control character, which an Exec line cannot
    // carry.
    static QByteArray entryContents(const QString &executablePath);

private:
    QString configHome() const;

    QString executablePath_;
    QString configHome_;
};

} // namespace quillby
