#pragma once

#include "insights/InsightsCollectionProgress.h"

#include <QObject>
#include <QUuid>

#include <optional>
#include <string>
#include <variant>

namespace quillby {

// Remembers, per history identity (account scope and epoch), whether the one-time
// "collection complete" checkmark was shown. Kept by the launcher's presentation for its whole
// life, so closing and reopening the window does not show it again. Main thread.
class InsightsCollectionStatusState : public QObject {
    Q_OBJECT
public:
    struct Complete {
        QUuid id;
        bool operator==(const Complete &) const = default;
    };
    struct Collecting {
        bool operator==(const Collecting &) const = default;
    };
    struct Hidden {
        bool operator==(const Hidden &) const = default;
    };
    using Phase = std::variant<Complete, Collecting, Hidden>;

    struct HistoryIdentity {
        std::optional<std::string> accountScope;
        std::optional<QUuid> epoch;
        bool operator==(const HistoryIdentity &) const = default;
    };

    using QObject::QObject;

    const Phase &phase() const { return phase_; }
    const std::optional<HistoryIdentity> &historyIdentity() const { return historyIdentity_; }
    bool hasAcknowledgedUnlock() const { return hasAcknowledgedUnlock_; }

    void update(const std::optional<InsightsCollectionProgress> &progress, const std::optional<std::string> &accountScope,
                const std::optional<QUuid> &epoch, bool hasUnlockedInsights);
    // Ends the notice with this identifier; an older one's late acknowledgement changes nothing.
    void acknowledgeCompletion(const QUuid &id);
    bool matches(const std::optional<std::string> &accountScope, const std::optional<QUuid> &epoch) const;

signals:
    void phaseChanged();
    void historyIdentityChanged();

private:
    void setPhase(Phase phase);

    Phase phase_ = Hidden{};
    std::optional<HistoryIdentity> historyIdentity_;
    bool hasAcknowledgedUnlock_ = false;
};

} // namespace quillby
