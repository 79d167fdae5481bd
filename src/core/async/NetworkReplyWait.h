#pragma once

#include <QCoroTask>

#include <functional>
#include <memory>
#include <stop_token>

class QNetworkReply;
class QObject;

namespace quillby {

// Owns a reply and deletes it on a later event-loop turn: a reply may still be delivering the
// signal whose handler lets it go.
struct DeleteLater {
    void operator()(QObject *object) const;
};
using OwnedNetworkReply = std::unique_ptr<QNetworkReply, DeleteLater>;

// Aborts on a later event-loop turn: an abort resumes the awaiting coroutine inside abort().
void abortLater(QNetworkReply *reply);

// Waits until the reply has finished. A stop requested meanwhile (from any thread) first calls
// `onStop` on that thread, then aborts the reply on a later turn of the main loop, and only if
// the reply still exists then; the wait ends with the abort.
QCoro::Task<void> waitForReplyUnlessStopped(QNetworkReply *reply, std::stop_token stop,
                                            std::function<void()> onStop = {});

} // namespace quillby
