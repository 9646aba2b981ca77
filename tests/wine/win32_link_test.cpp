// The link over the Win32 backend on COM1, run under Wine by smoke.py with
// COM1 mapped to a pseudo-terminal whose master side the suite plays: it
// answers 55 AA 66 once 01 02 has arrived, and reads the line settings
// after each "step" line this test prints (the test then waits 700 ms).
// Pseudo-terminals have no modem lines, so the first CTS read fails.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "frame/frame.h"
#include "link/ending.h"
#include "link/link.h"

namespace {

using Clock = std::chrono::steady_clock;
using vk::link::Leave;
using vk::link::RunEnd;

long MsSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

void Step(const char* name) {
  std::printf("step %s\n", name);
  std::fflush(stdout);
  vk::link::SleepMs(700);
}

TEST(Win32Link, RoutinesOnACom1ThatIsAPseudoTerminal) {
  vk::link::Link link;
  link.OpenPort(1, 115200);
  Step("open");
  EXPECT_EQ(link.RxPending(), 0);

  const std::vector<uint8_t> none{0x11};
  const std::vector<uint8_t> block{0x01, 0x02};
  for (uint8_t b : {0x7F, 0x00, 0xFF}) link.Transmit(b);
  link.TransmitBlock(none.data(), 0);
  link.TransmitBlock(block.data(), 2);

  const auto start = Clock::now();
  while (link.RxPending() == 0 && MsSince(start) < 3000) vk::link::SleepMs(5);
  EXPECT_EQ(link.RxPending(), 1);
  EXPECT_EQ(static_cast<uint8_t>(link.ReceiveWait()), 0x55);
  EXPECT_EQ(static_cast<uint8_t>(link.ReceiveWait()), 0xAA);

  // The place whose byte does not come keeps its content, after the read
  // time-out.
  std::vector<uint8_t> buffer(2, 0xEE);
  const auto block_start = Clock::now();
  link.ReceiveBlock(buffer.data(), 2);
  const long ms = MsSince(block_start);
  EXPECT_EQ(buffer, (std::vector<uint8_t>{0x66, 0xEE}));
  EXPECT_GE(ms, 1900);
  EXPECT_LE(ms, 4000);

  link.SetBaudRate(38400);
  Step("baud");
  link.EnableAuto_RTS_CTS(1);
  Step("hs 1");
  link.EnableAuto_RTS_CTS(0);
  Step("hs 0");

  // The modem-line call fails with its message and code; the way out
  // through ExitTool then fails at RTS, and the run ends with 2.
  testing::internal::CaptureStdout();
  int code = 0;
  try {
    (void)link.CTSSignalSet();
  } catch (const RunEnd& end) {
    EXPECT_EQ(end.leave, Leave::ExitTool);
    code = vk::frame::FinishRun(link, end);
  }
  std::fflush(stdout);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(code, 2);
  EXPECT_EQ(out.rfind("\nCTSSignalSet() Failed: ", 0), 0u) << out;
  EXPECT_NE(out.find("\nSetRtsSignal() Failed: "), std::string::npos) << out;
  EXPECT_EQ(out.find("Failed: 0"), std::string::npos) << out;
}

}  // namespace
