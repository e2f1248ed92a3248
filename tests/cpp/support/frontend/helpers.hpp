#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "frontend/error.hpp"

namespace morvik::frontend::testing {

// The error's text, or "(no error)".
template <class T>
std::string error_of(const FrontendResult<T>& result) {
  return result ? std::string("(no error)") : result.error().message();
}

// The value; a failure naming the error, and a default value, without one.
template <class T>
T ok(FrontendResult<T> result) {
  EXPECT_TRUE(result.has_value()) << error_of(result);
  return result ? std::move(*result) : T{};
}

// ASCII letters raised; everything else as it is.
inline std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace morvik::frontend::testing
