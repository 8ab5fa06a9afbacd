// The simulated logs have the shapes the loaders read: fixed positions of
// sample and data lines, words each followed by a space, event lines in the
// client's layouts, key pairs that add up, Windows-1252 text and CR LF ends.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "gen/day_logs.h"

namespace {

std::vector<std::string> SplitCrLf(const std::string& bytes) {
  std::vector<std::string> lines;
  for (std::size_t pos = 0, end; pos < bytes.size(); pos = end + 2) {
    end = bytes.find("\r\n", pos);
    if (end == std::string::npos) {
      ADD_FAILURE() << "last line without CR LF";
      break;
    }
    lines.push_back(bytes.substr(pos, end - pos));
  }
  return lines;
}

// Words as the alert parser cuts them: word k runs up to the (k+1)-th space.
std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  for (std::size_t pos = 0, space; (space = line.find(' ', pos)) != std::string_view::npos; pos = space + 1)
    words.emplace_back(line.substr(pos, space - pos));
  return words;
}

int Num(std::string_view s) {
  const bool digits = !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  return digits ? std::stoi(std::string(s)) : -1;
}
bool Starts(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }
bool IsDataLine(std::string_view line) { return line.size() >= 3 && Num(line.substr(0, 3)) > 0; }

struct Totals {
  int days = 0, rises = 0, falls = 0, stretch = 0, warnings = 0, cycled = 0, notes = 0, switches = 0;
  std::set<int> keys;
};

// Checks one alert log; keysAt gets the keystrokes by hhmm of its samples.
void CheckAlertLog(const std::string& bytes, const prax::dt::Date& date, Totals& t, std::map<int, int>& keysAt) {
  int samples = 0, restarts = 0, actions = 0, entries = 0, prevTime = -1, prevLevel = 0, hour = -1;
  char stamp[12];
  for (const std::string& line : SplitCrLf(bytes)) {
    SCOPED_TRACE(line);
    ASSERT_FALSE(line.empty());  // an empty line would end the reading of the file
    if (IsDataLine(line)) {
      ASSERT_GE(line.size(), 9u);
      EXPECT_TRUE(line[3] == ' ' && line[8] == ' ');
      const int hh = Num(line.substr(4, 2)), mm = Num(line.substr(6, 2));
      ASSERT_TRUE(hh >= 0 && hh < 24 && mm >= 0 && mm < 60);
      EXPECT_GE(hh * 60 + mm, prevTime);
      prevTime = hh * 60 + mm;
      hour = hh;
      // Thirteen words or more, each followed by a space: after twelve the parser's buffer is not empty.
      const std::vector<std::string> w = Words(line);
      ASSERT_GE(w.size(), 13u);
      EXPECT_EQ(line.back(), ' ');
      if (line.find("RECOV") != std::string::npos) continue;
      for (int k : {2, 3, 4, 6, 7, 8}) EXPECT_GE(Num(w[static_cast<std::size_t>(k)]), 0) << "word " << k;
      const int level = Num(w[3]);
      EXPECT_TRUE(level <= 5 && Num(w[7]) <= 5);
      t.rises += level > prevLevel;
      t.falls += level < prevLevel;
      prevLevel = level;
      keysAt[hh * 100 + mm] = Num(w[2]);
      ++samples;
    } else if (Starts(line, "User Action: ")) {
      // "User Action: " text '*' yymmdd ' ' hh of the last sample.
      const std::size_t star = line.find('*');
      ASSERT_NE(star, std::string::npos);
      EXPECT_TRUE(star > 13 && line[13] != ' ');
      std::snprintf(stamp, sizeof stamp, "%02d%02d%02d %02d", date.year % 100, date.month, date.day, hour);
      EXPECT_EQ(line.substr(star + 1), stamp);
      ++actions;
    } else if (Starts(line, "User Entry: ")) {
      // The discomfort from character 14, "--", one blank, the body part.
      const std::size_t p = line.find("--");
      ASSERT_TRUE(p != std::string::npos && p > 13 && line.size() > p + 3);
      EXPECT_TRUE(line[13] != ' ' && line[p + 2] == ' ');
      ++entries;
    } else if (Starts(line, "User Notes: ")) {
      EXPECT_TRUE(line.size() > 12 && line[12] != ' ');
      ++t.notes;
    } else if (line == "Stretch Alert" || line == "CYCLED" || Starts(line, "STA")) {
      ++(line[0] == 'S' ? (line[1] == 't' ? t.stretch : restarts) : t.cycled);
    } else if (Starts(line, "Keyboard Warning") || Starts(line, "Mouse Warning")) {
      EXPECT_NE(line.find("level 5"), std::string::npos);
      ++t.warnings;
    } else {
      ADD_FAILURE() << "unrecognised alert line";
    }
  }
  EXPECT_TRUE(samples >= 420 && samples <= 560) << samples;  // about one per working minute of eight hours
  EXPECT_EQ(restarts, 2);                                    // morning and after lunch
  EXPECT_TRUE(actions >= 1 && entries >= 1);
}

