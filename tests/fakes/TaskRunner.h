#pragma once

#include <QCoroTask>

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace quillby::test {

namespace detail {
template <typename T>
QCoro::Task<void> capture(QCoro::Task<T> task, std::optional<T> *value, std::exception_ptr *error)
{
    try {
        value->emplace(co_await std::move(task));
    } catch (...) {
        *error = std::current_exception();
    }
}

inline QCoro::Task<void> captureVoid(QCoro::Task<void> task, std::exception_ptr *error)
{
    try {
        co_await std::move(task);
    } catch (...) {
        *error = std::current_exception();
    }
}
} // namespace detail

// Runs a task to completion on a nested event loop and hands back its result; an
// exception thrown by the task is rethrown here so the test sees it.
template <typename T>
T runTask(QCoro::Task<T> task)
{
    std::exception_ptr error;
    if constexpr (std::is_void_v<T>) {
        QCoro::waitFor(detail::captureVoid(std::move(task), &error));
        if (error) {
            std::rethrow_exception(error);
        }
    } else {
        std::optional<T> value;
        QCoro::waitFor(detail::capture<T>(std::move(task), &value, &error));
        if (error) {
            std::rethrow_exception(error);
        }
        return std::move(*value);
    }
}

} // namespace quillby::test
