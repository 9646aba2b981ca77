// The date and time of a program's .X0 file, as the flash loader sends them.
//
// The file's modification time is rendered in local time as the standard
// 24-character time text "Www Mmm dd hh:mm:ss yyyy" (English names, day
// padded with a blank) and the fields are taken from fixed positions:
//   Tue Jan  2 03:04:05 2001
//   0   4   8  11 14 17   22
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace vk::fourlane {

struct FileDate {
  int day = 0, month = 0, year = 0;  // year within its century
  int hour = 0, minute = 0, second = 0;
};

// The 24-character time text of a broken-down time.
std::string TimeText(const std::tm& time);

// Takes the fields from a time text. Returns nullptr, or the message for
// the first field that cannot be read.
const char* ParseTimeText(std::string_view text, FileDate& date);

}  // namespace vk::fourlane
