#pragma once

// Waiting for work that runs on another thread while the waiting thread keeps calling back, so
// that a window waiting on it keeps painting. The engine's long statements and commits and the
// run's hashing of whole files all wait this one way.

#include <chrono>
#include <functional>
#include <future>

namespace dao {

// How often a waiting thread calls back: well within the window's own pace (it repaints at most
// every 50 ms), so that the window, not the wait, decides how smoothly it paints.
inline constexpr std::chrono::milliseconds kBusyCallInterval{10};

// Calls `busyCallback` every kBusyCallInterval until `doneWithin` (which waits at most the time
// it is given) says the work is done. Without a callback it returns at once. A callback that
// throws is ignored: a window that failed to paint once changes nothing the work does.
void CallBackUntilDone(const std::function<bool(std::chrono::milliseconds)>& doneWithin,
                       const std::function<void()>& busyCallback);

// The result of `pending`, calling back while it is not ready (a deferred one runs here).
template <class T>
T GetCallingBack(std::future<T>& pending, const std::function<void()>& busyCallback) {
    CallBackUntilDone(
        [&pending](std::chrono::milliseconds interval) {
            return pending.wait_for(interval) != std::future_status::timeout;
        },
        busyCallback);
    return pending.get();
}

// Runs `work` on a thread of its own while this one calls back, and rethrows here what it
// throws. Without a callback, or with no thread to be had, it runs here and now.
void RunCallingBack(const std::function<void()>& work, const std::function<void()>& busyCallback);

}  // namespace dao
