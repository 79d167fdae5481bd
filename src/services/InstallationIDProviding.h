#pragma once

#include <QString>

namespace quillby {

// The installation identifier: made on first use, replaced only after the server gave it up.
class InstallationIDProviding {
public:
    virtual ~InstallationIDProviding() = default;
    // The current identifier; a new UUID is made and stored when none (or an empty text) is.
    virtual QString installationID() = 0;
    // Stores a new identifier when the stored one still equals `rejected`.
    virtual void resetInstallationID(const QString &rejected) = 0;
    // False while the current identifier exists only in this run (it could not be saved), so
    // the next launch would make another: nothing should be registered under it.
    virtual bool isInstallationIDSaved() const { return true; }
};

} // namespace quillby
