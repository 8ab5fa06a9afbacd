#include "roster.h"

#include <cstdio>
#include <optional>

#include "store/roster_store.h"

namespace praxtest {

void MakeRoster(const std::filesystem::path& path, const std::vector<RosterRow>& rows) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  auto roster = prax::store::Roster::Create(path);
  const auto value = [](const std::string& s) { return s.empty() ? std::nullopt : std::optional<std::string>(s); };
  for (const RosterRow& r : rows) {
    roster->AppendUser({value(r.lastName), value(r.firstName), value(r.middleInit), value(r.subDir), value(r.userId)});
  }
  roster->Close();
}

std::string SlotDir(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "PX%06d.DIR", n);
  return buf;
}

}  // namespace praxtest
