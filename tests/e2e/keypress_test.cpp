// A key press on the controlling terminal ends a connection attempt that
// never comes: exit code 2, no message on standard output, and the terminal
// is left as it was.
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
#include <cstring>
#include <functional>
#include <regex>

#include "support/tool_rig.h"

using namespace vktest;

namespace {

struct TerminalRun {
  int exit_code = -1;  // 128 + the signal when one ended the tool
  bool timed_out = false;
  std::string out;
};

// The tool's terminal as the test sees it.
struct Terminal {
  pid_t tool;
  int master;
  int view;  // the terminal opened without becoming its controlling process
  const std::string& out;  // what the tool wrote so far
  bool KeyMode() const {
    struct termios t {};
    tcgetattr(view, &t);
    return (t.c_lflag & (ICANON | ECHO)) == 0;
  }
  char State() const {  // of the tool's process, from /proc
    const std::string stat = ReadFile("/proc/" + std::to_string(tool) + "/stat");
    const size_t paren = stat.rfind(')');
    return paren == std::string::npos || paren + 2 >= stat.size() ? '?' : stat[paren + 2];
  }
  bool Says(const std::string& text) const { return out.find(text) != std::string::npos; }
};

// Taken in order, each once `ready` holds: what happens to the tool waits
// for the tool, not for the clock, so a busy machine only makes it slower.
struct Step {
  std::function<bool(const Terminal&)> ready;
  std::function<void(const Terminal&)> act;
};

bool InKeyMode(const Terminal& t) { return t.KeyMode(); }
void PressKey(const Terminal& t) { (void)!write(t.master, "x", 1); }

// Runs the rig's tool on a fresh pseudo-terminal that is its controlling
// terminal and standard output, in a foreground process group of its own
// under a session leader that waits for it (as a shell's job), and takes
// the steps. The terminal's modes must be as they were before the tool
// started once it has ended.
TerminalRun RunOnTerminal(const ToolRig& rig, const std::vector<std::string>& tool_args,
                          const std::vector<Step>& steps, int timeout_ms) {
  TerminalRun run;
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  EXPECT_GE(master, 0);
  grantpt(master);
  unlockpt(master);
  const std::string slave_name = ptsname(master);
  const int view = open(slave_name.c_str(), O_RDWR | O_NOCTTY);
  struct termios before {};
  tcgetattr(view, &before);  // before any process of the tool's exists

  std::vector<std::string> args{rig.tool()};
  args.insert(args.end(), tool_args.begin(), tool_args.end());
  std::vector<char*> c_args;
  for (auto& a : args) c_args.push_back(a.data());
  c_args.push_back(nullptr);
  std::vector<std::string> envs;
  for (const auto& [k, v] : ToolEnv(rig.Url())) envs.push_back(k + "=" + v);
  std::vector<char*> c_env;
  for (auto& e : envs) c_env.push_back(e.data());
  c_env.push_back(nullptr);
  const std::string cwd = rig.dir().path();

  int pid_pipe[2];
  EXPECT_EQ(pipe(pid_pipe), 0);
  const pid_t leader = fork();
  if (leader == 0) {
    setsid();
    const int slave = open(slave_name.c_str(), O_RDWR);  // becomes the controlling terminal
    ioctl(slave, TIOCSCTTY, 0);
    const pid_t tool = fork();
    if (tool == 0) {
      setpgid(0, 0);
      signal(SIGTTOU, SIG_IGN);
      tcsetpgrp(slave, getpid());
      signal(SIGTTOU, SIG_DFL);
      const int devnull = open("/dev/null", O_RDONLY);
      dup2(devnull, 0);  // the key must come from the terminal, not standard input
      dup2(slave, 1);
      dup2(slave, 2);
      if (chdir(cwd.c_str()) != 0) _exit(126);
      execve(c_args[0], c_args.data(), c_env.data());
      _exit(127);
    }
    (void)!write(pid_pipe[1], &tool, sizeof tool);
    int status = 0;
    while (waitpid(tool, &status, 0) != tool) {
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  }
  close(pid_pipe[1]);
  Terminal t{-1, master, view, run.out};
  EXPECT_EQ(read(pid_pipe[0], &t.tool, sizeof t.tool), static_cast<ssize_t>(sizeof t.tool));
  close(pid_pipe[0]);

  const auto start = std::chrono::steady_clock::now();
  size_t next = 0;
  int status = 0;
  for (;;) {
    const long elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    while (next < steps.size() && steps[next].ready(t)) steps[next++].act(t);
    struct pollfd p {master, POLLIN, 0};
    if (poll(&p, 1, 20) > 0) {
      char buffer[512];
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n > 0) run.out.append(buffer, static_cast<size_t>(n));
    }
    if (waitpid(leader, &status, WNOHANG) == leader) {
      if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
      break;
    }
    if (elapsed > timeout_ms) {
      run.timed_out = true;
      kill(t.tool, SIGKILL);
      kill(leader, SIGKILL);
      waitpid(leader, &status, 0);
      break;
    }
  }
  EXPECT_EQ(next, steps.size()) << "steps not taken";
  struct termios after {};
  tcgetattr(view, &after);
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO), before.c_lflag & (ICANON | ECHO));
  close(view);
  close(master);
  return run;
}

