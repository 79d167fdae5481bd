#pragma once

#include "core/Date.h"
#include "insights_window/InsightsCollectionStatusState.h"

#include <QObject>

namespace quillby {

// What the launcher keeps across Insights windows: the earliest end of the report period and
// the collection status of the one-time completion notice. Main thread.
class InsightsPresentation : public QObject {
    Q_OBJECT
public:
    explicit InsightsPresentation(Date referenceDate, QObject *parent = nullptr)
        : QObject(parent), referenceDate_(referenceDate)
    {
    }

    Date referenceDate() const { return referenceDate_; }
    // An equal date is stored without a notification.
    void setReferenceDate(Date date)
    {
        if (date != referenceDate_) {
            referenceDate_ = date;
            emit referenceDateChanged();
        }
    }
    InsightsCollectionStatusState &collectionStatus() { return collectionStatus_; }

signals:
    void referenceDateChanged();

private:
    Date referenceDate_;
    InsightsCollectionStatusState collectionStatus_;
};

} // namespace quillby
