#pragma once
// Where in a day's bytes an event or a failure came from, so that a line
// that fails its step can be named (number) and shown (text).

#include <cstdint>
#include <string_view>

#include "platform/error.h"

namespace prax {

struct LineRef {
  int32_t line = 0;     // 1-based; 0: the day as a whole
  uint32_t offset = 0;  // where the line starts in the day's bytes
};

// A line whose value the parser could not count (a count leaving its range,
// an hour or level outside the day's counters): it fails its step like a
// row the database refuses.
struct LineFailure {
  LineRef at;
  ErrorKind kind = ErrorKind::kNone;
};

// How a day's parse used the carry it was given, so that a day may be parsed
// before the one ahead of it: whether its rows or counts depend on anything
// the carry held when the day began (`read`), and which of the carry's fields
// it replaced (bit i: field i, numbered as the carry's Apply names them). A
// day that read nothing gives the same day whatever its carry, and leaves the
// carry it was given with those fields replaced.
struct CarryUse {
  bool read = false;
  uint32_t set = 0;
};

// The text of the line starting at `offset`: up to its CR (lines end at CR LF
// or a lone CR).
inline std::string_view LineTextAt(std::string_view bytes, uint32_t offset) {
  if (offset >= bytes.size()) return {};
  const std::string_view rest = bytes.substr(offset);
  return rest.substr(0, rest.find('\r'));
}

}  // namespace prax
