// The directory reply of VKLIST taken byte by byte, the 2048-byte store,
// and the listing's columns.
#include <gtest/gtest.h>

#include <cstdio>

#include "support/bytes.h"

#include "tools/vklist/listing.h"

using vk::vklist::Directory;
using vk::vklist::DirectoryReply;
using vk::vklist::Entry;
using vk::vklist::kStoreBytes;
using Bytes = std::vector<uint8_t>;

using vktest::Append;

namespace {

std::string Printed(const Directory& d) {
  return vktest::Printed([&](std::FILE* out) { vk::vklist::PrintListing(out, d); });
}

Bytes EntryBytes(const std::string& name, uint8_t type, uint32_t size) {
  Bytes b(name.begin(), name.end());
  Append(b, {0, type, 12, 6, 1, 19, 56, 3});
  Append(b, {static_cast<uint8_t>(size >> 24), static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 8),
             static_cast<uint8_t>(size)});
  return b;
}

// Entries, end of list, auto-boot name, free flash 4096, trailing byte.
Bytes Reply(const std::vector<Bytes>& entries, const std::string& autoboot) {
  Bytes b;
  for (const Bytes& e : entries) Append(b, e);
  b.push_back(0);
  Append(b, Bytes(autoboot.begin(), autoboot.end()));
  Append(b, {0, 0x00, 0x00, 0x10, 0x00, 0x5A});
  return b;
}

uint8_t Sum(const Bytes& b) {
  uint8_t s = 0;
  for (uint8_t x : b) s = static_cast<uint8_t>(s + x);
  return s;
}

// Feeds the reply and a checksum byte; checks that the reply is complete
// exactly with the checksum byte.
DirectoryReply Feed(const Bytes& reply, uint8_t checksum) {
  DirectoryReply r;
  for (uint8_t b : reply) {
    r.Add(b);
    EXPECT_FALSE(r.Complete());
  }
  r.Add(checksum);
  EXPECT_TRUE(r.Complete());
  return r;
}

TEST(DirectoryReply, OneEntryWithItsColumns) {
  const Bytes reply = Reply({EntryBytes("TEST", 1, 0x4D2)}, "");
  const DirectoryReply r = Feed(reply, 0x33);
  EXPECT_FALSE(r.NoFiles());
  EXPECT_FALSE(r.Overflow());
  EXPECT_EQ(r.sum(), Sum(reply)) << "every reply byte, the trailing one included";
  EXPECT_EQ(r.received_checksum(), 0x33);
  EXPECT_EQ(Printed(r.directory()),
            "\nTEST            PRG   12.06.01   19:56:03   1234\n"
            "\nAuto Booting Program: \n"
            "\n4096 Bytes Free On Target Flash Memory\n");
}

TEST(DirectoryReply, FirstByteZeroIsAnEmptyFlash) {
  DirectoryReply r;
  r.Add(0);
  EXPECT_TRUE(r.Complete());
  EXPECT_TRUE(r.NoFiles());
}

TEST(DirectoryReply, FieldsTakenInOrderAndBytes7fFfAreData) {
  Bytes reply = Reply({EntryBytes("\x7F" "A", 0x7F, 0xFFFFFFFF), EntryBytes("B\xFF", 2, 0)}, "AB");
  const DirectoryReply r = Feed(reply, Sum(reply));
  const auto& entries = r.directory().entries;
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "\x7F" "A");
  EXPECT_EQ(entries[0].type, 0x7F);
  EXPECT_EQ(entries[0].size, 0xFFFFFFFFu);
  EXPECT_EQ(entries[1].name, "B\xFF");
  EXPECT_EQ(entries[1].date, (std::array<uint8_t, 3>{12, 6, 1}));
  EXPECT_EQ(entries[1].time, (std::array<uint8_t, 3>{19, 56, 3}));
  EXPECT_EQ(r.directory().autoboot, "AB");
  EXPECT_EQ(r.directory().free_bytes, 4096u);
}

struct LineCase {
  const char* title;
  Entry entry;
  std::string line;
};

class ListingLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(ListingLine, Columns) {
  Directory d;
  d.entries.push_back(GetParam().entry);
  d.autoboot = "BOOT";
  d.free_bytes = 7;
  EXPECT_EQ(Printed(d), "\n" + GetParam().line +
                            "\nAuto Booting Program: BOOT\n"
                            "\n7 Bytes Free On Target Flash Memory\n");
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ListingLine,
    ::testing::Values(
        LineCase{"type_1_is_a_program", {"P", 1, {1, 2, 3}, {4, 5, 6}, 0}, "P               PRG   01.02.03   04:05:06   0\n"},
        LineCase{"type_2_is_data", {"P", 2, {1, 2, 3}, {4, 5, 6}, 0}, "P               DAT   01.02.03   04:05:06   0\n"},
        LineCase{"name_of_15", {"ABCDEFGHIJKLMNO", 1, {31, 12, 99}, {23, 59, 59}, 524288},
                 "ABCDEFGHIJKLMNO PRG   31.12.99   23:59:59   524288\n"},
        LineCase{"name_of_16_no_blank", {"ABCDEFGHIJKLMNOP", 2, {1, 1, 0}, {0, 0, 0}, 4},
                 "ABCDEFGHIJKLMNOPDAT   01.01.00   00:00:00   4\n"},
        LineCase{"values_above_99_widen", {"X", 1, {255, 100, 7}, {127, 0, 200}, 4294967295u},
                 "X               PRG   255.100.07   127:00:200   4294967295\n"}),
    [](const auto& info) { return std::string(info.param.title); });

// 60 entries of 15-character names (27 bytes each), the end of the list,
// the auto-boot name's 0 and the free flash: 1626 bytes + the auto-boot
// name's characters.
Bytes ReplyOfStoreSize(size_t extra) {
  std::vector<Bytes> entries;
  for (int i = 0; i < 60; ++i) entries.push_back(EntryBytes("NAME_NUMBER_" + std::to_string(100 + i), 1, 4));
  const std::string autoboot(kStoreBytes - 1626 + extra, 'A');
  return Reply(entries, autoboot);
}

TEST(DirectoryReply, ReplyFillingTheStoreIsKept) {
  const Bytes reply = ReplyOfStoreSize(0);
  ASSERT_EQ(reply.size(), kStoreBytes + 1) << "the store plus the trailing byte";
  const DirectoryReply r = Feed(reply, Sum(reply));
  EXPECT_FALSE(r.Overflow());
  EXPECT_EQ(r.directory().entries.size(), 60u);
  EXPECT_EQ(r.directory().autoboot.size(), kStoreBytes - 1626);
}

TEST(DirectoryReply, LongerReplyIsReadToItsEndSummedAndNotKept) {
  const Bytes reply = ReplyOfStoreSize(1);
  const DirectoryReply r = Feed(reply, 0x42);
  EXPECT_TRUE(r.Overflow());
  EXPECT_EQ(r.sum(), Sum(reply));
  EXPECT_EQ(r.received_checksum(), 0x42);
  EXPECT_TRUE(r.directory().entries.empty());
  EXPECT_TRUE(r.directory().autoboot.empty());
}

TEST(DirectoryReply, OneHugeNameOverflowsAndStillEndsInStep) {
  Bytes reply = Reply({EntryBytes(std::string(5000, 'N'), 1, 4)}, "BOOT");
  const DirectoryReply r = Feed(reply, Sum(reply));
  EXPECT_TRUE(r.Overflow());
  EXPECT_EQ(r.sum(), Sum(reply));
}

}  // namespace
