#include "gen/malformed_lines.h"

#include <array>
#include <vector>

#include "gen/gen_random.h"

namespace prax::gen {

namespace {

// Out of the 16-bit and 32-bit ranges, hours and levels beyond their slots,
// fractions and exponents, a sign alone.
constexpr std::array<std::string_view, 10> kOddNumbers = {"99999999999", "32768", "-32769", "2147483648", "1e308",
                                                     "25", "-1", "7", "2.5", "-"};

// Where the name of a line starts and ends: after the first ": " or '"', up
// to the line's next mark ('*', "--", " (", '"'); npos when the line has none.
std::pair<std::size_t, std::size_t> NameSpan(const std::string& line) {
  std::size_t from = line.find(": ");
  if (from != std::string::npos) {
    from += 2;
  } else if ((from = line.find('"')) != std::string::npos) {
    ++from;
  } else {
    return {std::string::npos, std::string::npos};
  }
  std::size_t to = line.size();
  for (std::string_view mark : {"*", "--", " (", "\""}) {
    const std::size_t at = line.find(mark, from);
    if (at != std::string::npos && at < to) to = at;
  }
  return {from, to};
}

void Damage(std::string& line, Random& rng) {
  switch (rng.Below(6)) {
    case 0:  // cut short
      line.resize(static_cast<std::size_t>(rng.Below(static_cast<int>(line.size()) + 1)));
      break;
    case 1:  // junk bytes, now and then a lone line feed or a NUL among them
      for (int n = rng.Between(1, 6); n > 0 && !line.empty(); --n) {
        const int b = rng.Chance(0.1) ? (rng.Chance(0.5) ? '\n' : '\0') : rng.Between(1, 255);
        line[static_cast<std::size_t>(rng.Below(static_cast<int>(line.size())))] =
            static_cast<char>(b == '\r' ? '?' : b);
      }
      break;
    case 2: {  // a number out of range
      std::vector<std::pair<std::size_t, std::size_t>> numbers;
      for (std::size_t i = 0; i < line.size();) {
        if (line[i] >= '0' && line[i] <= '9') {
          std::size_t j = i;
          while (j < line.size() && line[j] >= '0' && line[j] <= '9') ++j;
          numbers.emplace_back(i, j - i);
          i = j;
        } else {
          ++i;
        }
      }
      if (numbers.empty()) break;
      const auto [at, length] = numbers[static_cast<std::size_t>(rng.Below(static_cast<int>(numbers.size())))];
      const std::string_view odd = kOddNumbers[static_cast<std::size_t>(rng.Below(kOddNumbers.size()))];
      line = line.substr(0, at).append(odd).append(line, at + length);
      break;
    }
    case 3:  // a mark gone
      for (std::string_view mark : {"*", "--", ":", "(", "\",\""}) {
        const std::size_t at = line.find(mark);
        if (at != std::string::npos) {
          line.erase(at, mark.size());
          break;
        }
      }
      break;
    case 4: {  // a quote inside the name
      const auto [from, to] = NameSpan(line);
      if (from != std::string::npos) {
        const auto at = static_cast<std::ptrdiff_t>(from) + rng.Below(static_cast<int>(to - from) + 1);
        line.insert(line.begin() + at, '\'');
      }
      break;
    }
    default: {  // the name left empty, or blanks only
      const auto [from, to] = NameSpan(line);
      if (from != std::string::npos) {
        line.erase(from, to - from);
        if (rng.Chance(0.5)) line.insert(from, 3, ' ');
      }
      break;
    }
  }
}

}  // namespace

std::string InjectMalformedLines(std::string_view log, double rate, uint64_t seed) {
  if (rate <= 0) return std::string(log);
  Random rng(Mix(seed, 0x4E415354));
  std::string out;
  out.reserve(log.size() + log.size() / 16);
  while (!log.empty()) {
    std::size_t end = log.find("\r\n");
    const bool ended = end != std::string_view::npos;
    if (!ended) end = log.size();
    std::string line(log.substr(0, end));
    log.remove_prefix(ended ? end + 2 : end);
    if (rng.Chance(rate)) Damage(line, rng);
    out += line;
    if (ended) out += "\r\n";
  }
  return out;
}

}  // namespace prax::gen
