// The settings file: "PORT=COM%d\n", "BAUD=%d\n" and, for the flash loader,
// "MODE=%c\n", beside the program's executable with the extension ".SET".
//
// Reading follows formatted input exactly: each line is a pattern whose key
// word must stand at the start of the unread input; the trailing "\n" of a
// pattern skips any white space. A pattern that does not match leaves its
// setting at the default and the next pattern goes on from where it stopped.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <string_view>

#include "link/backend.h"

namespace vk::frame {

struct Settings {
  int port = 1;
  int baud = link::kBaudHigh;
  char mode = 's';  // flash loader only: 's' save, 'f' fast
};

// What one formatted read returned: items converted, or end of input first.
enum class ScanResult { EndOfInput = -1, NoMatch = 0, Matched = 1 };

struct ParsedSettings {
  Settings values;
  std::array<ScanResult, 3> results{ScanResult::EndOfInput, ScanResult::EndOfInput,
                                    ScanResult::EndOfInput};
};

ParsedSettings ParseSettings(std::string_view text, bool has_mode);

// Reads a decimal integer at text[pos] as formatted input does: white
// space, a sign, digits (a value beyond int is clamped). On Matched `pos`
// moves past it; EndOfInput when the text ended before a digit could stand.
ScanResult ScanDecimal(std::string_view text, size_t& pos, int& out);

// Corrects values out of range; true when anything was corrected.
bool ValidateSettings(Settings& settings, bool has_mode);

// A mode letter lower-cased; anything but 's' and 'f' is 's'.
char CorrectMode(char mode);

std::string FormatSettings(const Settings& settings, bool has_mode);

// Where the settings file of a program invoked as `argv0` lives.
//   path_env: the PATH value, searched when argv0 has no directory part
//   cwd: the current directory, used when the program cannot be found
//   exe_suffix: ".EXE" on Windows (appended and searched), "" elsewhere
// The file is the program's own file name up to its first "." with ".SET"
// appended, in the program's directory.
std::string SettingsPath(std::string_view argv0, std::string_view path_env, std::string_view cwd,
                         std::string_view exe_suffix);

// Where an installed program keeps its settings: `beside` (SettingsPath)
// when a writable settings file already lies there, or when the program's
// directory takes new files and is no system directory (the install
// prefix's bin, /usr/bin, /usr/local/bin: shared by every user, root
// too); else $XDG_CONFIG_HOME/vktools/ with the same file name
// (~/.config/vktools/ when XDG_CONFIG_HOME is not set). On Windows the
// folder is %APPDATA%\vktools\ (the two variables are not looked at there).
// With no such variable set, `beside`. (The rule is one; what it asks of
// the system is each platform's own, files.h.)
std::string ChooseSettingsPath(const std::string& beside, const char* xdg_config_home, const char* home);

// True when `path` names a regular file (links followed).
bool IsRegularFile(const std::string& path);

// Opens a regular file for reading; anything else (a directory, a FIFO, a
// device) counts as a file that cannot be opened, and nothing waits (each
// platform's own, as ChooseSettingsPath).
FILE* OpenRegularFile(const std::string& path, const char* mode);

// Reads the file; false when it cannot be opened.
bool ReadSettingsText(const std::string& path, std::string& text);
// Writes the file anew; false when it cannot be written, with the reason in
// `why` (the system's words) when given.
bool WriteSettingsFile(const std::string& path, const Settings& settings, bool has_mode,
                       std::string* why = nullptr);

}  // namespace vk::frame
