#pragma once

#include <QFuture>
#include <QPromise>
#include <QThreadPool>

#include <QCoroFuture>
#include <QCoroTask>

#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace quillby {

// Runs `work` on `pool` (queued at `priority`, as QThreadPool::start takes it) and resumes the
// awaiting coroutine on its own thread with the result. An exception thrown by `work` is
// rethrown to the awaiting coroutine with its own type (QtConcurrent would wrap it in
// QUnhandledException). `work` must be copyable and own everything it touches (capture by
// value or shared_ptr).
template <typename Work>
auto runInThreadPool(QThreadPool &pool, Work work, int priority = 0) -> QCoro::Task<std::invoke_result_t<Work>>
{
    using Result = std::invoke_result_t<Work>;
    using Stored = std::conditional_t<std::is_void_v<Result>, bool, Result>;
    struct Outcome {
        std::optional<Stored> value;
        std::exception_ptr error;
    };
    auto outcome = std::make_shared<Outcome>();
    auto promise = std::make_shared<QPromise<void>>();
    QFuture<void> future = promise->future();
    promise->start();
    pool.start([work = std::move(work), outcome, promise]() mutable {
        try {
            if constexpr (std::is_void_v<Result>) {
                work();
                outcome->value.emplace(true);
            } else {
                outcome->value.emplace(work());
            }
        } catch (...) {
            outcome->error = std::current_exception();
        }
        promise->finish();
    }, priority);
    co_await future;
    if (outcome->error) {
        std::rethrow_exception(outcome->error);
    }
    if constexpr (!std::is_void_v<Result>) {
        co_return std::move(*outcome->value);
    }
}

} // namespace quillby
