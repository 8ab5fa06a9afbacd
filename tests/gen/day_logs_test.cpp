// The simulated logs have the shapes the loaders read: fixed positions of
// sample and data lines, words each followed by a space, event lines in the
// client's layouts, key pairs that add up, Windows-1252 text and CR LF ends.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>

#include "gen/day_logs.h"

namespace {

// The lines of a log: every one ends in CR LF and none is empty (that would end the reading).
std::vector<std::string> Lines(const std::string& bytes) {
  EXPECT_TRUE(bytes.ends_with("\r\n"));
  std::vector<std::string> lines;
  std::istringstream in(bytes);
  for (std::string l; std::getline(in, l);) {
    EXPECT_TRUE(l.size() > 1 && l.back() == '\r') << l;
    lines.push_back(l.substr(0, l.size() - 1));
  }
  return lines;
}

struct Totals {
  int days = 0, rises = 0, falls = 0, switches = 0;
  std::map<std::string, int> kinds;  // event lines by their first four letters
  std::set<int> keys;
};

// One alert log; keysAt gets the keystrokes by hhmm of its samples.
void CheckAlertLog(const std::string& bytes, const prax::dt::Date& date, Totals& t, std::map<int, int>& keysAt) {
  // Samples: number, hhmm, then thirteen words or more, each followed by a space
  // (after twelve the parser's buffer is not empty); levels 0 to 5.
  static const std::regex sample(R"(\d{3} (([01]\d|2[0-3])[0-5]\d) (\S+ ){11,})"),
      levels(R"(\d{3} \d{4} (\d+) ([0-5]) \d+ \S+ \d+ [0-5] \d+ .*)"),
      action(R"(User Action: [^ ][^*]*\*(\d{6} \d\d))"), entry("User Entry:  [^ ].*-- .+"),
      other("User Notes: [^ ].*|Stretch Alert|CYCLED|STArted .*|(Keyboard|Mouse) Warning at level 5 .*");
  int samples = 0, actions = 0, entries = 0, prevTime = -1, prevLevel = 0;
  const int restarts = t.kinds["STAr"];
  std::string hour;
  char day[32];
  std::snprintf(day, sizeof day, "%02d%02d%02d ", date.year % 100, date.month, date.day);
  std::smatch m;
  for (const std::string& line : Lines(bytes)) {
    SCOPED_TRACE(line);
    if (std::regex_match(line, m, sample)) {
      const int hhmm = std::stoi(m[1]);
      EXPECT_GE(hhmm, prevTime);
      prevTime = hhmm;
      hour = m[2];
      if (line.find("RECOV") != std::string::npos) continue;
      ASSERT_TRUE(std::regex_match(line, m, levels));
      const int level = std::stoi(m[2]);
      t.rises += level > prevLevel;
      t.falls += level < prevLevel;
      prevLevel = level;
      keysAt[hhmm] = std::stoi(m[1]);
      ++samples;
    } else if (std::regex_match(line, m, action)) {
      EXPECT_EQ(m[1], day + hour);  // the day and the hour of the last sample
      ++actions;
    } else if (std::regex_match(line, entry)) {
      ++entries;
    } else {
      EXPECT_TRUE(std::regex_match(line, other)) << "unrecognised alert line";
      ++t.kinds[line.substr(0, 4)];
    }
  }
  EXPECT_TRUE(samples >= 420 && samples <= 560) << samples;  // about one per working minute of eight hours
  EXPECT_EQ(t.kinds["STAr"] - restarts, 2);                  // morning and after lunch
  EXPECT_TRUE(actions >= 1 && entries >= 1);
}

// From position 10: "window","application" count key,count pairs, each word
// space-ended; the count is the alert sample's keystrokes of that minute.
void CheckActivityLog(const std::string& bytes, const std::map<int, int>& keysAt, Totals& t) {
  static const std::regex data(R"re(\d{3} (\d{4}) "([^"]*)","[^"]+" (\d+) ((\d+,\d+ )+))re"),
      other(R"(User Project: .+ \(.+\)|User Notes: [^ ].*)");
  int dataLines = 0;
  std::string lastWindow;
  std::smatch m;
  for (const std::string& line : Lines(bytes)) {
    SCOPED_TRACE(line);
    if (std::regex_match(line, m, data)) {
      t.switches += !lastWindow.empty() && m[2] != lastWindow;
      lastWindow = m[2];
      std::istringstream pairs(m[4]);
      int sum = 0;
      for (int key, count; pairs >> key && pairs.ignore() >> count; sum += count) {
        EXPECT_TRUE(key <= 256 && count > 0) << key << "," << count;
        t.keys.insert(key);
      }
      EXPECT_EQ(std::stoi(m[3]), sum);
      const auto keys = keysAt.find(std::stoi(m[1]));
      ASSERT_NE(keys, keysAt.end());
      EXPECT_EQ(keys->second, sum) << "keystrokes of the alert sample";
      ++dataLines;
    } else {
      EXPECT_TRUE(std::regex_match(line, other)) << "unrecognised activity line";
      ++t.kinds[line.substr(0, 4) + line.substr(5, 1)];
    }
  }
  EXPECT_EQ(dataLines, std::count_if(keysAt.begin(), keysAt.end(), [](const auto& k) { return k.second > 0; }));
}

TEST(DayLogs, LinesHaveTheShapesTheLoadersRead) {
  Totals t;
  std::string all;
  for (int32_t user = 1; user <= 12; ++user) {
    for (int day = 0; day < 5; ++day, ++t.days) {
      const prax::dt::Date date = prax::gen::NthWeekday({2026, 1, 5}, day);
      const prax::gen::DayLogs logs = prax::gen::GenerateDayLogs(99, user, day, date);
      SCOPED_TRACE("user " + std::to_string(user) + " day " + std::to_string(day));
      std::map<int, int> keysAt;
      const int projects = t.kinds["UserP"];
      CheckAlertLog(logs.alert, date, t, keysAt);
      CheckActivityLog(logs.activity, keysAt, t);
      EXPECT_GT(t.kinds["UserP"], projects);
      all += logs.alert + logs.activity;
      EXPECT_GE(logs.endHour * 60 + logs.endMinute, 16 * 60);
    }
  }
  // Over sixty days every kind of event shows up; levels rise and fall.
  EXPECT_GT(t.rises, t.days);
  EXPECT_GT(t.falls, t.days / 2);
  EXPECT_TRUE(t.kinds["Stre"] && t.kinds["Keyb"] + t.kinds["Mous"] && t.kinds["CYCL"]);
  EXPECT_GT(t.kinds["User"] + t.kinds["UserN"], t.days);
  EXPECT_GT(t.switches, t.days * 10);
  EXPECT_TRUE(t.keys.count(8) && t.keys.count(46) && t.keys.count(65));
  EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](char c) { return c & 0x80; }));
  EXPECT_EQ(all.find('\xC3'), std::string::npos);  // Windows-1252, not UTF-8
}

TEST(DayLogs, FileNamesFollowTheUsersNamingForm) {
  using prax::gen::NameForm;
  const std::tuple<NameForm, bool, int, const char*> cases[] = {
      {NameForm::Dated, false, 0, "20260203.PXL"},    {NameForm::DayOfYear, false, 0, "PRAX034.PXL"},
      {NameForm::DayOfYear, true, 0, "prax034.pxl"},  {NameForm::Mixed, false, 1, "PRAX034.PXL"},  // before the switch
      {NameForm::Mixed, false, 2, "20260203.PXL"}};
  for (const auto& [form, lower, dayIndex, expected] : cases) {
    prax::gen::UserProfile p;
    p.nameForm = form;
    p.lowerCaseNames = lower;
    p.dayOfYearUntil = 2;
    EXPECT_EQ(prax::gen::LogFileName(p, dayIndex, {2026, 2, 3}, "PXL"), expected);
  }
}

}  // namespace
