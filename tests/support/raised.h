#pragma once

#include <functional>

#include "platform/error.h"

namespace praxtest {
// The error a step raised: number 0 and no message when none.
inline prax::Error Raised(const std::function<void()>& step) {
  try {
    step();
  } catch (const prax::Error& e) {
    return e;
  }
  return prax::Error(prax::err::kNone, "", prax::Cause::kData);
}

}  // namespace praxtest
