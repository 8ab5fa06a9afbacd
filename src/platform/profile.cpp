#include "platform/profile.h"

#include <algorithm>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace prax::profile {

namespace {

std::string_view TrimBlanksTabs(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

// Like the platform's reader, a file named without a full path is looked for
// in the default profile folder.
std::string ProfilePath(std::string_view file) {
  const bool rooted = !file.empty() && (file[0] == '\\' || file[0] == '/');
  const bool drive = file.size() >= 2 && file[1] == ':';
  if (rooted || drive) return std::string(file);
  return fs::DefaultProfileDir() + std::string(file);
}

// The value of key in section, or nullopt-like false when absent.
bool FindValue(std::string_view bytes, std::string_view section, std::string_view key, std::string_view& value) {
  const std::string_view wantSection = TrimBlanksTabs(section);
  const std::string_view wantKey = TrimBlanksTabs(key);
  bool inSection = false;
  bool sectionSeen = false;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t end = bytes.find('\n', pos);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view line = bytes.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = TrimBlanksTabs(line);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      // Only the first section of the name counts.
      if (inSection) return false;
      const auto close = line.find(']');
      const std::string_view name =
          TrimBlanksTabs(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
      inSection = !sectionSeen && text::EqualsIgnoreCase(name, wantSection);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (!inSection) continue;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    if (!text::EqualsIgnoreCase(TrimBlanksTabs(line.substr(0, equals)), wantKey)) continue;
    std::string_view v = TrimBlanksTabs(line.substr(equals + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
      v = v.substr(1, v.size() - 2);
    value = v;
    return true;
  }
  return false;
}

}  // namespace

std::string ReadProfileBuffer(std::string_view section, std::string_view key, std::string_view defaultValue,
                              std::string_view file, std::size_t size) {
  std::string bytes;
  std::string_view value = defaultValue;
  try {
    bytes = fs::ReadFile(ProfilePath(file));
    std::string_view found;
    if (FindValue(bytes, section, key, found)) value = found;
  } catch (const Error&) {
    // A missing or unreadable file gives the default.
  }
  std::string buffer(size, '\0');
  if (size > 0) {
    const std::size_t count = std::min(value.size(), size - 1);
    std::copy_n(value.begin(), count, buffer.begin());
  }
  return buffer;
}

std::string TrimIniValue(std::string_view buffer) {
  std::string value(buffer);
  const auto nul = value.find('\0');
  if (nul != std::string::npos) std::fill(value.begin() + static_cast<std::ptrdiff_t>(nul), value.end(), ' ');
  const auto colon = value.find(':');
  if (colon != std::string::npos && colon >= 2) value.erase(colon, 1);
  return std::string(text::Trim(value));
}

}  // namespace prax::profile
