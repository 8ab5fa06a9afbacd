#include "platform/datetime.h"

#include <cstdio>
#include <ctime>

namespace prax::dt {

namespace {

// Days from 1 January 1970 to year/month/day of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

Date CivilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  return Date{static_cast<int>(y), static_cast<int>(m), static_cast<int>(d)};
}

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  ::localtime_s(&tm, &now);
#else
  ::localtime_r(&now, &tm);
#endif
  return tm;
}

constexpr const char* kMonthNames[12] = {"January", "February", "March",     "April",   "May",      "June",
                                         "July",    "August",   "September", "October", "November", "December"};

}  // namespace

Date FromYearDay(int year, int days) { return CivilFromDays(DaysFromCivil(year, 1, 1) + days); }

bool IsValid(int year, int month, int day) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  return day <= kDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0);
}

std::string FormatYyMmDd(const Date& d) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02d-%02d-%02d", ((d.year % 100) + 100) % 100, d.month, d.day);
  return buffer;
}

int64_t SerialDay(const Date& d) { return DaysFromCivil(d.year, d.month, d.day) - DaysFromCivil(1899, 12, 30); }

Date FromSerialDay(int64_t serial) { return CivilFromDays(serial + DaysFromCivil(1899, 12, 30)); }

int Weekday(const Date& d) {
  // 30 December 1899 was a Saturday (5 counting from Monday = 0).
  const int64_t w = (SerialDay(d) + 5) % 7;
  return static_cast<int>(w < 0 ? w + 7 : w);
}

int DayOfYear(const Date& d) { return static_cast<int>(SerialDay(d) - SerialDay({d.year, 1, 1})) + 1; }

std::string NowGeneralDate() {
  const std::tm tm = LocalNow();
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d %02d:%02d:%02d", tm.tm_mday, tm.tm_mon + 1,
                tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buffer;
}

std::string NowIso() {
  const std::tm tm = LocalNow();
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buffer;
}

Date Today() {
  const std::tm tm = LocalNow();
  return Date{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

int32_t TodayKey() {
  const Date d = Today();
  return d.year * 10000 + d.month * 100 + d.day;
}

std::string NowLongDate() {
  const std::tm tm = LocalNow();
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%02d %s %04d", tm.tm_mday, kMonthNames[tm.tm_mon], tm.tm_year + 1900);
  return buffer;
}

}  // namespace prax::dt
