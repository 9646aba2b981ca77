// A key press on the controlling terminal ends a connection attempt that
// never comes: exit code 2, no message, and the terminal is left as it was.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/process.h"

using namespace vktest;

namespace {

struct TerminalRun {
  int exit_code = -1;
  bool timed_out = false;
  std::string out;
  tcflag_t lflag_after = 0;
};

// Runs the tool with a fresh pseudo-terminal as its controlling terminal and
// standard output, and presses a key after `key_after_ms`.
TerminalRun RunOnTerminal(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                          const std::string& cwd, int key_after_ms, int timeout_ms) {
  TerminalRun run;
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  EXPECT_GE(master, 0);
  grantpt(master);
  unlockpt(master);
  const std::string slave_name = ptsname(master);

  std::vector<std::string> args = argv;
  std::vector<char*> c_args;
  for (auto& a : args) c_args.push_back(a.data());
  c_args.push_back(nullptr);
  std::vector<std::string> envs;
  for (const auto& [k, v] : env) envs.push_back(k + "=" + v);
  std::vector<char*> c_env;
  for (auto& e : envs) c_env.push_back(e.data());
  c_env.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    const int slave = open(slave_name.c_str(), O_RDWR);  // becomes the controlling terminal
    ioctl(slave, TIOCSCTTY, 0);
    const int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);  // the key must come from the terminal, not standard input
    dup2(slave, 1);
    dup2(slave, 2);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    execve(c_args[0], c_args.data(), c_env.data());
    _exit(127);
  }
  const int slave_view = open(slave_name.c_str(), O_RDWR | O_NOCTTY);
  struct termios before {};
  tcgetattr(slave_view, &before);

  const auto start = std::chrono::steady_clock::now();
  bool key_sent = false;
  int status = 0;
  for (;;) {
    const long elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    if (!key_sent && elapsed >= key_after_ms) {
      (void)!write(master, "x", 1);
      key_sent = true;
    }
    struct pollfd p {master, POLLIN, 0};
    if (poll(&p, 1, 20) > 0) {
      char buffer[512];
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n > 0) run.out.append(buffer, static_cast<size_t>(n));
    }
    if (waitpid(pid, &status, WNOHANG) == pid) {
      if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
      break;
    }
    if (elapsed > timeout_ms) {
      run.timed_out = true;
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
  }
  struct termios after {};
  tcgetattr(slave_view, &after);
  run.lflag_after = after.c_lflag;
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO), before.c_lflag & (ICANON | ECHO));
  close(slave_view);
  close(master);
  return run;
}

TEST(KeyPress, EndsTheWaitForCtsWithExitCode2) {
  TempDir dir;
  SimProcess sim({"--no-cts"});
  CopyExecutable(BinDir() + "/vkstart", dir.File("vkstart"));
  const TerminalRun run = RunOnTerminal({dir.File("vkstart"), "prog"}, ToolEnv(sim.Url()), dir.path(), 600, 8000);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_code, 2);
  // Only progress stars, no message.
  EXPECT_EQ(run.out.find_first_not_of('*'), std::string::npos) << run.out;
}

TEST(KeyPress, EndsTheSyncAttemptsWithExitCode2) {
  TempDir dir;
  // The board never echoes: every sync byte is ignored.
  SimProcess sim({"--sync-ignore", "1000000"});
  CopyExecutable(BinDir() + "/vkstart", dir.File("vkstart"));
  const TerminalRun run = RunOnTerminal({dir.File("vkstart"), "prog", "-i"}, ToolEnv(sim.Url()), dir.path(), 600, 8000);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_NE(run.out.find("With 38400 Baud"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("Connected"), std::string::npos) << run.out;
}

}  // namespace
