// The one wait that keeps a window painting while work runs on another thread: the engine's
// long statements and commits, and the run's hashing.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "data/BusyWait.h"
#include "data/Drivers.h"

namespace {

using std::chrono::milliseconds;

TEST(BusyWait, TheWorkRunsElsewhereWhileThisThreadCallsBackUntilItIsDone) {
    const std::thread::id here = std::this_thread::get_id();
    std::thread::id workedOn;
    std::atomic<bool> finished{false};
    int calls = 0;
    const auto start = std::chrono::steady_clock::now();
    dao::RunCallingBack(
        [&] {
            workedOn = std::this_thread::get_id();
            std::this_thread::sleep_for(milliseconds(200));
            finished = true;
        },
        [&] {
            EXPECT_EQ(std::this_thread::get_id(), here);
            ++calls;
        });
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(finished);
    EXPECT_NE(workedOn, here);
    // Once every interval: a loaded machine calls back less often, never more often, and never
    // not at all.
    EXPECT_GE(calls, 2);
    EXPECT_LE(calls, waited / dao::kBusyCallInterval + 1);
}

TEST(BusyWait, WithoutACallbackTheWorkRunsHere) {
    std::thread::id workedOn;
    dao::RunCallingBack([&] { workedOn = std::this_thread::get_id(); }, {});
    EXPECT_EQ(workedOn, std::this_thread::get_id());
}

TEST(BusyWait, WhatTheWorkThrowsIsRethrownAndAThrowingCallbackIsIgnored) {
    int calls = 0;
    EXPECT_THROW(dao::RunCallingBack(
                     [] {
                         std::this_thread::sleep_for(milliseconds(50));
                         throw std::runtime_error("work");
                     },
                     [&] {
                         ++calls;
                         throw std::logic_error("paint");
                     }),
                 std::runtime_error);
    EXPECT_GE(calls, 1);
}

TEST(BusyWait, AFutureIsWaitedForCallingBackAndADeferredOneRunsHere) {
    std::future<int> later = std::async(std::launch::async, [] {
        std::this_thread::sleep_for(milliseconds(60));
        return 7;
    });
    int calls = 0;
    EXPECT_EQ(dao::GetCallingBack(later, [&] { ++calls; }), 7);
    EXPECT_GE(calls, 1);

    const std::thread::id here = std::this_thread::get_id();
    std::future<std::thread::id> deferred =
        std::async(std::launch::deferred, [] { return std::this_thread::get_id(); });
    calls = 0;
    EXPECT_EQ(dao::GetCallingBack(deferred, [&] { ++calls; }), here);
    EXPECT_EQ(calls, 0);
}

TEST(BusyWait, OnlyTheThreadThatOpenedADatabaseCallsBack) {
    int calls = 0;
    dao::EngineOptions options;
    options.busyCallback = [&] { ++calls; };
    const dao::detail::OpenOptions opened(options);
    std::thread::id workedOn;
    std::thread other([&] {
        opened.KeepBusyWhile([&] {
            workedOn = std::this_thread::get_id();
            std::this_thread::sleep_for(milliseconds(40));
        });
        EXPECT_EQ(workedOn, std::this_thread::get_id());
    });
    other.join();
    EXPECT_EQ(calls, 0);

    opened.KeepBusyWhile([] { std::this_thread::sleep_for(milliseconds(40)); });
    EXPECT_GE(calls, 1);
}

}  // namespace
