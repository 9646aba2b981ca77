#include "fourlane/filedate.h"

#include <array>
#include <cstdio>

namespace vk::fourlane {
namespace {

constexpr std::array<const char*, 7> kDays{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// A decimal number of at most two digits at `pos`, a leading blank allowed.
bool TwoDigits(std::string_view text, size_t pos, int& value) {
  if (pos + 2 > text.size()) return false;
  size_t p = pos;
  const size_t end = pos + 2;
  while (p < end && text[p] == ' ') ++p;
  if (p >= end || text[p] < '0' || text[p] > '9') return false;
  value = 0;
  for (; p < end && text[p] >= '0' && text[p] <= '9'; ++p) value = value * 10 + (text[p] - '0');
  return true;
}

}  // namespace

std::string TimeText(const std::tm& time) {
  char buffer[64];
  const int wday = time.tm_wday >= 0 && time.tm_wday < 7 ? time.tm_wday : 0;
  const int mon = time.tm_mon >= 0 && time.tm_mon < 12 ? time.tm_mon : 0;
  std::snprintf(buffer, sizeof buffer, "%.3s %.3s%3d %.2d:%.2d:%.2d %d", kDays[static_cast<size_t>(wday)],
                kMonths[static_cast<size_t>(mon)], time.tm_mday, time.tm_hour, time.tm_min, time.tm_sec,
                1900 + time.tm_year);
  return buffer;
}

const char* ParseTimeText(std::string_view text, FileDate& date) {
  date.month = 0;
  if (text.size() >= 7)
    for (size_t m = 0; m < kMonths.size(); ++m)
      if (text.substr(4, 3) == kMonths[m]) date.month = static_cast<int>(m) + 1;
  if (date.month == 0) return "\nError At File Date In .X0 File\n";
  if (!TwoDigits(text, 8, date.day)) return "\nError At Day In .X0 File\n";
  if (!TwoDigits(text, 11, date.hour)) return "\nError At Hour In .X0 File\n";
  if (!TwoDigits(text, 14, date.minute)) return "\nError At Minute In .X0 File\n";
  if (!TwoDigits(text, 17, date.second)) return "\nError At Second In .X0 File\n";
  if (!TwoDigits(text, 22, date.year)) return "\nError At Year In .X0 File\n";
  return nullptr;
}

}  // namespace vk::fourlane
