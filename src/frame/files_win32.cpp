// File operations on Windows, through the wide calls (names in any script;
// the narrow strings are in the process's code page, UTF-8 by the manifest).
// Errors are GetLastError codes.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <vector>

#include "frame/files.h"
#include "frame/settings.h"
#include "link/text_win32.h"

namespace vk::frame {
namespace {

using link::Narrow;
using link::Wide;

// A stream over a handle of ours: text mode, so each line ends with
// carriage return and line feed on disk. The handle is closed with it.
FILE* TextStream(HANDLE handle, int flags, const char* mode) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_TEXT);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  FILE* file = _fdopen(fd, mode);
  if (!file) _close(fd);
  return file;
}

// What the file system says about the name itself (a reparse point is not
// followed): its attributes and its number of names.
bool Inspect(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  const HANDLE handle = CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                    nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool ok = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  return ok;
}

std::string Environment(const wchar_t* name) {
  std::wstring value(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) return "";
    if (n < value.size()) {
      value.resize(n);
      return Narrow(value);
    }
    value.resize(n);
  }
}

}  // namespace

std::string DirectoryOf(const std::string& path) {
  size_t cut = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i)
    if (IsDirSeparator(path[i])) cut = i;
  if (cut == std::string::npos) return ".";
  // A root ("C:\", "C:") keeps its separator: "C:" alone is a current directory.
  const bool root = path[cut] == ':' || (cut > 0 && path[cut - 1] == ':');
  return path.substr(0, root ? cut + 1 : cut);
}

// True when `dir` takes a new file from this process: one is made there
// and gone again (the only sure answer under access control lists).
bool DirectoryTakesFiles(const std::string& dir) {
  const std::string probe = dir + "\\.vk" + std::to_string(GetCurrentProcessId()) + ".probe";
  const HANDLE handle = CreateFileW(Wide(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_EXISTS;
  CloseHandle(handle);
  return true;
}

// True when the regular file at `path` may be written (it is not changed).
bool FileTakesWrites(const std::string& path) {
  const HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
}

// True when `dir` is, or lies in, a folder of installed programs (Program
// Files, and its 32-bit twin): a program there is shared by every user.
bool IsProgramsDirectory(const std::string& dir) {
  const std::wstring path = Wide(dir);
  for (const wchar_t* name : {L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432"}) {
    std::wstring root = Wide(Environment(name));
    while (!root.empty() && (root.back() == L'\\' || root.back() == L'/')) root.pop_back();
    if (root.empty() || path.size() < root.size()) continue;
    const bool ends = path.size() == root.size() || path[root.size()] == L'\\' || path[root.size()] == L'/';
    if (ends && CompareStringOrdinal(path.c_str(), static_cast<int>(root.size()), root.c_str(),
                                     static_cast<int>(root.size()), TRUE) == CSTR_EQUAL)
      return true;
  }
  return false;
}

bool IsDirSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }
char DirSeparator() { return '\\'; }
char PathListSeparator() { return ';'; }
std::string_view ExeSuffix() { return ".EXE"; }

std::string OwnProgramPath(std::string_view argv0) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::string(argv0);
    if (n < path.size()) {
      path.resize(n);
      return Narrow(path);
    }
    path.resize(path.size() * 2);
  }
}

bool MakeDirectories(const std::string& dir) {
  // Each directory on the way down, from the first below the root; those
  // that are there already refuse, which is fine.
  for (size_t i = 1; i <= dir.size(); ++i) {
    const bool end = i == dir.size();
    if (!end && (dir[i] != '\\' && dir[i] != '/')) continue;
    if (!end && dir[i - 1] == ':') continue;  // "C:\" is the root
    CreateDirectoryW(Wide(dir.substr(0, i)).c_str(), nullptr);
  }
  const DWORD attributes = GetFileAttributesW(Wide(dir).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int LastFileError() { return static_cast<int>(GetLastError()); }

Place LookAt(const std::string& path) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!Inspect(path, info)) return {};
  const DWORD a = info.dwFileAttributes;
  Place place;
  place.exists = true;
  place.link = (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  place.regular = !place.link && (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
  place.shared = info.nNumberOfLinks > 1;
  place.mode = (a & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;
  return place;
}

FILE* CreateBeside(const std::string& path, const Place&, std::string& temp) {
  temp = path + "." + std::to_string(GetCurrentProcessId()) + ".tmp";
  const HANDLE handle =
      CreateFileW(Wide(temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return TextStream(handle, _O_WRONLY, "w");
}

// The rename takes the name's place, a link or junction standing there
// included: what it pointed at is never touched.
bool RenameOver(const std::string& from, const std::string& to) {
  return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

FILE* OpenInPlace(const std::string& path) {
  const HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  // Looked at again through the handle: only a plain file with one name is
  // written in place.
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      info.nNumberOfLinks != 1 || !SetEndOfFile(handle)) {
    const DWORD error = GetLastError();
    CloseHandle(handle);
    SetLastError(error != 0 ? error : ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return TextStream(handle, _O_WRONLY, "w");
}

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

// The two variables of the POSIX rule are not looked at.
std::string UserConfigDirectory(const char*, const char*) { return Environment(L"APPDATA"); }

}  // namespace vk::frame
