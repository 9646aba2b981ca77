// The programs through ser2net (Debian package ser2net, 4.3) in front of
// vksim, as users run boards behind it: the same output, exit codes, flash
// and bytes on the wire as straight against vksim; the first connection
// after ser2net starts; ser2net's refusals. ser2net runs in the foreground
// with its configuration and log in the test's directory, only ever with a
// TCP connector to vksim on 127.0.0.1.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "support/process.h"

using namespace vktest;

namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// ser2net lives in sbin, which a user's PATH may lack.
std::string Ser2netPath() {
  std::string dirs = getenv("PATH") ? getenv("PATH") : "";
  dirs += ":/usr/sbin:/usr/local/sbin:/sbin";
  std::istringstream in(dirs);
  for (std::string dir; std::getline(in, dir, ':');)
    if (!dir.empty() && access((dir + "/ser2net").c_str(), X_OK) == 0) return dir + "/ser2net";
  return "";
}

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    throw std::runtime_error("no free port");
  close(fd);
  return ntohs(addr.sin_port);
}

// Whether something listens on 127.0.0.1:port, read from /proc/net/tcp: a
// probing connection would make ser2net open its connector.
bool Listening(int port) {
  char want[32];
  std::snprintf(want, sizeof want, "0100007F:%04X", port);
  std::ifstream in("/proc/net/tcp");
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (local == want && state == "0A") return true;
  }
  return false;
}

// The configuration that works at full speed: no character delay, no
// Nagle on either connection, no TCP wrapper files (tcpd=off).
std::string Ser2netYaml(int port, int device_port) {
  return "%YAML 1.1\n---\nconnection: &board\n"
         "  accepter: telnet(rfc2217),tcp(nodelay,tcpd=off),127.0.0.1," + std::to_string(port) + "\n"
         "  connector: telnet(rfc2217),tcp(nodelay),127.0.0.1," + std::to_string(device_port) + "\n"
         "  options:\n    chardelay: false\n";
}

// ser2net in the foreground (-n -d: log on standard output, into
// ser2net.log), no UUCP locks (-u), no pid file, its configuration from the
// test's directory and nothing from /etc/ser2net.
class Ser2net {
 public:
  Ser2net(const TempDir& dir, int device_port) : dir_(dir) {
    const std::string path = Ser2netPath();
    if (path.empty()) throw std::runtime_error("ser2net is not installed (Debian package ser2net)");
    for (int attempt = 0; attempt < 3 && port_ == 0; ++attempt) {
      const int port = FreePort();
      WriteFile(dir.File("ser2net.yaml"), Ser2netYaml(port, device_port));
      Spawn(path);
      for (const auto start = Clock::now(); MsSince(start) < 5000; usleep(10000)) {
        if (Listening(port)) {
          port_ = port;
          break;
        }
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {  // the port was taken meanwhile
          pid_ = -1;
          break;
        }
      }
    }
    if (port_ == 0) {
      Stop();
      throw std::runtime_error("ser2net did not start: " + Log());
    }
  }
  ~Ser2net() { Stop(); }
  Ser2net(const Ser2net&) = delete;
  Ser2net& operator=(const Ser2net&) = delete;

  int port() const { return port_; }
  std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }
  std::string Log() const { return ReadFile(dir_.File("ser2net.log")); }

 private:
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (const auto start = Clock::now(); MsSince(start) < 2000; usleep(10000))
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  void Spawn(const std::string& path) {
    std::vector<std::string> args{path, "-n", "-d", "-u", "-c", dir_.File("ser2net.yaml")};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    char env_path[] = "PATH=/usr/bin:/bin";
    char* envp[] = {env_path, nullptr};
    const std::string log = dir_.File("ser2net.log");
    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      const int in = open("/dev/null", O_RDONLY);
      const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (in < 0 || out < 0 || chdir(dir_.path().c_str()) != 0) _exit(126);
      dup2(in, 0);
      dup2(out, 1);
      dup2(out, 2);
      execve(argv[0], argv.data(), envp);
      _exit(127);
    }
  }

  const TempDir& dir_;
  int pid_ = -1;
  int port_ = 0;
};

