#pragma once
// The SQLite result code a call fails with, for tests of the database layer.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "foundation/SQLiteConnection.h"

namespace keldwick::test {

// The code of the SQLiteError that `body` throws; a test failure when it throws none.
inline int32_t failureCode(const std::function<void()>& body) {
    try {
        body();
    } catch (const SQLiteError& error) {
        return error.code();
    }
    ADD_FAILURE() << "no SQLiteError";
    return -1;
}

}  // namespace keldwick::test
