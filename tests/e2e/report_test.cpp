// A run's JSON summary checked against the README's table of its fields, and its HTML report opened in a browser.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include "platform/datetime.h"
#include "support/programs.h"
#include "support/roster.h"
namespace {
using Json = nlohmann::json;
namespace fs = std::filesystem;

// Logs up to the last weekday, but the first user's four newest days are gone: a stale client.
struct StaleNetwork {
  static std::string Start() {  // six weekdays back
    int64_t day = prax::dt::SerialDay(prax::dt::Today());
    for (int weekdays = 0; weekdays < 6;) weekdays += prax::dt::Weekday(prax::dt::FromSerialDay(--day)) < 5;
    return "20" + prax::dt::FormatYyMmDd(prax::dt::FromSerialDay(day));
  }
  praxtest::Network net{{"--users", "4", "--days", "6", "--seed", "3", "--nasty", "0.02", "--start", Start()}};
  int stale = 1;
  Json summary;
  StaleNetwork() {
    while (!fs::exists(net.Net() / praxtest::SlotDir(stale))) ++stale;
    std::set<fs::file_time_type> times;
    for (const auto& f : fs::directory_iterator(net.Net() / praxtest::SlotDir(stale))) times.insert(f.last_write_time());
    for (const auto& f : fs::directory_iterator(net.Net() / praxtest::SlotDir(stale))) {
      if (f.last_write_time() >= *std::prev(times.end(), 4)) fs::remove(f.path());
    }
    const auto r = net.Praxload({"--full", "--fresh", "--yes", "--quiet", "--summary", (net.Root() / "s.json").string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    summary = Json::parse(praxtest::Slurp(net.Root() / "s.json"));
  }
};

// Each value's path ("passes[].name"; "tables.*" where the README has `*`) and JSON type, as the README names it.
void Walk(const Json& j, const std::string& path, std::map<std::string, std::string>& docs,
          std::map<std::string, std::string>& seen) {
  seen[path] = j.is_null() ? "null" : j.is_boolean() ? "boolean" : j.is_number_integer() ? "integer"
               : j.is_number() ? "number" : j.is_string() ? "string" : j.is_array() ? "array" : "object";
  if (j.is_array()) for (const Json& e : j) Walk(e, path + "[]", docs, seen);
  const std::string prefix = path.empty() ? "" : path + ".";
  if (j.is_object()) for (const auto& [k, v] : j.items()) Walk(v, prefix + (docs.contains(prefix + "*") ? "*" : k), docs, seen);
}
size_t Count(const std::string& text, const std::regex& re) {
  return std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator());
}
}  // namespace

TEST(RunSummaryJson, HasExactlyTheFieldsTheReadmeDocuments) {
  StaleNetwork site;
  std::map<std::string, std::string> docs, seen;
  const std::string readme = praxtest::Slurp(fs::path(PRAX_SOURCE_DIR) / "README.md");
  const std::string table = readme.substr(readme.find("<!-- summary-fields -->"));
  const std::regex row(R"(\n\| `([^`]+)` \| ([a-z ]+) \|)");
  for (std::sregex_iterator m(table.begin(), table.begin() + table.find("\n\n"), row), e; m != e; ++m) docs[(*m)[1]] = (*m)[2];
  ASSERT_GT(docs.size(), 10u);
  for (const auto& [key, value] : site.summary.items()) Walk(value, key, docs, seen);
  for (const auto& [path, type] : seen) {
    ASSERT_TRUE(docs.contains(path)) << path << " is not in the README";
    EXPECT_TRUE(praxtest::Has(" " + docs[path] + " ", " " + type + " ")) << path << " is " << type;
  }
  for (const auto& [path, type] : docs) {
    EXPECT_TRUE(path.find_first_of("*[") != std::string::npos || seen.contains(path)) << path << " is missing";
  }
}

TEST(RunReport, OpensInABrowserWithTheStaleClientAndTheSummarysFigures) {
  PRAX_SKIP_ON_WINDOWS("the headless browser, a Linux program here");
  if (!fs::exists("/usr/bin/chromium")) GTEST_SKIP() << "chromium is not installed (Debian package chromium)";
  StaleNetwork site;
  const praxtest::TempDir profile;
  const auto browse = [&](const std::string& what) {
    return praxtest::Run({"/usr/bin/chromium", "--headless", "--no-sandbox", "--user-data-dir=" + profile.Text(), what,
                          "file://" + (site.net.Prog() / "PRAXLOAD.html").string()},
                         profile.Path(), {.timeoutSeconds = 120});
  };
  const praxtest::Result dom = browse("--dump-dom");
  ASSERT_EQ(dom.exitCode, 0) << dom.err;
  ASSERT_EQ(browse("--screenshot=" + (profile.Path() / "shot.png").string()).exitCode, 0);
  EXPECT_GT(fs::file_size(profile.Path() / "shot.png"), 1000u);
  EXPECT_EQ(Count(dom.out, std::regex("class=\"stale-user\"")), 1u) << dom.out;
  EXPECT_TRUE(praxtest::Has(dom.out, "<tr class=\"stale-user\"><td class=\"n\">" + std::to_string(site.stale) + "<"));
  EXPECT_TRUE(praxtest::Has(dom.out, "id=\"rejects-total\">" + site.summary["rejectsTotal"].dump() + "<"));
  EXPECT_EQ(std::to_string(Count(dom.out, std::regex("class=\"day-bar\""))) + "\n",
            praxtest::Sqlite3(site.net.History(), "SELECT COUNT(DISTINCT Data_Date) FROM AlertSystem;"));
}
