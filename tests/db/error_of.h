#pragma once
// The scourex::Error an action throws, for the database layer's tests.

#include <gtest/gtest.h>

#include "common/error.h"

namespace scourex::db {

// Runs `action` and returns the error it throws (a test failure, and error 0, if none).
template <typename Action>
Error ErrorOf(Action action) {
  try {
    action();
  } catch (const Error& error) {
    return error;
  }
  ADD_FAILURE() << "expected a scourex::Error";
  return Error(0, "");
}

}  // namespace scourex::db
