#include "frame/settings.h"

#include <sys/stat.h>

#include <array>
#include <cctype>
#include <climits>
#include <cstdio>
#include <utility>

#include "frame/files.h"
#include "link/diagnose.h"
#include "link/port_names.h"
#include "wire/letter_case.h"

namespace vk::frame {
namespace {

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Formatted input over a text, one directive at a time.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  // Runs a pattern made of literal characters, "%d", "%c" and "\n".
  // Returns the items converted, or EndOfInput when the input ended before
  // the first conversion.
  ScanResult Run(std::string_view pattern, int* number, char* character) {
    bool converted = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
      const char p = pattern[i];
      if (p == '%' && i + 1 < pattern.size()) {
        const char conv = pattern[++i];
        bool ok = conv == 'd' ? ScanInt(*number) : ScanChar(*character);
        if (!ok) return Fail(converted);
        converted = true;
      } else if (IsSpace(p)) {
        while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
      } else {
        if (pos_ >= text_.size()) {
          input_failure_ = true;
          return Fail(converted);
        }
        if (text_[pos_] != p) return Fail(converted);
        ++pos_;
      }
    }
    return converted ? ScanResult::Matched : ScanResult::NoMatch;
  }

 private:
  ScanResult Fail(bool converted) {
    const bool eof = input_failure_;
    input_failure_ = false;
    if (converted) return ScanResult::Matched;
    return eof ? ScanResult::EndOfInput : ScanResult::NoMatch;
  }

  bool ScanInt(int& out) {
    const ScanResult r = ScanDecimal(text_, pos_, out);
    if (r == ScanResult::EndOfInput) input_failure_ = true;
    return r == ScanResult::Matched;
  }

  bool ScanChar(char& out) {
    if (pos_ >= text_.size()) {
      input_failure_ = true;
      return false;
    }
    out = text_[pos_++];
    return true;
  }

  std::string_view text_;
  size_t pos_ = 0;
  bool input_failure_ = false;
};

// Where the file name of `path` begins, after its directory part.
size_t BaseNameAt(std::string_view path) {
  size_t base = 0;
  for (size_t i = 0; i < path.size(); ++i)
    if (IsDirSeparator(path[i])) base = i + 1;
  return base;
}

std::string JoinPath(std::string_view dir, std::string_view file) {
  std::string out(dir);
  if (out.empty()) return std::string(file);
  if (!IsDirSeparator(out.back())) out.push_back(DirSeparator());
  out += file;
  return out;
}

}  // namespace

ParsedSettings ParseSettings(std::string_view text, bool has_mode) {
  ParsedSettings parsed;
  Scanner scanner(text);
  parsed.results[0] = scanner.Run("PORT=COM%d\n", &parsed.values.port, nullptr);
  parsed.results[1] = scanner.Run("BAUD=%d\n", &parsed.values.baud, nullptr);
  if (has_mode) parsed.results[2] = scanner.Run("MODE=%c\n", nullptr, &parsed.values.mode);
  return parsed;
}

ScanResult ScanDecimal(std::string_view text, size_t& pos, int& out) {
  size_t p = pos;
  while (p < text.size() && IsSpace(text[p])) ++p;
  bool negative = false;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
  if (p >= text.size()) return ScanResult::EndOfInput;
  if (!std::isdigit(static_cast<unsigned char>(text[p]))) return ScanResult::NoMatch;
  long long value = 0;
  for (; p < text.size() && std::isdigit(static_cast<unsigned char>(text[p])); ++p)
    if (value <= INT_MAX) value = value * 10 + (text[p] - '0');
  if (negative) value = -value;
  out = static_cast<int>(value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : value);
  pos = p;
  return ScanResult::Matched;
}

char CorrectMode(char mode) {
  const char lower = wire::ToLower(mode);
  return (lower == 's' || lower == 'f') ? lower : 's';
}

bool ValidateSettings(Settings& settings, bool has_mode) {
  bool corrected = false;
  if (const int port = link::NormalisePortNumber(settings.port); settings.port != port) {
    settings.port = port;
    corrected = true;
  }
  if (settings.baud != link::kBaudLow && settings.baud != link::kBaudHigh) {
    settings.baud = link::kBaudHigh;
    corrected = true;
  }
  if (has_mode) {
    // Lower-casing alone is no correction: a stored "F" is read as fast
    // mode and the file is left as it is.
    const char lower = wire::ToLower(settings.mode);
    settings.mode = CorrectMode(settings.mode);
    if (settings.mode != lower) corrected = true;
  }
  return corrected;
}

