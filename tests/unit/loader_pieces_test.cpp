// The pure pieces of the loaders: messages built from records, and the
// .X0 file date taken from its time text.
#include <gtest/gtest.h>

#include "fourlane/filedate.h"
#include "fourlane/message.h"
#include "wire/bytes.h"

using namespace vk::fourlane;

namespace {

TEST(DataMessage, OneWordRecordAsOnTheWire) {
  LoadRecord r{LoadRecord::Kind::Data, 0x800, {0x11223344}};
  std::vector<uint8_t> m;
  BuildDataMessage(0x02, r, m);
  EXPECT_EQ(m, (std::vector<uint8_t>{0x02, 0x00, 0x0C, 0x01, 0x00, 0x00, 0x08, 0x00, 0x11, 0x22, 0x33, 0x44}));
  EXPECT_EQ(vk::wire::Sum8(m), 0xC1);
  BuildDataMessage(0x00, r, m);  // the RAM loader's command byte
  EXPECT_EQ(vk::wire::Sum8(m), 0xBF);
}

TEST(DataMessage, LengthCountsTheWholeMessage) {
  LoadRecord r{LoadRecord::Kind::Data, 0x12345678, std::vector<uint32_t>(32, 0)};
  std::vector<uint8_t> m;
  BuildDataMessage(0x00, r, m);
  ASSERT_EQ(m.size(), 136u);
  EXPECT_EQ((std::vector<uint8_t>(m.begin(), m.begin() + 8)),
            (std::vector<uint8_t>{0x00, 0x00, 0x88, 0x01, 0x12, 0x34, 0x56, 0x78}));
  r.words.clear();
  BuildDataMessage(0x02, r, m);
  EXPECT_EQ(m.size(), 8u);
  EXPECT_EQ(m[2], 0x08);
}

TEST(AddressMessage, StartAddressMostSignificantFirst) {
  std::vector<uint8_t> m;
  BuildAddressMessage(0x01, 0x00809C00, m);
  EXPECT_EQ(m, (std::vector<uint8_t>{0x01, 0x00, 0x80, 0x9C, 0x00}));
  EXPECT_EQ(vk::wire::Sum8(m), 0x1D);
  BuildAddressMessage(0x05, 0x00809C00, m);
  EXPECT_EQ(vk::wire::Sum8(m), 0x21);
}

TEST(FileDate, TimeTextHasTheStandardLayout) {
  std::tm t{};
  t.tm_year = 101;
  t.tm_mon = 0;
  t.tm_mday = 2;
  t.tm_hour = 3;
  t.tm_min = 4;
  t.tm_sec = 5;
  t.tm_wday = 2;
  EXPECT_EQ(TimeText(t), "Tue Jan  2 03:04:05 2001");
  FileDate d;
  ASSERT_EQ(ParseTimeText(TimeText(t), d), nullptr);
  EXPECT_EQ(d.day, 2);
  EXPECT_EQ(d.month, 1);
  EXPECT_EQ(d.year, 1);
  EXPECT_EQ(d.hour, 3);
  EXPECT_EQ(d.minute, 4);
  EXPECT_EQ(d.second, 5);
}

struct DateCase {
  const char* text;
  const char* error;
};

class FileDateErrors : public ::testing::TestWithParam<DateCase> {};

TEST_P(FileDateErrors, FirstBadFieldNamed) {
  FileDate d;
  const char* error = ParseTimeText(GetParam().text, d);
  if (GetParam().error == nullptr) {
    EXPECT_EQ(error, nullptr);
  } else {
    ASSERT_NE(error, nullptr);
    EXPECT_STREQ(error, GetParam().error);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, FileDateErrors,
    ::testing::Values(DateCase{"Mon Dec 31 23:59:59 2099", nullptr},
                      DateCase{"Mon DEC 31 23:59:59 2099", "\nError At File Date In .X0 File\n"},
                      DateCase{"Mon", "\nError At File Date In .X0 File\n"},
                      DateCase{"Mon Dec xx 23:59:59 2099", "\nError At Day In .X0 File\n"},
                      DateCase{"Mon Dec 31 2x:59:59 2099", nullptr},  // at most two digits, one is enough
                      DateCase{"Mon Dec 31 x3:59:59 2099", "\nError At Hour In .X0 File\n"},
                      DateCase{"Mon Dec 31 23:  :59 2099", "\nError At Minute In .X0 File\n"},
                      DateCase{"Mon Dec 31 23:59:-9 2099", "\nError At Second In .X0 File\n"},
                      DateCase{"Mon Dec 31 23:59:59 20", "\nError At Year In .X0 File\n"}));

}  // namespace
