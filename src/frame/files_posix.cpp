// File operations on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "frame/files.h"
#include "frame/settings.h"

namespace vk::frame {

bool IsDirSeparator(char c) { return c == '/'; }
char DirSeparator() { return '/'; }
char PathListSeparator() { return ':'; }
std::string_view ExeSuffix() { return ""; }

std::string OwnProgramPath(std::string_view argv0) { return std::string(argv0); }

bool MakeDirectories(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return std::filesystem::is_directory(dir, ec);
}

int LastFileError() { return errno; }

Place LookAt(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return {};
  return {true, S_ISLNK(st.st_mode), S_ISREG(st.st_mode), st.st_nlink > 1, static_cast<unsigned>(st.st_mode & 0777)};
}

FILE* CreateBeside(const std::string& path, const Place& place, std::string& temp) {
  const mode_t mask = umask(0);
  umask(mask);
  const mode_t mode = place.regular ? static_cast<mode_t>(place.mode) : (0666 & ~mask);
  temp = path + "." + std::to_string(getpid()) + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  FILE* file = fd >= 0 ? fdopen(fd, "w") : nullptr;
  if (fd >= 0 && !file) ::close(fd);
  return file;
}

bool RenameOver(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

FILE* OpenInPlace(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  FILE* file = fd >= 0 ? fdopen(fd, "w") : nullptr;
  if (fd >= 0 && !file) ::close(fd);
  return file;
}

bool ModifiedLocalTime(FILE* file, std::tm& local) {
  struct stat st {};
  if (fstat(fileno(file), &st) != 0) return false;
  const std::time_t modified = st.st_mtime;
  localtime_r(&modified, &local);
  return true;
}

FILE* OpenRegularFile(const std::string& path, const char* mode) {
  if (!IsRegularFile(path)) return nullptr;
  // Opened without waiting (a file swapped for a FIFO meanwhile must not
  // block), then looked at again through the descriptor.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  FILE* file = nullptr;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && fcntl(fd, F_SETFL, 0) == 0) file = fdopen(fd, mode);
  if (!file) ::close(fd);
  return file;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool FileTakesWrites(const std::string& path) { return access(path.c_str(), W_OK) == 0; }
bool DirectoryTakesFiles(const std::string& dir) { return access(dir.c_str(), W_OK) == 0; }

bool IsProgramsDirectory(const std::string& dir) {
  for (const char* system : {VK_INSTALL_BINDIR, "/usr/bin", "/usr/local/bin", "/bin", "/usr/sbin", "/sbin"}) {
    std::error_code ec;
    if (std::filesystem::equivalent(dir, system, ec)) return true;
  }
  return false;
}

std::string UserConfigDirectory(const char* xdg_config_home, const char* home) {
  if (xdg_config_home && xdg_config_home[0] == '/') return xdg_config_home;
  if (home && home[0] == '/') return std::string(home) + "/.config";
  return "";
}

}  // namespace vk::frame
