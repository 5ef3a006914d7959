#pragma once

#include "capture/qt_printers.h"

#include <QCoreApplication>
#include <QFuture>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

namespace brevalo::test {

// Runs the event loop until the future has finished. The deadline only stops a broken test
// from hanging the suite; no test relies on it.
template <typename T> void await(const QFuture<T>& future)
{
    QTimer deadline; // its timeout also wakes the waiting loop
    deadline.setSingleShot(true);
    deadline.start(std::chrono::seconds(60));
    while (!future.isFinished() && deadline.isActive()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    ASSERT_TRUE(future.isFinished()) << "the operation never finished";
}

// The error a finished future failed with, when it is of type Error.
template <typename Error, typename T> std::optional<Error> failureOf(const QFuture<T>& future)
{
    await(future);
    try {
        static_cast<void>(QFuture<T>(future).result());
    } catch (const Error& error) {
        return error;
    } catch (...) {
    }
    return std::nullopt;
}

// The value of a future that must succeed; a failure is reported with its description.
template <typename T> T valueOf(const QFuture<T>& future)
{
    await(future);
    try {
        return QFuture<T>(future).result();
    } catch (const std::exception& error) {
        ADD_FAILURE() << "the operation failed: " << error.what();
    }
    return T();
}

} // namespace brevalo::test
