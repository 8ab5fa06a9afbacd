#pragma once
// Damage of the kinds real log files show: a line cut short by a crash, junk
// bytes from a bad sector, numbers out of every range, marks the parser looks
// for gone missing, quotes inside names, names left empty. praxgen --nasty
// injects it so that loads can be compared on logs that are not clean.

#include <cstdint>
#include <string>
#include <string_view>

namespace prax::gen {

// The log with each line damaged at the given rate (0..1), in one of the ways
// above; the same (bytes, rate, seed) give the same result.
std::string InjectMalformedLines(std::string_view log, double rate, uint64_t seed);

}  // namespace prax::gen
