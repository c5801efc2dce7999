#include "platform/Time.h"

#include <cmath>
#include <ctime>

namespace platform {

std::int64_t MonotonicMillis() {
  timespec ts {};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

LocalDateTime NowLocal() {
  timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm {};
  localtime_r(&ts.tv_sec, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
          static_cast<int>(ts.tv_nsec / 1000000)};
}

// Days since 1970-01-01 (H. Hinnant's civil algorithm).
std::int64_t DaysFromCivil(int year, int month, int day) {
  const std::int64_t y = year - (month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

bool IsValidDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

namespace {
constexpr std::int64_t kDelphiEpochOffset = 25569;  // 1970-01-01 minus 1899-12-30
}

double ToDelphiDateTime(const LocalDateTime& t) {
  const double days = static_cast<double>(DaysFromCivil(t.year, t.month, t.day) + kDelphiEpochOffset);
  const double frac = (t.hour * 3600000.0 + t.minute * 60000.0 + t.second * 1000.0 + t.millisecond) /
                      86400000.0;
  return days + frac;
}

LocalDateTime FromDelphiDateTime(double v) {
  LocalDateTime t;
  const double whole = std::floor(v);
  CivilFromDays(static_cast<std::int64_t>(whole) - kDelphiEpochOffset, t.year, t.month, t.day);
  auto ms = static_cast<std::int64_t>(std::llround((v - whole) * 86400000.0));
  if (ms >= 86400000) ms = 86399999;
  t.hour = static_cast<int>(ms / 3600000);
  t.minute = static_cast<int>(ms / 60000 % 60);
  t.second = static_cast<int>(ms / 1000 % 60);
  t.millisecond = static_cast<int>(ms % 1000);
  return t;
}

}  // namespace platform
