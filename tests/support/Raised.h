#pragma once

#include <gtest/gtest.h>

#include "data/Engine.h"

// The engine error that f raises; a test failure when it raises none.
template <class F>
dao::Error Raised(F&& f) {
    try {
        f();
    } catch (const dao::Error& e) {
        return e;
    }
    ADD_FAILURE() << "no error was raised";
    return dao::Error(0, {});
}
