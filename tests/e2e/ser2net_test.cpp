// The programs through ser2net (Debian package ser2net, 4.3), only ever with a
// TCP connector to vksim: the same results as straight against vksim; the
// first connection after ser2net starts; its refusals.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <regex>
#include <stdexcept>

#include "support/process.h"
#include "support/tool_rig.h"

using namespace vktest;

namespace {

bool WaitUntil(const std::function<bool()>& done, int ms) {
  for (const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms); !done(); usleep(10000))
    if (std::chrono::steady_clock::now() > end) return false;
  return true;
}

// From /proc/net/tcp: a probing connection would make ser2net open its connector.
bool Listening(int port) {
  char want[32];
  std::snprintf(want, sizeof want, "0100007F:%04X", port);
  std::ifstream in("/proc/net/tcp");
  std::string slot, local, remote, state, rest;
  while (in >> slot >> local >> remote >> state && std::getline(in, rest))
    if (local == want && state == "0A") return true;
  return false;
}

// The README's configuration as it stands, but for its device and its port
// (taken on loopback only).
std::string ReadmeYaml(int port, const std::string& device) {
  const std::string readme = ReadFile(std::string(VK_SOURCE_DIR) + "/README.md");
  std::smatch m;
  const std::regex block("### A board behind ser2net[\\s\\S]*?```yaml\n([\\s\\S]*?)```");
  if (!std::regex_search(readme, m, block)) return "no yaml block under the README's ser2net heading";
  std::string yaml = std::regex_replace(m[1].str(), std::regex(",3001\n"), ",127.0.0.1," + std::to_string(port) + "\n");
  return std::regex_replace(yaml, std::regex("serialdev,[^,]+,"), "serialdev," + device + ",");
}

// ser2net in the foreground (-n -d: log on stdout), no UUCP locks (-u). A shell
// finds it (sbin may not be on PATH), names the port as SimProcess expects and
// becomes ser2net, killed at the end of its use or with the tests. No ser2net:
// a failure, not a skip (a message without newline, which SimProcess shows).
// With `readme_device`, the README's configuration for that device instead.
std::unique_ptr<SimProcess> StartSer2net(const TempDir& dir, int device_port, const std::string& readme_device = "") {
  static std::mt19937 pick(std::random_device{}());
  const std::string script =
      "PATH=$PATH:/usr/sbin:/usr/local/sbin:/sbin; command -v ser2net >/dev/null || { printf 'ser2net is not "
      "installed: these tests need it (Debian package ser2net, which ./scripts/test installs)'; exit 1; }; "
      "echo ser2net listening on 127.0.0.1:$1; exec setpriv --pdeathsig KILL ser2net -n -d -u -c \"$0\"";
  std::string log;
  for (int attempt = 0; attempt < 3; ++attempt) {  // another may take the port meanwhile
    const int port = 20000 + static_cast<int>(pick() % 12000);
    if (Listening(port)) continue;
    char yaml[512];  // no character delay, no Nagle, no TCP wrapper files
    std::snprintf(yaml, sizeof yaml,
                  "%%YAML 1.1\n---\nconnection: &board\n"
                  "  accepter: telnet(rfc2217),tcp(nodelay,tcpd=off),127.0.0.1,%d\n"
                  "  connector: telnet(rfc2217),tcp(nodelay),127.0.0.1,%d\n"
                  "  options:\n    chardelay: false\n",
                  port, device_port);
    WriteFile(dir.File("ser2net.yaml"), readme_device.empty() ? yaml : ReadmeYaml(port, readme_device));
    auto ser2net = std::make_unique<SimProcess>(
        std::vector<std::string>{"/bin/sh", "-c", script, dir.File("ser2net.yaml"), std::to_string(port)}, true);
    if (WaitUntil([&] { return Listening(port) || ser2net->Wait(0) != -1; }, 5000) && Listening(port)) return ser2net;
    log += ser2net->Output();
  }
  throw std::runtime_error("ser2net did not start: " + log);
}

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

// vksim with its flash, trace, the programs and the sample in a directory of
// its own, reached directly or through ser2net.
struct Board {
  explicit Board(bool through_ser2net) : rig("vkburn", {}, "# empty\n") {
    if (through_ser2net) ser2net = StartSer2net(rig.dir(), rig.sim().port());
    const std::string sample = std::string(VK_SOURCE_DIR) + "/samples/blink/BLINK.X";  // -p: with its times
    RunProgram({"/bin/cp", "-p", sample + "0", sample + "1", sample + "2", sample + "3", "."}, {}, rig.dir().path());
  }
  RunResult Run(const Step& step) {
    std::vector<std::string> args = step.args;
    args.insert(args.begin(), rig.dir().File(step.tool));
    if (!FileExists(args[0])) CopyExecutable(BinDir() + "/" + step.tool, args[0]);
    auto env = ToolEnv(ser2net ? ser2net->Url() : rig.Url());
    env["TZ"] = "UTC0";
    return RunProgram(args, env, rig.dir().path(), step.input, 20000);
  }
  ToolRig rig;
  std::unique_ptr<SimProcess> ser2net;
};

