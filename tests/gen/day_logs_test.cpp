// The simulated logs have the shapes the loaders read: fixed positions of
// sample and data lines, words each followed by a space, event lines in the
// client's layouts, key pairs that add up, Windows-1252 text and CR LF ends.

#include <gtest/gtest.h>

#include <cstdio>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "gen/day_logs.h"

namespace {

using prax::gen::GenerateDayLogs;

std::vector<std::string> SplitCrLf(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const std::size_t end = bytes.find("\r\n", pos);
    EXPECT_NE(end, std::string::npos) << "last line without CR LF";
    if (end == std::string::npos) break;
    lines.push_back(bytes.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

// Words as the alert parser cuts them: word k runs up to the (k+1)-th space.
std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  std::size_t pos = 0, space;
  while ((space = line.find(' ', pos)) != std::string_view::npos) {
    words.emplace_back(line.substr(pos, space - pos));
    pos = space + 1;
  }
  return words;
}

bool Digits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}
int Num(std::string_view s) { return Digits(s) ? std::stoi(std::string(s)) : -1; }
bool Starts(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }
bool IsDataLine(std::string_view line) { return line.size() >= 3 && Digits(line.substr(0, 3)) && Num(line.substr(0, 3)) > 0; }

struct Totals {
  int days = 0, rises = 0, falls = 0, stretch = 0, warnings = 0, cycled = 0, notes = 0, windowSwitches = 0;
  std::set<int> keys;
  bool nonAscii = false, utf8 = false;
};

// Checks one alert log and fills keysAt with the keystrokes by hhmm of its sample lines.
void CheckAlertLog(const std::string& bytes, const prax::dt::Date& date, Totals& t, std::map<int, int>& keysAt) {
  int samples = 0, restarts = 0, actions = 0, entries = 0, prevTime = -1, prevLevel = 0, hour = -1;
  char yymmdd[8];
  std::snprintf(yymmdd, sizeof yymmdd, "%02d%02d%02d", date.year % 100, date.month, date.day);
  for (const std::string& line : SplitCrLf(bytes)) {
    SCOPED_TRACE(line);
    ASSERT_FALSE(line.empty());  // an empty line would end the reading of the file
    if (IsDataLine(line)) {
      ASSERT_GE(line.size(), 9u);
      EXPECT_EQ(line[3], ' ');
      EXPECT_EQ(line[8], ' ');
      const int hh = Num(line.substr(4, 2)), mm = Num(line.substr(6, 2));
      ASSERT_TRUE(hh >= 0 && hh < 24 && mm >= 0 && mm < 60);
      EXPECT_GE(hh * 60 + mm, prevTime);
      prevTime = hh * 60 + mm;
      hour = hh;
      // At least thirteen words, each followed by a space: after twelve
      // words the parser's buffer must not be empty.
      const std::vector<std::string> w = Words(line);
      ASSERT_GE(w.size(), 13u);
      EXPECT_EQ(line.back(), ' ');
      if (line.find("RECOV") != std::string::npos) continue;
      for (int k : {2, 3, 4, 6, 7, 8}) EXPECT_TRUE(Digits(w[static_cast<std::size_t>(k)])) << "word " << k;
      const int level = Num(w[3]);
      EXPECT_TRUE(level >= 0 && level <= 5 && Num(w[7]) >= 0 && Num(w[7]) <= 5);
      t.rises += level > prevLevel;
      t.falls += level < prevLevel;
      prevLevel = level;
      keysAt[hh * 100 + mm] = Num(w[2]);
      ++samples;
    } else if (Starts(line, "User Action:")) {
      ASSERT_GT(line.size(), 12u);
      const std::string rest = line.substr(13);
      const std::size_t star = rest.find('*');
      ASSERT_NE(star, std::string::npos);
      EXPECT_GT(star, 0u);
      EXPECT_NE(rest[0], ' ');
      EXPECT_EQ(rest.substr(star + 1, 6), yymmdd);
      char clockHour[4];
      std::snprintf(clockHour, sizeof clockHour, " %02d", hour);
      EXPECT_EQ(rest.substr(star + 7), clockHour);
      ++actions;
    } else if (Starts(line, "User Entry:")) {
      // The discomfort starts at character 14; "--", one blank, the body part.
      ASSERT_GT(line.size(), 14u);
      const std::string rest = line.substr(13);
      EXPECT_NE(rest[0], ' ');
      const std::size_t p = rest.find("--");
      ASSERT_NE(p, std::string::npos);
      EXPECT_GT(p, 0u);
      ASSERT_GT(rest.size(), p + 3);
      EXPECT_EQ(rest[p + 2], ' ');
      ++entries;
    } else if (Starts(line, "User Notes:")) {
      ASSERT_GT(line.size(), 12u);
      EXPECT_EQ(line[11], ' ');
      EXPECT_NE(line[12], ' ');
      ++t.notes;
    } else if (line == "Stretch Alert") {
      ++t.stretch;
    } else if (line == "CYCLED") {
      ++t.cycled;
    } else if (Starts(line, "STA")) {
      ++restarts;
    } else if (Starts(line, "Keyboard Warning") || Starts(line, "Mouse Warning")) {
      EXPECT_GT(line.size(), 20u);
      EXPECT_NE(line.find("level 5"), std::string::npos);
      ++t.warnings;
    } else {
      ADD_FAILURE() << "unrecognised alert line";
    }
  }
  // About one sample per working minute of an eight-hour day.
  EXPECT_GE(samples, 420);
  EXPECT_LE(samples, 560);
  EXPECT_EQ(restarts, 2);  // morning and after lunch
  EXPECT_GE(actions, 1);
  EXPECT_GE(entries, 1);
}

void CheckActivityLog(const std::string& bytes, const std::map<int, int>& keysAt, Totals& t) {
  int dataLines = 0, projects = 0;
  std::string lastWindow;
  for (const std::string& line : SplitCrLf(bytes)) {
    SCOPED_TRACE(line);
    ASSERT_FALSE(line.empty());
    if (IsDataLine(line)) {
      const int hhmm = Num(line.substr(4, 4));
      ASSERT_EQ(line[8], ' ');
      // The tail at position 10: "window","application" number pairs.
      ASSERT_EQ(line[9], '"');
      const std::size_t windowEnd = line.find('"', 10);
      ASSERT_NE(windowEnd, std::string::npos);
      ASSERT_EQ(line.substr(windowEnd, 3), "\",\"");
      const std::size_t appEnd = line.find('"', windowEnd + 3);
      ASSERT_NE(appEnd, std::string::npos);
      EXPECT_GT(appEnd, windowEnd + 3);
      const std::string window = line.substr(10, windowEnd - 10);
      t.windowSwitches += !lastWindow.empty() && window != lastWindow;
      lastWindow = window;
      ASSERT_EQ(line[appEnd + 1], ' ');
      const std::vector<std::string> w = Words(std::string_view(line).substr(appEnd + 2));
      ASSERT_GE(w.size(), 2u);
      int sum = 0;
      for (std::size_t i = 1; i < w.size(); ++i) {
        const std::size_t comma = w[i].find(',');
        ASSERT_NE(comma, std::string::npos) << w[i];
        const int key = Num(w[i].substr(0, comma)), count = Num(w[i].substr(comma + 1));
        EXPECT_TRUE(key >= 0 && key <= 256 && count > 0) << w[i];
        t.keys.insert(key);
        sum += count;
      }
      EXPECT_EQ(line.back(), ' ');
      EXPECT_EQ(Num(w[0]), sum);
      ASSERT_TRUE(keysAt.count(hhmm));
      EXPECT_EQ(keysAt.at(hhmm), sum) << "keystrokes of the alert sample";
      ++dataLines;
    } else if (Starts(line, "User Project:")) {
      const std::size_t open = line.find('('), close = line.find(')');
      ASSERT_TRUE(open != std::string::npos && close != std::string::npos && open < close);
      EXPECT_GT(open, 14u);
      EXPECT_GT(close, open + 1);
      ++projects;
    } else if (Starts(line, "User Notes:")) {
      ASSERT_GT(line.size(), 12u);
      EXPECT_NE(line[12], ' ');
      ++t.notes;
    } else {
      ADD_FAILURE() << "unrecognised activity line";
    }
  }
  int activeMinutes = 0;
  for (const auto& [hhmm, keys] : keysAt) activeMinutes += keys > 0;
  EXPECT_EQ(dataLines, activeMinutes);
  EXPECT_GE(projects, 1);
}

TEST(DayLogs, LinesHaveTheShapesTheLoadersRead) {
  Totals t;
  for (int32_t user = 1; user <= 12; ++user) {
    for (int day = 0; day < 5; ++day) {
      const prax::dt::Date date = prax::gen::NthWeekday({2026, 1, 5}, day);
      const prax::gen::DayLogs logs = GenerateDayLogs(99, user, day, date);
      SCOPED_TRACE("user " + std::to_string(user) + " day " + std::to_string(day));
      std::map<int, int> keysAt;
      CheckAlertLog(logs.alert, date, t, keysAt);
      CheckActivityLog(logs.activity, keysAt, t);
      for (const std::string* bytes : {&logs.alert, &logs.activity})
        for (unsigned char c : *bytes) {
          t.nonAscii = t.nonAscii || c >= 0x80;
          t.utf8 = t.utf8 || c == 0xC3;
        }
      EXPECT_GE(logs.endHour * 60 + logs.endMinute, 16 * 60);
      ++t.days;
    }
  }
  // Over sixty days every kind of event shows up; levels rise and fall.
  EXPECT_GT(t.rises, t.days);
  EXPECT_GT(t.falls, t.days / 2);
  EXPECT_GT(t.stretch, 0);
  EXPECT_GT(t.warnings, 0);
  EXPECT_GT(t.cycled, 0);
  EXPECT_GT(t.notes, t.days);
  EXPECT_GT(t.windowSwitches, t.days * 10);
  EXPECT_TRUE(t.keys.count(8) && t.keys.count(46) && t.keys.count(65));
  EXPECT_TRUE(t.nonAscii);
  EXPECT_FALSE(t.utf8);  // Windows-1252, not UTF-8
}

TEST(DayLogs, FileNamesFollowTheUsersNamingForm) {
  prax::gen::UserProfile p;
  const prax::dt::Date date{2026, 2, 3};
  struct Case {
    prax::gen::NameForm form;
    bool lower;
    int dayIndex;
    const char* expected;
  };
  const Case cases[] = {
      {prax::gen::NameForm::Dated, false, 0, "20260203.PXL"},
      {prax::gen::NameForm::DayOfYear, false, 0, "PRAX034.PXL"},
      {prax::gen::NameForm::DayOfYear, true, 0, "prax034.pxl"},
      {prax::gen::NameForm::Mixed, false, 1, "PRAX034.PXL"},  // before the switch
      {prax::gen::NameForm::Mixed, false, 2, "20260203.PXL"},
  };
  for (const Case& c : cases) {
    p.nameForm = c.form;
    p.lowerCaseNames = c.lower;
    p.dayOfYearUntil = 2;
    EXPECT_EQ(prax::gen::LogFileName(p, c.dayIndex, date, "PXL"), c.expected);
  }
}

}  // namespace
