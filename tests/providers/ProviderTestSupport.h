#pragma once

#include "fakes/TaskRunner.h"

#include <gtest/gtest.h>

#include <QCoroTask>

#include <exception>
#include <optional>
#include <string>
#include <typeinfo>

namespace quillby::test {

// Runs a task that is expected to throw E; returns the error, or nothing (with a test failure)
// when it succeeded or threw something else.
template <typename E, typename T>
std::optional<E> errorOf(QCoro::Task<T> task)
{
    try {
        runTask(std::move(task));
        ADD_FAILURE() << "expected " << typeid(E).name() << ", but the call succeeded";
    } catch (const E &error) {
        return error;
    } catch (const std::exception &other) {
        ADD_FAILURE() << "expected " << typeid(E).name() << ", got " << typeid(other).name() << ": "
                      << other.what();
    }
    return std::nullopt;
}

} // namespace quillby::test
