#pragma once
// One user's day as the desktop client logs it: the Alert log (.PXL) and the
// Activity log (.PXT) of a simulated working day, as Windows-1252 bytes with
// CR LF line ends. Everything follows from (seed, user, day index), so a day
// can be generated on its own, in any order and on any thread.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/datetime.h"

namespace prax::gen {

// The n-th weekday (n from 0) on or after `start`, Saturdays and Sundays skipped.
dt::Date NthWeekday(const dt::Date& start, int n);

// How a user's client names its log files.
enum class NameForm { Dated, DayOfYear, Mixed };

// The traits of one simulated user; fixed for all of the user's days.
struct UserProfile {
  int startMinute = 540;      // usual start of the working day (minutes after midnight)
  int typingRate = 40;        // mean keystrokes in an active minute
  int levelInterval = 15;     // work minutes per alert level step
  double breakCompliance = 0.1;  // readiness to take a break once alerted
  double errorRate = 0.05;    // share of Backspace strokes
  std::vector<int> apps;      // indexes of the applications the user works with
  std::vector<int> projects;  // indexes of the user's projects
  NameForm nameForm = NameForm::Dated;
  int dayOfYearUntil = 0;     // Mixed: days before this index use PRAXnnn names
  bool lowerCaseNames = false;
};

UserProfile MakeProfile(uint64_t seed, int32_t user);

struct DayLogs {
  std::string alert;     // .PXL bytes
  std::string activity;  // .PXT bytes
  int endHour = 17, endMinute = 0;  // time of the last line: the files' modification time
};

DayLogs GenerateDayLogs(uint64_t seed, int32_t user, int dayIndex, const dt::Date& date);

// The file name of a user's log for a day ("20260105.PXL", "PRAX005.PXL",
// or in small letters for users whose client writes them so); ext is "PXL"
// or "PXT".
std::string LogFileName(const UserProfile& profile, int dayIndex, const dt::Date& date,
                         const char* ext);

// Names for the roster and the user definitions (UTF-8).
struct PersonName {
  std::string first, last, middle;  // middle may be empty
};
PersonName MakePersonName(uint64_t seed, int32_t user);
struct UserDefinition {
  std::string location, department, position;  // UTF-8
};
UserDefinition MakeUserDefinition(uint64_t seed, int32_t user);

}  // namespace prax::gen