void CheckActivityLog(const std::string& bytes, const std::map<int, int>& keysAt, Totals& t) {
  int dataLines = 0, projects = 0;
  std::string lastWindow;
  for (const std::string& line : SplitCrLf(bytes)) {
    SCOPED_TRACE(line);
    ASSERT_FALSE(line.empty());
    if (IsDataLine(line)) {
      // From position 10: "window","application" count key,count pairs, each word space-ended.
      ASSERT_TRUE(line[8] == ' ' && line[9] == '"');
      const std::size_t windowEnd = line.find("\",\"", 10);
      ASSERT_NE(windowEnd, std::string::npos);
      const std::size_t appEnd = line.find("\" ", windowEnd + 3);
      ASSERT_TRUE(appEnd != std::string::npos && appEnd > windowEnd + 3);
      const std::string window = line.substr(10, windowEnd - 10);
      t.switches += !lastWindow.empty() && window != lastWindow;
      lastWindow = window;
      const std::vector<std::string> w = Words(std::string_view(line).substr(appEnd + 2));
      ASSERT_GE(w.size(), 2u);
      EXPECT_EQ(line.back(), ' ');
      int sum = 0;
      for (std::size_t i = 1; i < w.size(); ++i) {
        const std::size_t comma = w[i].find(',');
        ASSERT_NE(comma, std::string::npos) << w[i];
        const int key = Num(w[i].substr(0, comma)), count = Num(w[i].substr(comma + 1));
        EXPECT_TRUE(key >= 0 && key <= 256 && count > 0) << w[i];
        t.keys.insert(key);
        sum += count;
      }
      EXPECT_EQ(Num(w[0]), sum);
      const int hhmm = Num(line.substr(4, 4));
      ASSERT_TRUE(keysAt.count(hhmm));
      EXPECT_EQ(keysAt.at(hhmm), sum) << "keystrokes of the alert sample";
      ++dataLines;
    } else if (Starts(line, "User Project:")) {
      const std::size_t open = line.find('('), close = line.find(')');
      EXPECT_TRUE(open != std::string::npos && open > 14 && close != std::string::npos && close > open + 1);
      ++projects;
    } else if (Starts(line, "User Notes: ")) {
      EXPECT_TRUE(line.size() > 12 && line[12] != ' ');
      ++t.notes;
    } else {
      ADD_FAILURE() << "unrecognised activity line";
    }
  }
  EXPECT_EQ(dataLines, std::count_if(keysAt.begin(), keysAt.end(), [](const auto& k) { return k.second > 0; }));
  EXPECT_GE(projects, 1);
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
      CheckAlertLog(logs.alert, date, t, keysAt);
      CheckActivityLog(logs.activity, keysAt, t);
      all += logs.alert + logs.activity;
      EXPECT_GE(logs.endHour * 60 + logs.endMinute, 16 * 60);
    }
  }
  // Over sixty days every kind of event shows up; levels rise and fall.
  EXPECT_GT(t.rises, t.days);
  EXPECT_GT(t.falls, t.days / 2);
  EXPECT_TRUE(t.stretch > 0 && t.warnings > 0 && t.cycled > 0);
  EXPECT_GT(t.notes, t.days);
  EXPECT_GT(t.switches, t.days * 10);
  EXPECT_TRUE(t.keys.count(8) && t.keys.count(46) && t.keys.count(65));
  EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](char c) { return c & 0x80; }));
  EXPECT_EQ(all.find('\xC3'), std::string::npos);  // Windows-1252, not UTF-8
}

TEST(DayLogs, FileNamesFollowTheUsersNamingForm) {
  using prax::gen::NameForm;
  const struct {
    NameForm form;
    bool lower;
    int dayIndex;
    const char* expected;
  } cases[] = {
      {NameForm::Dated, false, 0, "20260203.PXL"},    {NameForm::DayOfYear, false, 0, "PRAX034.PXL"},
      {NameForm::DayOfYear, true, 0, "prax034.pxl"},  {NameForm::Mixed, false, 1, "PRAX034.PXL"},  // before the switch
      {NameForm::Mixed, false, 2, "20260203.PXL"},
  };
  for (const auto& c : cases) {
    prax::gen::UserProfile p;
    p.nameForm = c.form;
    p.lowerCaseNames = c.lower;
    p.dayOfYearUntil = 2;
    EXPECT_EQ(prax::gen::LogFileName(p, c.dayIndex, {2026, 2, 3}, "PXL"), c.expected);
  }
}

}  // namespace
