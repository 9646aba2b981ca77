// The flash report of VKCHECK taken byte by byte: fillers, the checksum,
// the 1024-byte list store, and the two print layouts.
#include <gtest/gtest.h>

#include <cstdio>

#include "support/bytes.h"

#include "tools/vkcheck/report.h"

using vk::vkcheck::kListBytes;
using vk::vkcheck::Report;
using vk::vkcheck::ReportReader;
using Bytes = std::vector<uint8_t>;

using vktest::Append;

namespace {

std::string Printed(const Report& report) {
  return vktest::Printed([&](std::FILE* out) { vk::vkcheck::PrintReport(out, report); });
}

// 5 files, 524288 and 65536 bytes.
const Bytes kHead{0x05, 0x00, 0x08, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00};
// Autostart sound, version 2.1.
const Bytes kTail{0x00, 0x02, 0x01};

ReportReader Feed(const Bytes& report, uint8_t checksum) {
  ReportReader r(0x0A);
  for (uint8_t b : report) {
    r.Add(b);
    EXPECT_FALSE(r.Complete());
  }
  r.Add(checksum);
  EXPECT_TRUE(r.Complete());
  return r;
}

const std::string kNumbers =
    "Number Of Present Files On Target:  5"
    "\nCommon Flash Memory Size On Target: 524288 Bytes"
    "\nFree Flash Memory Size On Target:   65536 Bytes"
    "\nFile Software Version On Target:    V 2.1\n";

TEST(CheckReport, EmptyErrorList) {
  Bytes report = kHead;
  report.push_back(0);
  Append(report, kTail);
  const ReportReader r = Feed(report, 0x1B);
  EXPECT_EQ(r.sum(), 0x1B) << "10 + 5 + 8 + 1 + 2 + 1";
  EXPECT_EQ(r.received_checksum(), 0x1B);
  EXPECT_FALSE(r.report().HasFileErrors());
  EXPECT_EQ(Printed(r.report()), "\nNo File Errors On Target\n\n" + kNumbers);
}

TEST(CheckReport, FillersSkippedBetweenEntriesNotInsideNames) {
  Bytes report = kHead;
  // FF FF "AB" 00 FF "C" FF 00 FF FF 00: the FF inside the second name is
  // a character.
  Append(report, {0xFF, 0xFF, 'A', 'B', 0x00, 0xFF, 'C', 0xFF, 0x00, 0xFF, 0xFF, 0x00});
  Append(report, kTail);
  const ReportReader r = Feed(report, 0);
  EXPECT_EQ(r.report().bad_files, (std::vector<std::string>{"AB", "C\xFF"}));
  const uint8_t expected = static_cast<uint8_t>(0x1B + 'A' + 'B' + 'C' + 0xFF);
  EXPECT_EQ(r.sum(), expected) << "only the FF inside the name is summed";
  EXPECT_EQ(Printed(r.report()),
            "\nChecksum Error At File AB\nChecksum Error At File C\xFF\n\n" + kNumbers);
}

TEST(CheckReport, NumbersUnsignedAndVersionFields) {
  Bytes report{200, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0x00, 0x00, 0x00, 0x00, 0x07, 0x0C, 0x22};
  const ReportReader r = Feed(report, 0);
  const Report& rep = r.report();
  EXPECT_EQ(rep.file_count, 200);
  EXPECT_EQ(rep.common_size, 0xFFFFFFFFu);
  EXPECT_EQ(rep.free_size, 0x80000000u);
  EXPECT_EQ(rep.autostart, 7);
  EXPECT_EQ(Printed(rep),
            "\nNo File Errors On Target\n\n"
            "\nERROR: UNKNOWN RESULT CODE RECEIVED\n\n"
            "Number Of Present Files On Target:  200"
            "\nCommon Flash Memory Size On Target: 4294967295 Bytes"
            "\nFree Flash Memory Size On Target:   2147483648 Bytes"
            "\nFile Software Version On Target:    V 12.34\n");
}

// Names whose bytes with their 0s come to `total`, the last one padding.
Bytes ListOf(size_t total, std::vector<std::string>& names) {
  Bytes list;
  while (total > 0) {
    const size_t len = std::min<size_t>(total - 1, 100);
    names.push_back(std::string(len, static_cast<char>('A' + names.size() % 26)));
    Append(list, Bytes(names.back().begin(), names.back().end()));
    list.push_back(0);
    total -= len + 1;
  }
  return list;
}

TEST(CheckReport, ListFillingTheStoreIsKept) {
  std::vector<std::string> names;
  Bytes report = kHead;
  Append(report, ListOf(kListBytes, names));
  report.push_back(0);
  Append(report, kTail);
  const ReportReader r = Feed(report, 0);
  EXPECT_EQ(r.report().bad_files, names);
  EXPECT_EQ(r.report().files_not_kept, 0);
}

TEST(CheckReport, ListPastTheStoreIsCutCountedAndSummed) {
  std::vector<std::string> names;
  Bytes report = kHead;
  Bytes list = ListOf(kListBytes, names);
  // One more name that does not fit, then a short one after it.
  Append(list, {'X', 0, 'Y', 0});
  Append(report, list);
  report.push_back(0);
  Append(report, kTail);
  const ReportReader r = Feed(report, 0);
  EXPECT_EQ(r.report().bad_files, names) << "nothing is kept after the first name that does not fit";
  EXPECT_EQ(r.report().files_not_kept, 2);
  EXPECT_TRUE(r.report().HasFileErrors());
  uint8_t sum = 0x0A;
  for (uint8_t b : report) sum = static_cast<uint8_t>(sum + b);
  EXPECT_EQ(r.sum(), sum);
  const std::string printed = Printed(r.report());
  EXPECT_NE(printed.find("\nChecksum Error At File " + names.back() +
                         "\nFile Error List Longer Than 1024 Bytes: 2 More File(s) Not Shown\n\nNumber Of"),
            std::string::npos)
      << printed;
}

TEST(CheckReport, SingleNameLongerThanTheStore) {
  Bytes report = kHead;
  Append(report, Bytes(3000, 'Z'));
  Append(report, {0, 0});
  Append(report, {0x01, 0x02, 0x01});
  const ReportReader r = Feed(report, 0);
  EXPECT_TRUE(r.report().bad_files.empty());
  EXPECT_EQ(r.report().files_not_kept, 1);
  EXPECT_EQ(Printed(r.report()),
            "\nFile Error List Longer Than 1024 Bytes: 1 More File(s) Not Shown\n\n" + kNumbers +
                "\nAutostart Descriptor Checksum Error On Target\n\n");
}

}  // namespace
