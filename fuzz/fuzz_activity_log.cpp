// Activity log (.PXT) bytes through the day parser. The input's size picks
// APPS.NO present or not and one of a few key limits, so every setting of the
// tuning files is reached. Nothing may escape the parser, notes are never
// empty, and slot 0 holds the sum of the hours when no line booked into it
// and no count is large enough for an add to be refused.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "logs/activity_day.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static constexpr int16_t kLimits[] = {260, 47, 9, 0, -3, 32767};
  const prax::ActivityOptions options{size % 2 == 1, kLimits[(size / 2) % 6]};
  // A fresh carry per input keeps each run reproducible on its own.
  prax::ActivityCarry carry;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const prax::ActivityDay day = prax::ParseActivityDay(bytes, options, carry);
  bool slotZeroBooked = false;
  for (const prax::ActivityEvent& e : day.events) {
    if (const auto* b = std::get_if<prax::LineBooked>(&e); b && b->hourSlot == 0) slotZeroBooked = true;
    if (const auto* n = std::get_if<prax::NoteDeclared>(&e); n && (n->note.size == 0 || n->hour.size != 2)) {
      std::abort();
    }
  }
  for (std::size_t k = 0; k < 2 && !slotZeroBooked; ++k) {
    int64_t sum = 0;
    bool small = true;
    for (std::size_t h = 1; h < prax::kHourSlots; ++h) {
      sum += day.errorKeys[h][k];
      small = small && day.errorKeys[h][k] > -(1 << 26) && day.errorKeys[h][k] < (1 << 26);
    }
    if (small && day.errorKeys[0][k] != sum) std::abort();
  }
  return 0;
}
