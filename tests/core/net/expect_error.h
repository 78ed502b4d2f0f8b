#pragma once

#include <gtest/gtest.h>

#include <string>

namespace pellora::testing {

// Expects `action` to raise E with exactly `text`.
template <typename E, typename F>
void ExpectError(F&& action, const std::string& text) {
  try {
    action();
    ADD_FAILURE() << "no exception, expected: " << text;
  } catch (const E& error) {
    EXPECT_EQ(error.what(), text);
  }
}

}  // namespace pellora::testing
