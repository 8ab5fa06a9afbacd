#pragma once
// Shared pieces of the Master database tests: a status display that records
// every status line, and a run context pointed at a temporary network folder.

#include <memory>
#include <string>
#include <vector>

#include "app/run_context.h"
#include "app/status.h"
#include "db/engine.h"
#include "support/roster.h"
#include "support/temp_dir.h"

namespace mastertest {

class RecordingStatus : public prax::Status {
 public:
  std::vector<std::string> lines;
  bool Said(std::string_view part) const {
    for (const auto& l : lines)
      if (l.find(part) != std::string::npos) return true;
    return false;
  }

 protected:
  void OnChanged() override {
    if (lines.empty() || lines.back() != Message()) lines.push_back(Message());
  }
};

struct MasterContext {
  RecordingStatus status;
  prax::RunContext ctx;
  explicit MasterContext(std::string networkDir) {
    ctx.NetworkDir = std::move(networkDir);
    ctx.status = &status;
  }
};

// Every row of a query as text: fields joined by '|', Null as "Null".
inline std::vector<std::string> Rows(const std::filesystem::path& file, const std::string& sql) {
  auto db = prax::db::Database::Open(file);
  auto rs = db->OpenRecordset(sql);
  std::vector<std::string> out;
  while (!rs->Eof()) {
    std::string line;
    for (const auto& f : rs->FieldNames()) {
      if (!line.empty()) line += '|';
      const prax::db::Value v = rs->Get(f);
      line += v.IsNull() ? "Null" : v.AsText();
    }
    out.push_back(line);
    rs->MoveNext();
  }
  rs->Close();
  db->Close();
  return out;
}

}  // namespace mastertest
