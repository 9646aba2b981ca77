// Child processes for the tests: the real programs and the simulator, each
// with a time limit, so no test can hang.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace vktest {

struct RunResult {
  int exit_code = -1;      // 0..255 as the shell sees it; -1 when killed
  std::string out;         // everything written to standard output
  std::string err;         // and to standard error
  bool timed_out = false;  // killed at the time limit
  long elapsed_ms = 0;
};

// Runs argv[0] (a path) with exactly `env` as its environment (PATH added
// when missing), in `cwd`, feeding `input` on standard input (closed after
// it), for at most timeout_ms; as the user `as_uid` (its group too) when
// given.
RunResult RunProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                     const std::string& cwd, const std::string& input = "", int timeout_ms = 20000,
                     int as_uid = -1);

// The uid of the user "nobody", to run a program as an ordinary user.
int NobodyUid();

// A fresh directory, removed with its contents at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);
// Copies a file, keeping it executable.
void CopyExecutable(const std::string& from, const std::string& to);

// Where the built programs are.
std::string BinDir();
std::string TestBinDir();

// The board simulator (or another peer that first prints "... listening
// on 127.0.0.1:PORT") as a child process, killed at the end of the test.
class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& options);
  // Any peer program: argv[0] is its path.
  SimProcess(const std::vector<std::string>& argv, bool /*peer*/);
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
  int port() const { return port_; }
  std::string Url() const;
  // What the simulator printed so far (after the listening line), stderr too.
  std::string Output();
  // Its exit code, waiting at most timeout_ms for it to end; -1 if it did not.
  int Wait(int timeout_ms);

 private:
  void Start(std::vector<std::string> argv);

  int pid_ = -1;
  int exit_code_ = -1;
  int out_fd_ = -1;
  int port_ = 0;
  std::string output_;
};

// The environment a tool runs with: COM1 on `com1`, the other three on a
// loopback address where nothing listens, and PATH.
std::map<std::string, std::string> ToolEnv(const std::string& com1);

// The bytes of a trace file in one direction: '>' host to board as
// received, '<' board to host, 'x' lost at the wrong rate.
std::vector<int> TraceBytes(const std::string& trace, char direction);

}  // namespace vktest
