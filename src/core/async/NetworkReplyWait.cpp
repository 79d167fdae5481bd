#include "core/async/NetworkReplyWait.h"

#include <QCoreApplication>
#include <QCoroNetworkReply>
#include <QMetaObject>
#include <QNetworkReply>
#include <QPointer>

namespace quillby {

void DeleteLater::operator()(QObject *object) const
{
    if (object) {
        object->deleteLater();
    }
}

void abortLater(QNetworkReply *reply)
{
    QMetaObject::invokeMethod(reply, [reply] { reply->abort(); }, Qt::QueuedConnection);
}

QCoro::Task<void> waitForReplyUnlessStopped(QNetworkReply *reply, std::stop_token stop,
                                            std::function<void()> onStop)
{
    QPointer<QNetworkReply> guarded(reply);
    std::stop_callback onStopRequested(stop, [guarded, onStop = std::move(onStop)] {
        if (onStop) {
            onStop();
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guarded] {
                if (guarded) {
                    guarded->abort();
                }
            },
            Qt::QueuedConnection);
    });
    if (!reply->isFinished()) {
        co_await qCoro(reply).waitForFinished();
    }
}

} // namespace quillby
