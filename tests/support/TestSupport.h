#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QCoroTask>
#include <QDeadlineTimer>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <variant>

namespace TestSupport {

// Runs the event loop until `done` holds or `timeout` passes; returns whether it held.
bool spinUntil(
    const std::function<bool()> &done, std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Drives a coroutine to completion on the event loop and returns its result (or rethrows).
// Fails the test, and throws, if it does not finish within `timeout`. Benchmarks drive theirs
// with it too.
template <typename T>
T runTask(QCoro::Task<T> task, std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    using Stored = std::conditional_t<std::is_void_v<T>, std::monostate, T>;
    std::optional<Stored> result;
    std::exception_ptr error;
    bool finished = false;
    auto wrapper = [](QCoro::Task<T> inner, std::optional<Stored> *out, std::exception_ptr *err,
                       bool *flag) -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await inner;
                out->emplace();
            } else {
                out->emplace(co_await inner);
            }
        } catch (...) {
            *err = std::current_exception();
        }
        *flag = true;
    }(std::move(task), &result, &error, &finished);
    if (!spinUntil([&] { return finished; }, timeout))
        throw std::runtime_error("task did not finish in time");
    if (error)
        std::rethrow_exception(error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*result);
}

// A flow started on the event loop but not awaited: `done` once it ended, with its failure if any.
struct Started {
    bool done = false;
    std::exception_ptr error;
};
std::shared_ptr<Started> start(QCoro::Task<> task);

// Processes the events already posted (resumptions of coroutines) without waiting for new ones.
void drainEvents();

// The bytes of the file at `path`; empty when it cannot be read.
QByteArray contentOf(const QString &path);
// Writes `bytes` as the file at `path`; fails the test when it cannot.
void writeFile(const QString &path, const QByteArray &bytes);
// The names in `folder`, hidden ones included.
QStringList folderEntries(const QString &folder);

// A path of the build (the programs under test, the certificates, the screenshots' folder),
// which the build gives relative to the test executables' folder, made absolute. Relative, the
// paths compile the same in every clone, so a new clone's build is served from the cache.
QString buildPath(const char *relativeToTests);

} // namespace TestSupport
