// Alert log (.PXL) bytes through the day parser. Nothing may escape it, and
// every event keeps the promises of its header (the names it is looked up
// by are never empty).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "logs/alert_day.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A fresh carry per input keeps each run reproducible on its own.
  prax::AlertCarry carry;
  const prax::AlertDay day = prax::ParseAlertDay(std::string_view(reinterpret_cast<const char*>(data), size), carry);
  for (const prax::AlertEvent& e : day.events) {
    if (const auto* t = std::get_if<prax::ToolUsed>(&e); t && (t->tool.empty() || (t->hour && t->hour->empty()))) {
      std::abort();
    }
    if (const auto* d = std::get_if<prax::DiscomfortEntered>(&e); d && (d->bodyPart.empty() || d->hour.size() != 2)) {
      std::abort();
    }
    if (const auto* n = std::get_if<prax::EntryNoted>(&e); n && n->note.empty()) std::abort();
  }
  return 0;
}
