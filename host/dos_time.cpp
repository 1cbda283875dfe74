// DOS date-time stamps: date in the high 16 bits (year - 1980, month, day), time in the low 16
// bits (hour, minute, seconds / 2), local time.
#include "host/host.h"

namespace zipkit::host {

namespace {

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

bool Valid(const TLocalTime& t) {
  return t.Month >= 1 && t.Month <= 12 && t.Day >= 1 && t.Day <= DaysInMonth(t.Year, t.Month) &&
         t.Hour >= 0 && t.Hour < 24 && t.Minute >= 0 && t.Minute < 60 && t.Second >= 0 &&
         t.Second < 60;
}

}  // namespace

uint32_t EncodeDosDateTime(const TLocalTime& t) {
  if (t.Year < 1980 || t.Year > 2099 || !Valid(t)) return 0;
  const uint32_t date = static_cast<uint32_t>((t.Year - 1980) << 9 | t.Month << 5 | t.Day);
  const uint32_t time = static_cast<uint32_t>(t.Hour << 11 | t.Minute << 5 | t.Second / 2);
  return date << 16 | time;
}

bool DecodeDosDateTime(uint32_t Stamp, TLocalTime& t) {
  const uint32_t date = Stamp >> 16;
  const uint32_t time = Stamp & 0xFFFF;
  t.Year = static_cast<int>(date >> 9) + 1980;
  t.Month = static_cast<int>(date >> 5 & 15);
  t.Day = static_cast<int>(date & 31);
  t.Hour = static_cast<int>(time >> 11);
  t.Minute = static_cast<int>(time >> 5 & 63);
  t.Second = static_cast<int>(time & 31) * 2;
  return Valid(t);
}

}  // namespace zipkit::host
