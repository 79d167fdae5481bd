#pragma once

#include <QCoroTask>

#include <utility>

namespace quillby {

namespace async_detail {
void reportDetachedFailure();

template <typename T>
QCoro::Task<void> awaitDetached(QCoro::Task<T> task)
{
    try {
        co_await std::move(task);
    } catch (...) {
        reportDetachedFailure();
    }
}
} // namespace async_detail

// Lets a coroutine that has already started run on with nobody awaiting it: the one way this
// code base starts work it does not wait for, so every such place can be found by this name.
// The coroutine must keep the lifetime rule by itself: a static coroutine that takes
// QPointer<Self> (and its stop token) and re-checks them after every co_await, or one whose
// continuation is tied to a context object. An exception escaping it is logged instead of
// vanishing.
template <typename T>
void runDetached(QCoro::Task<T> &&task)
{
    async_detail::awaitDetached(std::move(task));
}

} // namespace quillby
