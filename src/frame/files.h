// The file operations that differ by platform, behind the settings file and
// the lane files: files_posix.cpp and files_win32.cpp, one of them built by
// CMake. OpenRegularFile (settings.h) is there too.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

namespace vk::frame {

// Path rules: what ends a directory part of a path, the separator put
// between a directory and a file name, the one between PATH's entries, and
// the suffix programs carry (".EXE" on Windows, "" elsewhere).
bool IsDirSeparator(char c);
char DirSeparator();
char PathListSeparator();
std::string_view ExeSuffix();

// The program's own file, where the settings rule starts: on Windows the
// system's name for the running executable, however it was typed; elsewhere
// `argv0` as given.
std::string OwnProgramPath(std::string_view argv0);

// Makes the directory `dir` and those above it that are missing; false
// when it is not there afterwards.
bool MakeDirectories(const std::string& dir);

// The system's code for why the last of these operations failed (errno on
// POSIX systems, GetLastError on Windows), for the system's words on it.
int LastFileError();

// What stands at a path, a link not followed (on Windows a reparse point:
// a symbolic link or a junction).
struct Place {
  bool exists = false;
  bool link = false;     // a symbolic link
  bool regular = false;  // a regular file
  bool shared = false;   // a file with more than one name (a hard link)
  unsigned mode = 0;     // its permission bits
};
Place LookAt(const std::string& path);

// A new file of our own for writing text, in the directory of `path` under
// a name of its own (returned in `temp`), with the permissions of the
// regular file that stands at `path` (`place`), else the default ones. Null
// when the directory takes no new file.
FILE* CreateBeside(const std::string& path, const Place& place, std::string& temp);

// Puts `from` in the place of `to`, replacing whatever stands there.
bool RenameOver(const std::string& from, const std::string& to);

// Opens `path` to be written anew in place, never through a link.
FILE* OpenInPlace(const std::string& path);

// The parts of where the settings file lies (ChooseSettingsPath):
// the directory part of a path ("." for none);
std::string DirectoryOf(const std::string& path);
// whether this process may write the regular file at `path`, and make a new
// file in `dir`;
bool FileTakesWrites(const std::string& path);
bool DirectoryTakesFiles(const std::string& dir);
// whether `dir` holds installed programs, shared by every user (POSIX: the
// install prefix's bin, /usr/bin, /usr/local/bin; Windows: Program Files);
bool IsProgramsDirectory(const std::string& dir);
// each user's own configuration directory (POSIX: $XDG_CONFIG_HOME, else
// $HOME/.config, either only when absolute; Windows: %APPDATA%), "" when
// there is none.
std::string UserConfigDirectory(const char* xdg_config_home, const char* home);

// The modification time of an open file, in local time; false when the
// file's status cannot be read.
bool ModifiedLocalTime(FILE* file, std::tm& local);

}  // namespace vk::frame
