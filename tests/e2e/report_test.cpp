// A run's JSON summary checked against the README's table of its fields, and its HTML report opened in a browser.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <regex>
#include <set>

#include "platform/datetime.h"
#include "support/programs.h"
#include "support/roster.h"

namespace {

using Json = nlohmann::json;

// A network whose clients sent logs up to the last weekday, but the first user with logs, whose four newest days
// are gone: a stale client. Loaded by praxload with --summary; the report is PRAXLOAD.html.
struct StaleNetwork {
  praxtest::Network net{{"--users", "4", "--days", "6", "--seed", "3", "--nasty", "0.02", "--start", Start()}};
  Json summary;
  int stale = 1;

  static std::string Start() {
    int64_t day = prax::dt::SerialDay(prax::dt::Today());
    for (int weekdays = 0; weekdays < 6;) weekdays += prax::dt::Weekday(prax::dt::FromSerialDay(--day)) < 5;
    const prax::dt::Date d = prax::dt::FromSerialDay(day);
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", d.year, d.month, d.day);
    return text;
  }

  StaleNetwork() {
    std::set<std::filesystem::file_time_type> times;
    while (!std::filesystem::exists(net.Net() / praxtest::SlotDir(stale))) ++stale;
    const auto logs = net.Net() / praxtest::SlotDir(stale);
    for (const auto& f : std::filesystem::directory_iterator(logs)) times.insert(f.last_write_time());
    const auto kept = *std::prev(times.end(), 4);
    for (const auto& f : std::filesystem::directory_iterator(logs)) {
      if (f.last_write_time() >= kept) std::filesystem::remove(f.path());
    }
    const auto r = net.Praxload({"--full", "--fresh", "--yes", "--quiet", "--summary", (net.Root() / "s.json").string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    summary = Json::parse(praxtest::Slurp(net.Root() / "s.json"));
  }
};

// The JSON type as the README names it.
std::string TypeOf(const Json& j) {
  return j.is_null() ? "null" : j.is_boolean() ? "boolean" : j.is_number_integer() ? "integer"
       : j.is_number() ? "number" : j.is_string() ? "string" : j.is_array() ? "array" : "object";
}

// Each value's path ("tables.*.rejects", "passes[].name": `*` where the README has it) and type.
void Walk(const Json& j, const std::string& path, const std::map<std::string, std::string>& documented,
          std::map<std::string, std::string>& seen) {
  seen[path] = TypeOf(j);
  if (j.is_array()) for (const Json& e : j) Walk(e, path + "[]", documented, seen);
  if (!j.is_object()) return;
  const std::string prefix = path.empty() ? "" : path + ".";
  for (const auto& [key, value] : j.items()) {
    Walk(value, documented.contains(prefix + "*") ? prefix + "*" : prefix + key, documented, seen);
  }
}

}  // namespace

TEST(RunSummaryJson, HasExactlyTheFieldsTheReadmeDocuments) {
  StaleNetwork site;
  std::map<std::string, std::string> documented, seen;
  const std::string readme = praxtest::Slurp(std::filesystem::path(PRAX_SOURCE_DIR) / "README.md");
  const std::string table = readme.substr(readme.find("<!-- summary-fields -->"));
  const std::regex row(R"(\n\| `([^`]+)` \| ([a-z ]+) \|)");
  for (std::sregex_iterator m(table.begin(), table.begin() + table.find("\n\n", 30), row), end; m != end; ++m) {
    documented[(*m)[1]] = (*m)[2];
  }
  ASSERT_GT(documented.size(), 10u);
  Walk(site.summary, "", documented, seen);
  seen.erase("");
  for (const auto& [path, type] : seen) {
    ASSERT_TRUE(documented.contains(path)) << path << " is not in the README";
    EXPECT_TRUE(praxtest::Has(" " + documented[path] + " ", " " + type + " ")) << path << " is " << type;
  }
  for (const auto& [path, type] : documented) {
    EXPECT_TRUE(path.find_first_of("*[") != std::string::npos || seen.contains(path)) << path << " is missing";
  }
}

TEST(RunReport, OpensInABrowserWithTheStaleClientAndTheSummarysFigures) {
  if (!std::filesystem::exists("/usr/bin/chromium")) GTEST_SKIP() << "chromium is not installed (Debian package chromium)";
  StaleNetwork site;
  const auto page = "file://" + (site.net.Prog() / "PRAXLOAD.html").string();
  const praxtest::TempDir profile;
  const auto browse = [&](const std::string& what) {
    return praxtest::Run({"/usr/bin/chromium", "--headless", "--no-sandbox", "--user-data-dir=" + profile.Path().string(),
                          what, page}, profile.Path(), {.timeoutSeconds = 120});
  };
  const praxtest::Result dom = browse("--dump-dom");
  ASSERT_EQ(dom.exitCode, 0) << dom.err;
  const auto shot = profile.Path() / "report.png";
  ASSERT_EQ(browse("--screenshot=" + shot.string()).exitCode, 0);
  EXPECT_GT(std::filesystem::file_size(shot), 1000u);

  const std::regex stale(R"(<tr class="stale-user"><td class="n">(\d+)</td><td>([^<]+)<)");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(dom.out, m, stale)) << dom.out;
  EXPECT_EQ(m[1], std::to_string(site.stale));
  EXPECT_EQ(m[2], praxtest::Sqlite3(site.net.Net() / "MASTER.MDB",
                                    "SELECT First_Name || ' ' || Last_Name FROM Users WHERE Sub_Dir = '" +
                                        praxtest::SlotDir(site.stale) + "';")
                      .substr(0, m[2].length()));
  EXPECT_EQ(std::distance(std::sregex_iterator(dom.out.begin(), dom.out.end(), stale), std::sregex_iterator()), 1);
  EXPECT_TRUE(praxtest::Has(dom.out, "id=\"rejects-total\">" + site.summary["rejectsTotal"].dump() + "<"));
  const std::string dates = praxtest::Sqlite3(site.net.History(), "SELECT COUNT(DISTINCT Data_Date) FROM AlertSystem;");
  const std::regex bar("class=\"day-bar\"");
  EXPECT_EQ(std::to_string(std::distance(std::sregex_iterator(dom.out.begin(), dom.out.end(), bar), std::sregex_iterator())) + "\n",
            dates);
}