// A client that connects and waits until the server agrees to
// COM-PORT-OPTION (or 3 s pass); it holds the connection until destroyed.
class RawClient {
 public:
  explicit RawClient(int port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return;
    const char will_com_port[] = {'\xFF', '\xFB', 0x2C};
    (void)!write(fd_, will_com_port, sizeof will_com_port);
    std::string got;
    for (const auto start = Clock::now(); MsSince(start) < 3000 && got.find("\xFF\xFD\x2C") == std::string::npos;) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buffer[256];
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<size_t>(n));
    }
  }
  ~RawClient() { close(fd_); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

 private:
  int fd_;
};

class Ser2netTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Ser2netPath().empty())
        << "ser2net is not installed: these tests need it (Debian package ser2net, which ./scripts/test installs)";
  }
};

// ------------------------------------------------- every program, two ways

struct Step {
  std::string tool;
  std::vector<std::string> args;
  std::string input;
  int exit_code;
  const char* says;  // a piece of the expected output
};

const std::vector<Step> kSession = {
    {"vkburn", {"blink", "-ms"}, "", 0, "BLINK Started At Address"},
    {"vklist", {}, "", 254, "BLINK           PRG"},
    {"vkcheck", {}, "", 0, "No File Errors On Target"},
    {"vkname", {"blink", "lamp"}, "", 254, "Done."},
    {"vkburn", {"blink", "-mf"}, "", 0, "BLINK Started At Address"},
    {"vkstart", {"lamp"}, "", 2, "LAMP Started On Target."},
    {"vkerase", {"lamp"}, "", 2, "Done."},
    {"vkram", {"blink"}, "", 0, "Download Time"},
    {"vkwipe", {}, "y\n", 254, "Done."},
};

// A board (vksim keeping its flash and trace in a directory of its own)
// that the programs reach directly or through ser2net.
class Board {
 public:
  explicit Board(bool through_ser2net) {
    WriteFile(dir_.File("flash.txt"), "# empty\n");
    sim_ = std::make_unique<SimProcess>(
        std::vector<std::string>{"--flash", dir_.File("flash.txt"), "--trace", dir_.File("trace.txt")});
    url_ = sim_->Url();
    if (through_ser2net) {
      ser2net_ = std::make_unique<Ser2net>(dir_, sim_->port());
      url_ = ser2net_->Url();
    }
    namespace fs = std::filesystem;
    for (const char* lane : {"BLINK.X0", "BLINK.X1", "BLINK.X2", "BLINK.X3"}) {
      const fs::path from = fs::path(VK_SOURCE_DIR) / "samples/blink" / lane;
      fs::copy_file(from, dir_.File(lane));
      fs::last_write_time(dir_.File(lane), fs::last_write_time(from));
    }
  }

  RunResult Run(const Step& step) {
    const std::string tool = dir_.File(step.tool);
    if (!FileExists(tool)) CopyExecutable(BinDir() + "/" + step.tool, tool);
    std::vector<std::string> args = step.args;
    args.insert(args.begin(), tool);
    auto env = ToolEnv(url_);
    env["TZ"] = "UTC0";
    ++sessions_;
    return RunProgram(args, env, dir_.path(), step.input, 20000);
  }

  std::string Flash() const {
    std::string kept, line;
    std::istringstream in(ReadFile(dir_.File("flash.txt")));
    while (std::getline(in, line))
      if (line.empty() || line[0] != '#') kept += line + "\n";
    return kept;
  }

  // The '>' and '<' bytes of each connection vksim served, once all have
  // ended (at most 5 s from now).
  std::vector<std::pair<std::vector<int>, std::vector<int>>> Sessions() const {
    const std::string trace = WaitFor("# disconnect\n", sessions_);
    std::vector<std::pair<std::vector<int>, std::vector<int>>> sessions;
    size_t at = 0;
    while ((at = trace.find("# connect\n", at)) != std::string::npos) {
      const size_t end = trace.find("# connect\n", at + 1);
      const std::string one = trace.substr(at, end == std::string::npos ? std::string::npos : end - at);
      sessions.emplace_back(TraceBytes(one, '>'), TraceBytes(one, '<'));
      at += 1;
    }
    return sessions;
  }

  std::string Log() const { return ser2net_ ? ser2net_->Log() : ""; }

 private:
  // The trace once it holds `count` lines `line` (at most 5 s from now).
  std::string WaitFor(const std::string& line, size_t count) const {
    std::string trace;
    for (const auto start = Clock::now(); MsSince(start) < 5000; usleep(10000)) {
      trace = ReadFile(dir_.File("trace.txt"));
      if (Count(trace, line) >= count) break;
    }
    return trace;
  }

