#pragma once
// The error a test step raised: number 0 and no message when it raised none.

#include <functional>

#include "platform/error.h"

namespace praxtest {

inline prax::Error Raised(const std::function<void()>& step) {
  try {
    step();
  } catch (const prax::Error& e) {
    return e;
  }
  return prax::Error(0, "");
}

}  // namespace praxtest
