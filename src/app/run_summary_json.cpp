// The JSON of praxload --summary. Field names and types are stable: the
// README documents each one, and monitoring reads them.
#include <nlohmann/json.hpp>

#include "app/run_report.h"

namespace prax {

std::string SummaryJson(const RunSummary& s) {
  using Json = nlohmann::ordered_json;
  const auto optionalDay = [](const std::optional<int32_t>& day) { return day ? Json(*day) : Json(nullptr); };
  Json passes = Json::array();
  for (const PassFigures& p : s.passes) {
    passes.push_back({{"name", p.name},
                      {"logsRead", p.logsRead},
                      {"daysLoaded", p.daysLoaded},
                      {"rowsAdded", p.rowsAdded},
                      {"linesRejected", p.linesRejected},
                      {"seconds", p.seconds}});
  }
  Json tables = Json::object();
  int64_t rejectsTotal = 0;
  for (const auto& [name, t] : s.tables) {
    Json rejects = Json::object();
    for (const auto& [reason, lines] : t.rejects) {
      rejects[reason] = lines;
      rejectsTotal += lines;
    }
    tables[name] = {{"rowsAdded", t.rowsAdded}, {"rejects", rejects}};
  }
  // Files passed over by reason; an item that is not a file is named by its line.
  Json passedOver = Json::object();
  for (const PassedOverItem& item : s.passedOver) {
    Json& paths = passedOver[item.reason];
    if (paths.is_null()) paths = Json::array();
    paths.push_back(item.path.empty() ? item.line : item.path);
  }
  const Json j = {{"exitStatus", s.exitStatus},
                  {"started", s.started},
                  {"ended", s.ended},
                  {"engine", s.engine},
                  {"database", s.database},
                  {"usersProcessed", s.usersProcessed},
                  {"firstDay", optionalDay(s.firstDay)},
                  {"lastDay", optionalDay(s.lastDay)},
                  {"passes", passes},
                  {"tables", tables},
                  {"rejectsTotal", rejectsTotal},
                  {"rejectsFile", s.rejectsFile.empty() ? Json(nullptr) : Json(s.rejectsFile)},
                  {"rejectsKept", s.rejectsKept},
                  {"rejectsCapped", s.rejectsCapped},
                  {"passedOver", passedOver},
                  {"warnings", s.warnings}};
  // A name that is not UTF-8 (bytes of a log or a file name) is written with
  // U+FFFD in place of what is not, rather than lost with the whole summary.
  return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace prax
