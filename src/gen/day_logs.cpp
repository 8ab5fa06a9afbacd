#include "gen/day_logs.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "gen/gen_random.h"
#include "platform/text.h"

namespace prax::gen {

namespace {

// ---------------------------------------------------------------- vocabulary

struct Application {
  std::string name;
  std::vector<std::string> windows;
};

// The names the simulated clients write, held as Windows-1252 bytes.
struct Vocabulary {
  std::vector<Application> apps;
  std::vector<std::string> tools, discomforts, bodyParts, alertNotes, activityNotes, projects, tasks;
};

std::vector<std::string> Cp1252(std::initializer_list<const char*> utf8) {
  std::vector<std::string> out;
  for (const char* s : utf8) out.push_back(text::Utf8ToCp1252(s));
  return out;
}

const Vocabulary& Words() {
  static const Vocabulary words = [] {
    Vocabulary v;
    auto app = [&](const char* name, std::initializer_list<const char*> windows) {
      v.apps.push_back({text::Utf8ToCp1252(name), Cp1252(windows)});
    };
    app("Microsoft Word", {"Résumé Template.docx - Word", "Quarterly Report.docx - Word",
                           "Minutes 12 March.docx - Word"});
    app("Microsoft Excel", {"Budget 2026.xlsx - Excel", "Café Sales.xlsx - Excel", "Timesheet.xlsx - Excel"});
    app("Microsoft Outlook", {"Inbox - Outlook", "Calendar - Outlook", "RE: Projet Zürich - Message"});
    app("Google Chrome", {"Intranet Home - Google Chrome", "Expense Claims - Google Chrome",
                          "Issue Board - Google Chrome"});
    app("SAP Logon", {"SAP Easy Access", "Display Vendor: Überblick"});
    app("Notepad", {"notes.txt - Notepad", "todo.txt - Notepad"});
    app("Microsoft Teams", {"Chat | Microsoft Teams", "Weekly Stand-up | Microsoft Teams"});
    app("Visual Studio Code", {"main.cpp - Visual Studio Code", "README.md - Visual Studio Code"});
    v.tools = Cp1252({"Wrist Rest", "Ergonomic Mouse", "Footrest", "Document Holder", "Monitor Riser",
                      "Stretch Guide", "Eye Break Timer"});
    v.discomforts = Cp1252({"Ache", "Stiffness", "Tingling", "Numbness", "Fatigue", "Pain", "Gêne"});
    v.bodyParts = Cp1252({"Neck", "Shoulders", "Lower Back", "Right Wrist", "Left Wrist", "Eyes", "Fingers",
                          "Épaule"});
    v.alertNotes = Cp1252({"Adjusted chair height", "Took a longer walk", "Screen glare in the afternoon",
                           "Wrist sore after long report", "Felt better after stretching",
                           "Réunion ran late", "Keyboard moved closer"});
    v.activityNotes = Cp1252({"Client call about invoice", "Back at desk", "Waiting for review",
                              "Fixed formula errors", "Prepared slides for Zürich", "Handed over to the late shift"});
    v.projects = Cp1252({"Alpha", "Bravo", "Payroll 2026", "Migration", "Café Relaunch", "Support Desk"});
    v.tasks = Cp1252({"Design", "Review", "Testing", "Admin", "Support", "Réunion", "Documentation"});
    return v;
  }();
  return words;
}

const std::array<const char*, 24> kFirstNames = {
    "James", "Mary", "Élodie", "Jürgen", "Sofía", "Liam", "Chloé", "Noah", "Zoë", "Ömer", "Aoife", "Björn",
    "Ana", "Thomas", "Priya", "Wei", "Fatima", "Lucas", "Emma", "Oliver", "Agnès", "Håkon", "Grace", "Raúl"};
const std::array<const char*, 24> kLastNames = {
    "Smith", "Müller", "García", "Dubois", "O'Brien", "Núñez", "Kowalski", "Johansson",
    "Nguyen", "Rossi", "Lefèvre", "Brown", "Wilson", "Taylor", "Schäfer", "Jensen",
    "Patel", "Martin", "Kelly", "Novák", "Fernández", "Walsh", "Bergström", "Clarke"};
const std::array<const char*, 5> kLocations = {"Head Office", "Zürich", "Montréal", "Leeds", "Dublin"};
const std::array<const char*, 6> kDepartments = {"Accounts", "Engineering", "Customer Service", "Marketing",
                                                 "Ressources Humaines", "Logistics"};
const std::array<const char*, 6> kPositions = {"Clerk", "Engineer", "Manager", "Analyst", "Team Leader",
                                               "Secrétaire"};

// Stream identifiers, so that the profile, the names and each day draw from
// unrelated sequences of the same seed.
enum : uint64_t { kProfileStream = 1, kNameStream = 2, kDefStream = 3, kDayStream = 4 };

// ---------------------------------------------------------------- formatting

void AppendNumber(std::string& out, int64_t v) {
  if (v < 0) {
    out += '-';
    v = -v;
  }
  char buf[20];
  int n = 0;
  do {
    buf[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v > 0);
  while (n > 0) out += buf[--n];
}

void AppendDigits(std::string& out, int v, int width) {
  char buf[8];
  for (int i = width - 1; i >= 0; --i) {
    buf[i] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
  out.append(buf, static_cast<std::size_t>(width));
}

void EndLine(std::string& out) { out += "\r\n"; }

// "001 0905 " : the sequence number and the time, words 0 and 1 of every data line.
void AppendStamp(std::string& out, int seq, int minuteOfDay) {
  AppendDigits(out, (seq - 1) % 999 + 1, 3);
  out += ' ';
  AppendDigits(out, minuteOfDay / 60, 2);
  AppendDigits(out, minuteOfDay % 60, 2);
  out += ' ';
}

void AppendClock(std::string& out, int minuteOfDay) {
  AppendDigits(out, minuteOfDay / 60, 2);
  out += ':';
  AppendDigits(out, minuteOfDay % 60, 2);
}

// ---------------------------------------------------------------- simulation

struct Sample {
  int keys = 0, mouseSeconds = 0;
};

// Key numbers other than the error keys that show up in the counts.
constexpr std::array<int, 20> kKeyPool = {32, 13, 16, 65, 69, 73, 78, 79, 82, 83,
                                          84, 76, 67, 68, 85, 190, 188, 9, 37, 39};

void AppendActivityLine(std::string& out, Random& rng, const UserProfile& p, int seq, int minute,
                        const std::string& window, const std::string& app, int keys) {
  AppendStamp(out, seq, minute);
  out += '"';
  out += window;
  out += "\",\"";
  out += app;
  out += "\" ";
  AppendNumber(out, keys);
  out += ' ';
  // Split the minute's keystrokes over the error keys and a few others.
  std::array<std::pair<int, int>, 10> pairs{};
  int n = 0;
  int rest = keys;
  int backspace = static_cast<int>(keys * p.errorRate * (0.5 + rng.Unit()));
  if (backspace > rest) backspace = rest;
  if (backspace > 0) {
    pairs[n++] = {8, backspace};
    rest -= backspace;
  }
  if (rest > 3 && rng.Chance(0.12)) {
    const int del = rng.Between(1, 3);
    pairs[n++] = {46, del};
    rest -= del;
  }
  if (rest > 0) {
    const int others = std::min(rest, rng.Between(2, 6));
    std::array<int, 6> keysChosen{};
    std::array<int, 6> weights{};
    int chosen = 0, weightSum = 0;
    while (chosen < others) {
      const int k = rng.Pick(kKeyPool);
      bool seen = false;
      for (int i = 0; i < chosen; ++i) seen = seen || keysChosen[i] == k;
      if (seen) continue;
      keysChosen[chosen] = k;
      weights[chosen] = rng.Between(1, 10);
      weightSum += weights[chosen];
      ++chosen;
    }
    int left = rest;
    for (int i = 0; i < chosen; ++i) {
      const int c = (i == chosen - 1) ? left : rest * weights[i] / weightSum;
      left -= c;
      if (c > 0) pairs[n++] = {keysChosen[i], c};
    }
  }
  std::sort(pairs.begin(), pairs.begin() + n);
  for (int i = 0; i < n; ++i) {
    AppendNumber(out, pairs[i].first);
    out += ',';
    AppendNumber(out, pairs[i].second);
    out += ' ';
  }
  EndLine(out);
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

// ---------------------------------------------------------------- calendar

dt::Date NthWeekday(const dt::Date& start, int n) {
  int64_t day = dt::SerialDay(start);
  const auto weekend = [](int64_t serial) { return dt::Weekday(dt::FromSerialDay(serial)) >= 5; };
  while (weekend(day)) ++day;
  // Whole weeks first, then single days.
  day += static_cast<int64_t>(n / 5) * 7;
  for (int i = 0; i < n % 5; ++i) {
    ++day;
    while (weekend(day)) ++day;
  }
  return dt::FromSerialDay(day);
}

// ---------------------------------------------------------------- users

UserProfile MakeProfile(uint64_t seed, int32_t user) {
  Random rng(Mix(seed, kProfileStream, static_cast<uint64_t>(user)));
  const Vocabulary& v = Words();
  UserProfile p;
  p.startMinute = rng.Between(7 * 60 + 50, 9 * 60 + 15);
  p.typingRate = rng.Between(20, 80);
  p.levelInterval = rng.Between(10, 22);
  // Some users work on through their alerts; most take a break sooner or later.
  p.breakCompliance = rng.Chance(0.3) ? 0.002 + 0.006 * rng.Unit() : 0.01 + 0.05 * rng.Unit();
  p.errorRate = 0.02 + 0.08 * rng.Unit();
  const int appCount = rng.Between(3, 5);
  while (static_cast<int>(p.apps.size()) < appCount) {
    const int a = rng.Below(static_cast<int>(v.apps.size()));
    if (std::find(p.apps.begin(), p.apps.end(), a) == p.apps.end()) p.apps.push_back(a);
  }
  const int projectCount = rng.Between(1, 3);
  while (static_cast<int>(p.projects.size()) < projectCount) {
    const int a = rng.Below(static_cast<int>(v.projects.size()));
    if (std::find(p.projects.begin(), p.projects.end(), a) == p.projects.end()) p.projects.push_back(a);
  }
  const int form = rng.Below(10);
  p.nameForm = form < 5 ? NameForm::Dated : (form < 8 ? NameForm::DayOfYear : NameForm::Mixed);
  p.dayOfYearUntil = rng.Between(1, 10);
  p.lowerCaseNames = rng.Chance(0.15);
  return p;
}

PersonName MakePersonName(uint64_t seed, int32_t user) {
  Random rng(Mix(seed, kNameStream, static_cast<uint64_t>(user)));
  PersonName n;
  n.first = rng.Pick(kFirstNames);
  n.last = rng.Pick(kLastNames);
  if (rng.Chance(0.6)) n.middle = std::string(1, static_cast<char>('A' + rng.Below(26)));
  return n;
}

UserDefinition MakeUserDefinition(uint64_t seed, int32_t user) {
  Random rng(Mix(seed, kDefStream, static_cast<uint64_t>(user)));
  // A braced list is evaluated from left to right: location, department, position.
  return UserDefinition{std::string(rng.Pick(kLocations)), std::string(rng.Pick(kDepartments)),
                        std::string(rng.Pick(kPositions))};
}

std::string LogFileName(const UserProfile& profile, int dayIndex, const dt::Date& date, const char* ext) {
  const bool dayOfYear = profile.nameForm == NameForm::DayOfYear ||
                         (profile.nameForm == NameForm::Mixed && dayIndex < profile.dayOfYearUntil);
  std::string name;
  if (dayOfYear) {
    name = "PRAX";
    AppendDigits(name, dt::DayOfYear(date), 3);
  } else {
    AppendDigits(name, date.year, 4);
    AppendDigits(name, date.month, 2);
    AppendDigits(name, date.day, 2);
  }
  name += '.';
  name += ext;
  if (profile.lowerCaseNames)
    for (char& c : name) c = Lower(c);
  return name;
}

// ---------------------------------------------------------------- one day

DayLogs GenerateDayLogs(uint64_t seed, int32_t user, int dayIndex, const dt::Date& date) {
  const UserProfile p = MakeProfile(seed, user);
  const Vocabulary& v = Words();
  Random rng(Mix(Mix(seed, kDayStream), static_cast<uint64_t>(user), static_cast<uint64_t>(dayIndex)));

  const int start = p.startMinute + rng.Between(-10, 10);
  const int lunchStart = 12 * 60 + rng.Between(-15, 45);
  const int lunchLength = rng.Between(30, 60);
  const int end = start + 8 * 60 + lunchLength + rng.Between(-20, 20);
  const int workMinutes = end - start - lunchLength;

  // Minutes (counted over working minutes) of the day's recorded events.
  auto minuteAt = [&] { return rng.Between(5, workMinutes - 5); };
  std::array<int, 3> actionAt{-1, -1, -1};
  const int actions = rng.Between(1, 3);
  for (int i = 0; i < actions; ++i) actionAt[static_cast<std::size_t>(i)] = minuteAt();
  std::array<int, 2> entryAt{-1, -1};
  const int entries = rng.Between(1, 2);
  for (int i = 0; i < entries; ++i) entryAt[static_cast<std::size_t>(i)] = minuteAt();
  const int cycledAt = rng.Chance(0.15) ? minuteAt() : -1;
  const int recoverAt = rng.Chance(0.05) ? minuteAt() : -1;
  std::array<int, 3> projectAt{-1, -1, -1};
  const int projectSwitches = rng.Between(0, 3);
  for (int i = 0; i < projectSwitches; ++i) projectAt[static_cast<std::size_t>(i)] = minuteAt();
  std::array<int, 3> noteAt{-1, -1, -1};
  const int notes = rng.Between(1, 3);
  for (int i = 0; i < notes; ++i) noteAt[static_cast<std::size_t>(i)] = minuteAt();
  auto isIn = [](const auto& list, int m) { return std::find(list.begin(), list.end(), m) != list.end(); };

  DayLogs out;
  out.alert.reserve(static_cast<std::size_t>(workMinutes) * 48 + 512);
  out.activity.reserve(static_cast<std::size_t>(workMinutes) * 80 + 512);
  std::string& al = out.alert;
  std::string& ac = out.activity;

  // The yymmdd text of the day, used by "User Action:" lines.
  std::string yymmdd;
  AppendDigits(yymmdd, date.year % 100, 2);
  AppendDigits(yymmdd, date.month, 2);
  AppendDigits(yymmdd, date.day, 2);

  auto pickWindow = [&](int& app, int& window) {
    app = p.apps[static_cast<std::size_t>(rng.Below(static_cast<int>(p.apps.size())))];
    window = rng.Below(static_cast<int>(v.apps[static_cast<std::size_t>(app)].windows.size()));
  };
  auto projectLine = [&] {
    ac += "User Project: ";
    ac += v.projects[static_cast<std::size_t>(p.projects[static_cast<std::size_t>(
        rng.Below(static_cast<int>(p.projects.size())))])];
    ac += " (";
    ac += rng.Pick(v.tasks);
    ac += ')';
    EndLine(ac);
  };
  auto restartLine = [&](int minute) {
    al += "STArted ";
    AppendClock(al, minute);
    EndLine(al);
  };

  int app = 0, window = 0;
  pickWindow(app, window);
  projectLine();
  restartLine(start);

  int kbLevel = 0, kbWork = 0, mLevel = 0, mWork = 0, onBreak = 0, idleRun = 0;
  int kbAtFive = 0, mAtFive = 0;
  int seq = 0, activitySeq = 0, worked = 0;
  bool lunchDone = false;
  for (int minute = start; minute < end; ++minute) {
    if (!lunchDone && minute >= lunchStart) {
      // The client is closed over lunch and started again afterwards.
      lunchDone = true;
      minute += lunchLength;
      kbLevel = kbWork = mLevel = mWork = onBreak = 0;
      restartLine(minute);
    }
    ++worked;
    Sample s;
    if (onBreak > 0) {
      --onBreak;
    } else if (!rng.Chance(0.05)) {
      s.keys = std::max(1, static_cast<int>(p.typingRate * (0.3 + 1.4 * rng.Unit())));
      s.mouseSeconds = rng.Between(0, 50);
    }
    idleRun = (s.keys == 0 && s.mouseSeconds == 0) ? idleRun + 1 : 0;
    if (s.keys > 0) ++kbWork;
    if (s.mouseSeconds > 0) ++mWork;
    const int prevKb = kbLevel;
    kbLevel = std::min(5, kbWork / p.levelInterval);
    mLevel = std::min(5, mWork / (p.levelInterval + 4));

    ++seq;
    if (worked == recoverAt) {
      AppendStamp(al, seq, minute);
      al += "RECOV 0 0 0 M 0 0 0 0 0 1 0 ";
      EndLine(al);
      ++seq;
    }
    AppendStamp(al, seq, minute);
    for (int w : {s.keys, kbLevel, kbWork}) {
      AppendNumber(al, w);
      al += ' ';
    }
    al += "M ";
    for (int w : {s.mouseSeconds, mLevel, mWork, p.levelInterval, idleRun}) {
      AppendNumber(al, w);
      al += ' ';
    }
    al += "1 0 ";
    EndLine(al);

    // Events of this minute.
    if (kbLevel > prevKb && kbLevel >= 2 && rng.Chance(0.5)) {
      al += "Stretch Alert";
      EndLine(al);
    }
    kbAtFive = kbLevel == 5 ? kbAtFive + 1 : 0;
    mAtFive = mLevel == 5 ? mAtFive + 1 : 0;
    if (kbAtFive > 0 && kbAtFive % 10 == 0) {
      al += "Keyboard Warning at level 5 after ";
      AppendNumber(al, kbWork);
      al += " minutes of work";
      EndLine(al);
    }
    if (mAtFive > 0 && mAtFive % 12 == 0) {
      al += "Mouse Warning at level 5 after ";
      AppendNumber(al, mWork);
      al += " minutes of work";
      EndLine(al);
    }
    if (isIn(actionAt, worked)) {
      al += "User Action: ";
      al += rng.Pick(v.tools);
      al += '*';
      al += yymmdd;
      al += ' ';
      AppendDigits(al, minute / 60, 2);
      EndLine(al);
    }
    if (isIn(entryAt, worked)) {
      al += "User Entry:  ";
      al += rng.Pick(v.discomforts);
      al += "-- ";
      al += rng.Pick(v.bodyParts);
      EndLine(al);
      if (worked == entryAt[0] || rng.Chance(0.7)) {
        al += "User Notes: ";
        al += rng.Pick(v.alertNotes);
        EndLine(al);
      }
    }
    if (worked == cycledAt) {
      al += "CYCLED";
      EndLine(al);
    }

    // The activity log: window switches, projects, key counts, notes.
    if (isIn(projectAt, worked)) projectLine();
    if (s.keys > 0) {
      if (rng.Chance(0.2)) pickWindow(app, window);
      const Application& a = v.apps[static_cast<std::size_t>(app)];
      AppendActivityLine(ac, rng, p, ++activitySeq, minute, a.windows[static_cast<std::size_t>(window)], a.name,
                         s.keys);
    }
    if (isIn(noteAt, worked)) {
      ac += "User Notes: ";
      ac += rng.Pick(v.activityNotes);
      EndLine(ac);
    }

    // Once alerted the user may take a break: the levels fall to 0.
    if (kbLevel >= 1 && onBreak == 0 && rng.Chance(p.breakCompliance * kbLevel)) {
      onBreak = rng.Between(2, 7);
      kbLevel = kbWork = mLevel = mWork = 0;
    }
  }
  out.endHour = end / 60;
  out.endMinute = end % 60;
  return out;
}

}  // namespace prax::gen
