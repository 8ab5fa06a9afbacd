#include "platform/lines.h"

#include <cstring>

namespace prax {

std::string_view LineReader::Next() {
  if (AtEnd()) return {};
  const char* begin = bytes_.data() + pos_;
  const std::size_t rest = bytes_.size() - pos_;
  const void* cr = std::memchr(begin, '\r', rest);
  if (cr == nullptr) {
    pos_ = bytes_.size();
    return std::string_view(begin, rest);
  }
  const auto length = static_cast<std::size_t>(static_cast<const char*>(cr) - begin);
  pos_ += length + 1;
  if (pos_ < bytes_.size() && bytes_[pos_] == '\n') ++pos_;
  return std::string_view(begin, length);
}

}  // namespace prax
