#include "support/process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vktest {
namespace {

long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::vector<char*> CStrings(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

int NobodyUid() {
  const passwd* pw = getpwnam("nobody");
  return pw ? static_cast<int>(pw->pw_uid) : 65534;
}

RunResult RunProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                     const std::string& cwd, const std::string& input, int timeout_ms, int as_uid) {
  RunResult result;
  int out_pipe[2];
  int in_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(in_pipe, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");

  std::vector<std::string> args = argv;
  std::vector<std::string> envs;
  bool has_path = false;
  for (const auto& [k, v] : env) {
    envs.push_back(k + "=" + v);
    if (k == "PATH") has_path = true;
  }
  if (!has_path) envs.push_back("PATH=/usr/bin:/bin");
  auto c_args = CStrings(args);
  auto c_env = CStrings(envs);
  // A bare program name is looked up on the child's PATH, as a shell would.
  std::string exec_path = argv.at(0);
  if (exec_path.find('/') == std::string::npos) {
    auto path = env.find("PATH");
    std::istringstream dirs(path == env.end() ? "/usr/bin:/bin" : path->second);
    std::string dir;
    while (std::getline(dirs, dir, ':'))
      if (access((dir + "/" + exec_path).c_str(), X_OK) == 0) {
        exec_path = dir + "/" + exec_path;
        break;
      }
  }

  FILE* err = std::tmpfile();
  const long start = NowMs();
  const pid_t pid = fork();
  if (pid == 0) {
    // Own process group and no controlling terminal: the tool must never
    // see the terminal the tests run in.
    setsid();
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    if (err) dup2(fileno(err), 2);
    if (as_uid >= 0 && (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(as_uid)) != 0 ||
                        setuid(static_cast<uid_t>(as_uid)) != 0))
      _exit(125);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    execve(exec_path.c_str(), c_args.data(), c_env.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(in_pipe[0]);
  if (!input.empty()) {
    signal(SIGPIPE, SIG_IGN);
    (void)!write(in_pipe[1], input.data(), input.size());
  }
  close(in_pipe[1]);

  char buffer[4096];
  for (;;) {
    const long left = timeout_ms - (NowMs() - start);
    if (left <= 0) {
      result.timed_out = true;
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      break;
    }
    struct pollfd p {out_pipe[0], POLLIN, 0};
    const int r = poll(&p, 1, static_cast<int>(left));
    if (r < 0) continue;
    if (r == 0) continue;
    const ssize_t n = read(out_pipe[0], buffer, sizeof buffer);
    if (n <= 0) break;
    result.out.append(buffer, static_cast<size_t>(n));
  }
  close(out_pipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.elapsed_ms = NowMs() - start;
  if (!result.timed_out && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (err) {
    std::rewind(err);
    for (int c; (c = std::fgetc(err)) != EOF;) result.err.push_back(static_cast<char>(c));
    std::fclose(err);
  }
  return result;
}

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "vktest-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

void CopyExecutable(const std::string& from, const std::string& to) {
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(to, std::filesystem::perms::owner_all, std::filesystem::perm_options::add);
}

std::string BinDir() { return VK_BIN_DIR; }
std::string TestBinDir() { return std::string(VK_BIN_DIR) + "/../testbin"; }

SimProcess::SimProcess(const std::vector<std::string>& options) {
  std::vector<std::string> args{BinDir() + "/vksim", "--port", "0", "--idle-timeout", "120"};
  args.insert(args.end(), options.begin(), options.end());
  Start(args);
}

SimProcess::SimProcess(const std::vector<std::string>& argv, bool) { Start(argv); }

void SimProcess::Start(std::vector<std::string> args) {
  int out_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  auto c_args = CStrings(args);
  pid_ = fork();
  if (pid_ == 0) {
    setsid();
    dup2(out_pipe[1], 1);
    dup2(out_pipe[1], 2);
    const int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) dup2(devnull, 0);
    execv(c_args[0], c_args.data());
    _exit(127);
  }
  close(out_pipe[1]);
  out_fd_ = out_pipe[0];
  // The first line names the port: "vksim: listening on 127.0.0.1:PORT".
  const long start = NowMs();
  while (NowMs() - start < 10000) {
    const size_t eol = output_.find('\n');
    if (eol != std::string::npos) {
      const std::string line = output_.substr(0, eol);
      output_.erase(0, eol + 1);
      const size_t colon = line.rfind(':');
      if (line.find("listening on") != std::string::npos && colon != std::string::npos)
        port_ = std::atoi(line.c_str() + colon + 1);
      break;
    }
    struct pollfd p {out_fd_, POLLIN, 0};
    if (poll(&p, 1, 200) > 0) {
      char buffer[256];
      const ssize_t n = read(out_fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      output_.append(buffer, static_cast<size_t>(n));
    }
  }
  if (port_ <= 0) throw std::runtime_error(args[0] + " did not start: " + output_);
}

SimProcess::~SimProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_fd_ >= 0) close(out_fd_);
}

int SimProcess::Wait(int timeout_ms) {
  for (const long start = NowMs(); pid_ > 0; usleep(10000)) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      pid_ = -1;
    } else if (NowMs() - start >= timeout_ms) {
      return -1;
    }
  }
  return exit_code_;
}

std::string SimProcess::Url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

std::string SimProcess::Output() {
  char buffer[4096];
  for (;;) {
    struct pollfd p {out_fd_, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) break;
    const ssize_t n = read(out_fd_, buffer, sizeof buffer);
    if (n <= 0) break;
    output_.append(buffer, static_cast<size_t>(n));
  }
  return output_;
}

std::map<std::string, std::string> ToolEnv(const std::string& com1) {
  // Port 1 on loopback is never served: an accidental use of COM2..COM4
  // fails with a refused connection instead of reaching a real device.
  const std::string nowhere = "rfc2217://127.0.0.1:1";
  return {{"VK_COM1", com1},
          {"VK_COM2", nowhere},
          {"VK_COM3", nowhere},
          {"VK_COM4", nowhere},
          {"PATH", "/usr/bin:/bin"}};
}

std::vector<int> TraceBytes(const std::string& trace, char direction) {
  std::vector<int> bytes;
  std::istringstream in(trace);
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() >= 4 && line[0] == direction && line[1] == ' ')
      bytes.push_back(static_cast<int>(std::strtol(line.c_str() + 2, nullptr, 16)));
  }
  return bytes;
}

}  // namespace vktest