std::string FormatSettings(const Settings& settings, bool has_mode) {
  std::string out = "PORT=COM" + std::to_string(settings.port) + "\n";
  out += "BAUD=" + std::to_string(settings.baud) + "\n";
  if (has_mode) out += std::string("MODE=") + settings.mode + "\n";
  return out;
}

std::string SettingsPath(std::string_view argv0, std::string_view path_env, std::string_view cwd,
                         std::string_view exe_suffix) {
  size_t slash = std::string_view::npos;
  for (size_t i = 0; i < argv0.size(); ++i)
    if (IsDirSeparator(argv0[i])) slash = i;

  std::string program;
  if (slash == std::string_view::npos) {
    // A bare name: the program was found on the search path.
    const std::string file = std::string(argv0) + std::string(exe_suffix);
    if (!exe_suffix.empty() && IsRegularFile(JoinPath(cwd, file))) program = JoinPath(cwd, file);
    size_t start = 0;
    while (program.empty() && start <= path_env.size()) {
      size_t end = path_env.find(PathListSeparator(), start);
      if (end == std::string_view::npos) end = path_env.size();
      const std::string_view dir = path_env.substr(start, end - start);
      const std::string candidate = JoinPath(dir.empty() ? std::string_view(".") : dir, file);
      if (IsRegularFile(candidate)) program = candidate;
      start = end + 1;
    }
    // Not found: keep the settings in the current directory.
    if (program.empty()) program = JoinPath(cwd, file);
  } else {
    program = std::string(argv0);
  }

  const size_t dot = program.find('.', BaseNameAt(program));
  return program.substr(0, dot) + ".SET";
}

std::string ChooseSettingsPath(const std::string& beside, const char* xdg_config_home, const char* home) {
  if (LookAt(beside).regular && FileTakesWrites(beside)) return beside;
  if (const std::string dir = DirectoryOf(beside); !IsProgramsDirectory(dir) && DirectoryTakesFiles(dir)) return beside;
  const std::string config = UserConfigDirectory(xdg_config_home, home);
  if (config.empty()) return beside;
  return config + DirSeparator() + "vktools" + DirSeparator() + beside.substr(BaseNameAt(beside));
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool ReadSettingsText(const std::string& path, std::string& text) {
  FILE* file = OpenRegularFile(path, "r");
  if (!file) return false;
  text.clear();
  std::array<char, 512> buffer{};
  for (size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;) text.append(buffer.data(), n);
  std::fclose(file);
  return true;
}

namespace {

bool WriteText(FILE* file, const std::string& text) {
  if (!file) return false;
  const bool ok = std::fputs(text.c_str(), file) >= 0;
  return std::fclose(file) == 0 && ok;
}

}  // namespace

// The new settings go to a file of their own in the same directory, which
// then takes the settings file's place: a reader sees the old file or the
// new one, never half of one, and a link standing there is replaced, never
// written through. Only where the directory takes no new file is a plain
// file of our own (no link, one name) written in place.
bool WriteSettingsFile(const std::string& path, const Settings& settings, bool has_mode, std::string* why) {
  const auto failed = [why](std::string reason) {
    if (why) *why = std::move(reason);
    return false;
  };
  const std::string text = FormatSettings(settings, has_mode);
  const Place place = LookAt(path);
  if (place.exists && !place.link && !place.regular) return failed("a directory or a device stands in its place");
  // The user's configuration directory may not exist yet.
  if (const size_t base = BaseNameAt(path); !place.exists && base > 1) MakeDirectories(path.substr(0, base - 1));
  std::string temp;
  if (FILE* file = CreateBeside(path, place, temp)) {
    if (WriteText(file, text) && RenameOver(temp, path)) return true;
    const int code = LastFileError();
    std::remove(temp.c_str());
    return failed(link::SystemText(code));
  }
  const int code = LastFileError();
  if (!place.exists || place.link || place.shared) return failed(link::SystemText(code));
  if (WriteText(OpenInPlace(path), text)) return true;
  return failed(link::SystemText(LastFileError()));
}

}  // namespace vk::frame
