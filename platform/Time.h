#pragma once
// Monotonic and wall time. Dates are handled as civil dates; the host keeps
// change stamps as days since 30 December 1899 with the time as fraction.
#include <cstdint>

namespace platform {

std::int64_t MonotonicMillis();

struct LocalDateTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

LocalDateTime NowLocal();

// Days since 1899-12-30 (with fraction) for a local date-time, and back.
double ToDelphiDateTime(const LocalDateTime& t);
LocalDateTime FromDelphiDateTime(double v);

// Day number helpers (proleptic Gregorian).
std::int64_t DaysFromCivil(int year, int month, int day);
void CivilFromDays(std::int64_t days, int& year, int& month, int& day);
bool IsValidDate(int year, int month, int day);

}  // namespace platform
