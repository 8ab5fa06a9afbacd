#pragma once
// Deterministic random numbers for the demo network generator. The engine is
// std::mt19937_64, whose output sequence is fixed by the language standard;
// the distributions are our own (the standard library's are not the same on
// every platform), so one seed gives the same bytes everywhere.

#include <cstdint>
#include <random>
#include <vector>

namespace prax::gen {

// Mixes numbers into one well-spread 64-bit seed (the splitmix64 finaliser).
inline uint64_t Mix(uint64_t a, uint64_t b) {
  uint64_t z = a + 0x9E3779B97F4A7C15ULL * (b + 1);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}
inline uint64_t Mix(uint64_t a, uint64_t b, uint64_t c) { return Mix(Mix(a, b), c); }

class Random {
 public:
  explicit Random(uint64_t seed) : engine_(seed) {}

  uint64_t Next() { return engine_(); }
  // 0 .. n-1 (0 when n <= 1).
  int Below(int n) { return n <= 1 ? 0 : static_cast<int>(engine_() % static_cast<uint64_t>(n)); }
  // lo .. hi inclusive.
  int Between(int lo, int hi) { return hi <= lo ? lo : lo + Below(hi - lo + 1); }
  // [0, 1) with 53 bits.
  double Unit() { return static_cast<double>(engine_() >> 11) * (1.0 / 9007199254740992.0); }
  bool Chance(double p) { return Unit() < p; }
  template <class Items>
  const auto& Pick(const Items& items) {
    return items[static_cast<std::size_t>(Below(static_cast<int>(items.size())))];
  }

 private:
  std::mt19937_64 engine_;
};

}  // namespace prax::gen
