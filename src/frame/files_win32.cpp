// File operations on Windows.
#include <windows.h>

#include <sys/stat.h>

#include "frame/files.h"
#include "frame/settings.h"

namespace vk::frame {

bool IsDirSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }
char DirSeparator() { return '\\'; }
char PathListSeparator() { return ';'; }
std::string_view ExeSuffix() { return ".EXE"; }

Place LookAt(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {};
  return {true, false, S_ISREG(st.st_mode) != 0, st.st_nlink > 1, static_cast<unsigned>(st.st_mode & 0777)};
}

FILE* CreateBeside(const std::string& path, const Place&, std::string& temp) {
  temp = path + "." + std::to_string(GetCurrentProcessId()) + ".tmp";
  // Text mode: on Windows each line ends with carriage return and line feed.
  return std::fopen(temp.c_str(), "w");
}

bool RenameOver(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

FILE* OpenInPlace(const std::string& path) { return std::fopen(path.c_str(), "w"); }

bool ModifiedLocalTime(FILE* file, std::tm& local) {
  struct stat st {};
  if (fstat(_fileno(file), &st) != 0) return false;
  const std::time_t modified = st.st_mtime;
  localtime_s(&local, &modified);
  return true;
}

FILE* OpenRegularFile(const std::string& path, const char* mode) {
  return IsRegularFile(path) ? std::fopen(path.c_str(), mode) : nullptr;
}

// The settings always lie beside the program.
std::string ChooseSettingsPath(const std::string& beside, const char*, const char*) { return beside; }

}  // namespace vk::frame
