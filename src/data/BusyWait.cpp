#include "data/BusyWait.h"

#include <system_error>
#include <thread>

#include "data/Drivers.h"

namespace dao {

void CallBackUntilDone(const std::function<bool(std::chrono::milliseconds)>& doneWithin,
                       const std::function<void()>& busyCallback) {
    if (!busyCallback) {
        return;
    }
    while (!doneWithin(kBusyCallInterval)) {
        try {
            busyCallback();
        } catch (...) {
            // Painting is a courtesy: the work goes on whatever happened to it.
        }
    }
}

void RunCallingBack(const std::function<void()>& work, const std::function<void()>& busyCallback) {
    if (!busyCallback) {
        work();
        return;
    }
    std::future<void> done;
    try {
        done = std::async(std::launch::async, work);
    } catch (const std::system_error&) {
        work();  // no thread to be had: the work is done all the same, only without painting
        return;
    }
    GetCallingBack(done, busyCallback);
}

void detail::OpenOptions::KeepBusyWhile(const std::function<void()>& work) const {
    // A commit waits on the disk's sync, which no step of SQLite's own can interrupt to call
    // back; the work goes to another thread while the opening thread keeps calling back. The
    // callback never touches the engine, so the connection is used by one thread at a time.
    // Any other thread runs its work itself: the callback belongs to the opening thread.
    if (std::this_thread::get_id() != openingThread) {
        work();
        return;
    }
    RunCallingBack(work, engine.busyCallback);
}

}  // namespace dao
