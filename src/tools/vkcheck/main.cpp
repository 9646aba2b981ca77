// VKCHECK [-C<n>]: has the target check its flash file system and prints
// the report.
#include <cstdio>

#include "frame/exchange.h"
#include "frame/frame.h"
#include "tools/vkcheck/report.h"

namespace {

constexpr uint8_t kCmdCheckFlash = 0x0A;

}  // namespace

int main(int argc, char** argv) {
  using namespace vk::frame;
  Frame frame = StartFrame(Tool::Vkcheck, argc, argv);
  ConnectFrame(frame);
  DrainInput();

  Exchange exchange(EchoRule::ReportAndGoOn, kBlankLineTexts);
  exchange.Command(kCmdCheckFlash);

  vk::vkcheck::ReportReader reader(exchange.sum());
  while (!reader.Complete()) reader.Add(ReceiveByte());
  vk::vkcheck::PrintReport(stdout, reader.report());
  CompareChecksum(reader.sum(), reader.received_checksum(), "\n\n");
  EndSessionAndExit(reader.report().HasFileErrors() ? -2 : 0);
}