  static size_t Count(const std::string& text, const std::string& piece) {
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
    return n;
  }

  TempDir dir_;
  std::unique_ptr<SimProcess> sim_;
  std::unique_ptr<Ser2net> ser2net_;
  std::string url_;
  size_t sessions_ = 0;
};

std::string Steady(const std::string& out) {
  return std::regex_replace(out, std::regex("Download Time = [0-9]+\\.[0-9] Seconds"), "Download Time = T Seconds");
}

TEST_F(Ser2netTest, EveryProgramAsDirect) {
  Board direct(false);
  Board proxied(true);
  for (const Step& step : kSession) {
    SCOPED_TRACE(step.tool + (step.args.empty() ? "" : " " + step.args[0]));
    const RunResult a = direct.Run(step);
    const RunResult b = proxied.Run(step);
    EXPECT_EQ(a.exit_code, step.exit_code) << a.out;
    EXPECT_NE(a.out.find(step.says), std::string::npos) << a.out;
    EXPECT_EQ(Steady(b.out), Steady(a.out)) << proxied.Log();
    EXPECT_EQ(b.exit_code, a.exit_code);
    EXPECT_EQ(proxied.Flash(), direct.Flash());
  }
  const auto ours = direct.Sessions();
  const auto theirs = proxied.Sessions();
  ASSERT_EQ(ours.size(), kSession.size());
  ASSERT_EQ(theirs.size(), kSession.size());
  for (size_t i = 0; i < kSession.size(); ++i) {
    SCOPED_TRACE(kSession[i].tool);
    EXPECT_FALSE(ours[i].first.empty());
    EXPECT_EQ(theirs[i].first, ours[i].first) << "host to board";
    EXPECT_EQ(theirs[i].second, ours[i].second) << "board to host";
  }
}

// ------------------------------------------ the first connection, again and again

// ser2net agrees to COM-PORT-OPTION as it accepts, before its own RFC 2217
// connector has been agreed to, and drops without an answer the settings
// (baud, data size, parity, stop size, flow, DTR, RTS) that come in
// between; the open waits for an answer to a rate query first, or one run
// in three to six would wait for CTS for ever (docs/link-notes.md).
TEST_F(Ser2netTest, FirstConnectionAfterStartThirtyTimes) {
  TempDir dir;
  CopyExecutable(BinDir() + "/vkstart", dir.File("vkstart"));
  int hung = 0;
  for (int i = 0; i < 30 && hung < 3; ++i) {  // three hangs tell enough
    SimProcess sim({"--program", "PROG"});
    Ser2net ser2net(dir, sim.port());
    const RunResult r = RunProgram({dir.File("vkstart"), "prog"}, ToolEnv(ser2net.Url()), dir.path(), "", 8000);
    hung += r.timed_out ? 1 : 0;
    EXPECT_EQ(r.out, "\nPROG Started On Target.\n") << "run " << i << (r.timed_out ? " hung" : "");
    EXPECT_EQ(r.exit_code, 2) << "run " << i;
  }
}

// ---------------------------------------------------------- refusals

// ser2net agrees to COM-PORT-OPTION before it says why it refuses and
// closes; the open, waiting for the answer to its rate query, sees the close
// and fails, rather than the next port call a few ms later with a message
// that depends on timing (docs/link-notes.md).
TEST_F(Ser2netTest, RefusalsEndTheOpen) {
  TempDir dir;
  SimProcess sim({});
  CopyExecutable(BinDir() + "/vklist", dir.File("vklist"));
  struct Case {
    const char* name;
    bool nothing_listens;  // else a second client while one is connected
  };
  for (const Case& c : {Case{"device cannot be opened", true}, Case{"port in use", false}}) {
    SCOPED_TRACE(c.name);
    Ser2net ser2net(dir, c.nothing_listens ? 1 : sim.port());
    std::unique_ptr<RawClient> first;
    if (!c.nothing_listens) first = std::make_unique<RawClient>(ser2net.port());
    const RunResult r = RunProgram({dir.File("vklist")}, ToolEnv(ser2net.Url()), dir.path(), "", 10000);
    const std::regex open_failed("\nOpen Of " + std::regex_replace(ser2net.Url(), std::regex("\\."), "\\.") +
                                 " Failed: [1-9][0-9]*\n");
    EXPECT_TRUE(std::regex_match(r.out, open_failed)) << r.out;
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_LT(r.elapsed_ms, 5000);
  }
}

}  // namespace
