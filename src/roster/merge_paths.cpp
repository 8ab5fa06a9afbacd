#include "roster/merge_paths.h"

#include <system_error>

#include "command/status.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace prax::merge {

bool IsPlainName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of("\\/:") == std::string_view::npos;
}

bool HasParentComponent(std::string_view pathText) {
  std::size_t start = 0;
  while (start <= pathText.size()) {
    std::size_t end = pathText.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = pathText.size();
    if (pathText.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

bool IsUserDirName(std::string_view name) { return text::EndsWith(text::ToUpperAscii(name), ".DIR"); }

bool IsThousandName(std::string_view name) {
  if (name.size() != 6) return false;
  for (char c : name)
    if (c < '0' || c > '9') return false;
  return true;
}

bool ClearingEmpties(std::string_view name) {
  return IsUserDirName(name) || IsThousandName(name) || name == "Samples";
}

void RemoveLink(std::string_view pathText) {
  std::error_code ec;
  if (!std::filesystem::remove(fs::RealPath(pathText), ec) || ec)
    throw Error(err::kPathFileAccess, "Cannot delete the link '" + fs::ForDisplay(pathText) + "'", Cause::kEnvironment);
}

void Say(Status* status, std::string_view text) {
  if (status) status->SetStatus(text);
}

void PassOver(Status* status, std::string_view text) {
  if (!status) return;
  status->SetStatus(text);
  status->PassedOver(text.starts_with("Clearing:") ? "left in place" : "not merged", {}, text);
}

void Yield(Status* status) {
  if (status) status->Yield();
}

}  // namespace prax::merge
