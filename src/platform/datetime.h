#pragma once
// Dates as the system shows and stores them. The system's locale is English
// (United Kingdom): short date dd/mm/yyyy, long time hh:mm:ss, long date
// "5 December 2026".

#include <cstdint>
#include <string>

namespace prax::dt {

struct Date {
  int year = 0, month = 0, day = 0;
};

// 1 January of `year` plus `days` days (days may run past the year's end).
Date FromYearDay(int year, int days);
// Whether year/month/day is a valid calendar date.
bool IsValid(int year, int month, int day);
// "yy-mm-dd"
std::string FormatYyMmDd(const Date& d);
// The date's serial day number (days since 30 December 1899), and back.
int64_t SerialDay(const Date& d);
Date FromSerialDay(int64_t serial);
// 0 Monday .. 6 Sunday.
int Weekday(const Date& d);
// 1..366
int DayOfYear(const Date& d);

// Current local time in the general date format: short date, a blank,
// long time ("05/12/2026 19:04:45").
std::string NowGeneralDate();
// Current local time in ISO 8601 to the second ("2026-12-05T19:04:45").
std::string NowIso();
// Current local date.
Date Today();
// Current local date as the number yyyymmdd (as Data_Date columns hold dates).
int32_t TodayKey();
// Current local date in the long date format ("05 December 2026").
std::string NowLongDate();

}  // namespace prax::dt