TEST(Ser2netTest, EveryProgramAsDirect) {
  Board direct(false), proxied(true);
  const std::regex time("Download Time = [0-9]+\\.[0-9] Seconds");
  for (const Step& step : kSession) {
    SCOPED_TRACE(step.tool + (step.args.empty() ? "" : " " + step.args[0]));
    const RunResult a = direct.Run(step), b = proxied.Run(step);
    EXPECT_EQ(a.exit_code, step.exit_code) << a.out;
    EXPECT_NE(a.out.find(step.says), std::string::npos) << a.out;
    EXPECT_EQ(std::regex_replace(b.out, time, "T"), std::regex_replace(a.out, time, "T")) << proxied.ser2net->Output();
    EXPECT_EQ(b.exit_code, a.exit_code);
    EXPECT_EQ(proxied.rig.Flash(), direct.rig.Flash());
  }
  for (const Board* board : {&direct, &proxied})  // vksim has seen the last connection end
    EXPECT_TRUE(WaitUntil([&] { return board->rig.Trace().ends_with("# disconnect\n"); }, 5000));
  for (const char direction : {'>', '<'}) {
    const std::vector<int> ours = TraceBytes(direct.rig.Trace(), direction);
    EXPECT_FALSE(ours.empty());
    EXPECT_EQ(TraceBytes(proxied.rig.Trace(), direction), ours) << direction;
  }
}

// ser2net agrees to COM-PORT-OPTION before its own connector has been agreed
// to and drops the settings that come in between; the open waits for an
// answer to a rate query first (docs/link-notes.md).
TEST(Ser2netTest, FirstConnectionAfterStartThirtyTimes) {
  int hung = 0;
  for (int i = 0; i < 30 && hung < 3; ++i) {  // three hangs tell enough
    ToolRig rig("vkstart", {"--program", "PROG"});
    const auto ser2net = StartSer2net(rig.dir(), rig.sim().port());
    const RunResult r = rig.Run({"prog"}, "", 8000, {{"VK_COM1", ser2net->Url()}});
    hung += r.timed_out ? 1 : 0;
    EXPECT_EQ(r.out, "\nPROG Started On Target.\n") << "run " << i << (r.timed_out ? " hung" : "");
    EXPECT_EQ(r.exit_code, 2) << "run " << i;
  }
}

// ser2net agrees to COM-PORT-OPTION, then says why it refuses and closes; the
// open sees the close while waiting for its rate query's answer.
TEST(Ser2netTest, RefusalsEndTheOpen) {
  ToolRig rig("vklist", {});
  for (const bool in_use : {false, true}) {
    SCOPED_TRACE(in_use ? "port in use" : "nothing listens at the connector's port");
    const auto ser2net = StartSer2net(rig.dir(), in_use ? rig.sim().port() : 1);
    const int first = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{AF_INET, htons(static_cast<uint16_t>(ser2net->port())), {htonl(INADDR_LOOPBACK)}, {}};
    pollfd p{first, POLLIN, 0};
    // A first client, held once ser2net has accepted it (sent its first bytes).
    EXPECT_TRUE(!in_use ||
                (connect(first, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && poll(&p, 1, 3000) == 1));
    const RunResult r = rig.Run({}, "", 10000, {{"VK_COM1", ser2net->Url()}});
    close(first);
    const std::regex open_failed("\nOpen Of rfc2217://127\\.0\\.0\\.1:" + std::to_string(ser2net->port()) +
                                 " Failed: [1-9][0-9]*\n");
    EXPECT_TRUE(std::regex_match(r.out, open_failed)) << r.out;
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_LT(r.elapsed_ms, 5000);
  }
}

// The README's configuration, read by Debian's ser2net from a file of that
// shape, serves a port the tools open; a pseudo-terminal stands in for the
// USB adapter, so no CTS ever comes and the run ends by its time limit.
// The README names the file Debian's service reads.
TEST(Ser2netTest, ReadmeConfigurationServesThePort) {
  const std::string defaults = ReadFile("/etc/default/ser2net");
  EXPECT_NE(defaults.find("CONFFILE=\"/etc/ser2net.yaml\""), std::string::npos) << defaults;
  EXPECT_NE(ReadFile(std::string(VK_SOURCE_DIR) + "/README.md").find("reads `/etc/ser2net.yaml`"), std::string::npos);

  int master = -1, device = -1;
  ASSERT_EQ(openpty(&master, &device, nullptr, nullptr, nullptr), 0);
  TempDir dir;
  const auto ser2net = StartSer2net(dir, 0, ttyname(device));
  auto env = ToolEnv(ser2net->Url());
  env["VK_CONNECT_TIMEOUT"] = "1";
  const RunResult r = RunProgram({BinDir() + "/vklist"}, env, dir.path(), "", 10000);
  close(master);
  close(device);
  EXPECT_TRUE(std::regex_match(r.out, std::regex("\\**\nConnectTarget\\(\\): Time-Out, Target Did Not Answer "
                                                 "Within 1 Seconds\n")))
      << r.out << ser2net->Output();
  EXPECT_EQ(r.exit_code, 2);
}

}  // namespace