const std::string kKeyEndsTheWait = "a key press ends the wait";

TEST(KeyPress, EndsTheWaitForCtsWithExitCode2) {
  ToolRig rig("vkstart", {"--no-cts"});
  const TerminalRun run =
      RunOnTerminal(rig, {"prog"}, {{[](const Terminal& t) { return t.Says(kKeyEndsTheWait); }, PressKey}}, 10000);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_code, 2);
  // Progress stars and, after a few seconds, what is awaited; after the
  // key, that it ended the wait: each on standard error (the terminal too)
  // on a line of its own, standard output nothing but the stars.
  const std::regex layout("\\*+\r\nvkstart: waiting for the board on " + rig.Url() + " to raise CTS; " +
                          kKeyEndsTheWait + "\r\n(\\*+\r\n)?vkstart: a key press ended the wait for the board\r\n");
  EXPECT_TRUE(std::regex_match(run.out, layout)) << run.out;
}

TEST(KeyPress, EndsTheSyncAttemptsWithExitCode2) {
  // The board never echoes: every sync byte is ignored.
  ToolRig rig("vkstart", {"--sync-ignore", "1000000"});
  const TerminalRun run = RunOnTerminal(
      rig, {"prog", "-i"}, {{[](const Terminal& t) { return t.Says("With 38400 Baud"); }, PressKey}}, 8000);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.out.find("Connected"), std::string::npos) << run.out;
}

// Every signal that ends the tool in the key mode gives the terminal back
// first (the check is in RunOnTerminal); none is caught for good. Ctrl-C,
// SIGTERM and a hang-up end the run through the runner, which ends the
// line of stars.
TEST(KeyPress, SignalsThatEndTheRunGiveTheTerminalBack) {
  ToolRig rig("vkstart", {"--no-cts"});
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGPIPE}) {
    SCOPED_TRACE(strsignal(sig));
    const TerminalRun run = RunOnTerminal(
        rig, {"prog"}, {{[](const Terminal& t) { return InKeyMode(t) && t.Says("*"); },
                         [sig](const Terminal& t) { kill(t.tool, sig); }}},
        8000);
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 128 + sig);
    const bool runner = sig == SIGINT || sig == SIGTERM || sig == SIGHUP;
    EXPECT_EQ(run.out.ends_with("*\r\n"), runner) << run.out;
  }
}

// Stopped (Ctrl-Z) the tool leaves the terminal usable; continued it takes
// the key mode again, and a key still ends the wait.
TEST(KeyPress, StopAndContinueGiveTheTerminalBackInBetween) {
  ToolRig rig("vkstart", {"--no-cts"});
  bool keys_stopped = true;
  const auto always = [](const Terminal&) { return true; };
  const TerminalRun run = RunOnTerminal(
      rig, {"prog"},
      {{InKeyMode, [](const Terminal& t) { kill(t.tool, SIGTSTP); }},
       {[](const Terminal& t) { return t.State() == 'T'; }, [&](const Terminal& t) { keys_stopped = t.KeyMode(); }},
       {always, [](const Terminal& t) { kill(t.tool, SIGCONT); }},
       {InKeyMode, PressKey}},
      10000);
  EXPECT_FALSE(keys_stopped);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_code, 2);
}

}  // namespace
