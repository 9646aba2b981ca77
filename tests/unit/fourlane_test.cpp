// The four-lane reader: one malformed set of lines per message, the records
// it assembles, reading from files (line splitting, the end of the input),
// and round trips through files made by srec_cat, a converter we did not
// write.
#include "fourlane/reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <sstream>

#include "support/process.h"

using namespace vk::fourlane;

namespace {

using Lines = std::array<std::string, kLanes>;

// One record line as a converter writes it: block length computed, the
// given checksum (not checked by the reader).
std::string Rec(const std::string& type, const std::string& address, const std::string& data,
                const std::string& checksum = "00") {
  const std::string body = type + checksum + std::to_string(address.size()) + address + data;
  std::array<char, 3> length{};
  std::snprintf(length.data(), length.size(), "%02X", static_cast<unsigned>(body.size() + 2));
  return "%" + std::string(length.data()) + body + "\n";
}

// One word 0x11223344 at 0x800, lane by lane (.X0 holds 44).
Lines OneWord() {
  return {Rec("6", "00000800", "44"), Rec("6", "00000800", "33"), Rec("6", "00000800", "22"),
          Rec("6", "00000800", "11")};
}

Lines Same(const std::string& line) { return {line, line, line, line}; }

Lines With(Lines lines, int lane, const std::string& line) {
  lines[static_cast<size_t>(lane)] = line;
  return lines;
}

// ---------------------------------------------------------------------------
// Every message, from one malformed set of lines.

struct ErrorCase {
  const char* title;
  Lines lines;
  std::string message;
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.title; }

class ReaderErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ReaderErrors, Message) {
  const ErrorCase& c = GetParam();
  LoadRecord record;
  std::string message;
  EXPECT_EQ(ParseLanes(c.lines, record, message), ParseStatus::Error);
  EXPECT_EQ(message, c.message);
}

std::string FirstChar(const char* lane) {
  return std::string("ERROR: First Character In ") + lane + " Line Must Always Be %\n";
}
std::string Missing(const char* what, const char* lane) {
  return std::string("ERROR: There Must Alwys Be ") + what + " In " + lane + " File\n";
}
std::string Differ(const char* what, const char* a, const char* b) {
  return std::string("ERROR: ") + what + " Of " + a + " File And " + b + " File Must Be The Same\n";
}
std::string DataValue(const char* lane) {
  return std::string("ERROR: Something Wrong With Data Value In ") + lane + " File\n";
}

const char* const kTwoLength = "Two Block Length Characters";
const char* const kTypeChar = "A Block Length Character";
const char* const kChecksumChar = "A Checksum Character";
const char* const kAddressLengthChar = "A Length Of Load Address Character";

INSTANTIATE_TEST_SUITE_P(
    EveryMessage, ReaderErrors,
    ::testing::Values(
        // Header.
        ErrorCase{"header_x0", With(OneWord(), 0, "X1060080000080044\n"), FirstChar(".X0")},
        ErrorCase{"header_x1_tab", With(OneWord(), 1, "\t%1060080000080033\n"), FirstChar(".X1")},
        ErrorCase{"header_x2_empty_line", With(OneWord(), 2, "\n"), FirstChar(".X2")},
        ErrorCase{"header_x3_cr_lf_only", With(OneWord(), 3, "\r\n"), FirstChar(".X3")},
        ErrorCase{"header_x3_blanks_only", With(OneWord(), 3, "    "), FirstChar(".X3")},
        ErrorCase{"header_first_lane_wins", Same("#\n"), FirstChar(".X0")},
        // Block length.
        ErrorCase{"length_missing_x0", With(OneWord(), 0, "%\n"), Missing(kTwoLength, ".X0")},
        ErrorCase{"length_missing_x1", With(OneWord(), 1, "%"), Missing(kTwoLength, ".X1")},
        ErrorCase{"length_missing_x2", With(OneWord(), 2, "%g060080000080022\n"), Missing(kTwoLength, ".X2")},
        ErrorCase{"length_missing_x3", With(OneWord(), 3, "%  \n"), Missing(kTwoLength, ".X3")},
        ErrorCase{"lengths_differ_x0_x1", With(OneWord(), 1, "%1160080000080033\n"),
                  Differ("Block Lengths", ".X0", ".X1")},
        ErrorCase{"lengths_differ_x1_x2", With(OneWord(), 2, "%0F60080000080022\n"),
                  Differ("Block Lengths", ".X1", ".X2")},
        ErrorCase{"lengths_differ_x2_x3", With(OneWord(), 3, "%1F60080000080011\n"),
                  Differ("Block Lengths", ".X2", ".X3")},
        // All four lengths are read before any comparison.
        ErrorCase{"length_missing_before_compare",
                  {"%1060080000080044\n", "%1160080000080033\n", "%1060080000080022\n", "%\n"},
                  Missing(kTwoLength, ".X3")},
        // Block type.
        ErrorCase{"type_missing_x0", With(OneWord(), 0, "%10\n"), Missing(kTypeChar, ".X0")},
        ErrorCase{"type_missing_x1", With(OneWord(), 1, "%10G0080000080033\n"), Missing(kTypeChar, ".X1")},
        ErrorCase{"type_missing_x2", With(OneWord(), 2, "%10"), Missing(kTypeChar, ".X2")},
        ErrorCase{"type_missing_x3", With(OneWord(), 3, "%10-0080000080011\n"), Missing(kTypeChar, ".X3")},
        ErrorCase{"types_differ_x0_x1", With(OneWord(), 1, "%1080080000080033\n"), Differ("Block Types", ".X0", ".X1")},
        ErrorCase{"types_differ_x1_x2", With(OneWord(), 2, "%1030080000080022\n"), Differ("Block Types", ".X1", ".X2")},
        ErrorCase{"types_differ_x2_x3", With(OneWord(), 3, "%1070080000080011\n"), Differ("Block Types", ".X2", ".X3")},
        ErrorCase{"type_symbol_record", Same("%1030080000080000\n"),
                  "ERROR: Illegal LoadAddress Width 3 In .X0...X3 File\n"},
        ErrorCase{"type_shown_in_hex", Same("%10a0080000080000\n"),
                  "ERROR: Illegal LoadAddress Width a In .X0...X3 File\n"},
        ErrorCase{"type_zero", Same("%1000080000080000\n"), "ERROR: Illegal LoadAddress Width 0 In .X0...X3 File\n"},
        // Checksum: must be there, its value is not compared.
        ErrorCase{"checksum_missing_x0", With(OneWord(), 0, "%106\n"), Missing(kChecksumChar, ".X0")},
        ErrorCase{"checksum_missing_x1", With(OneWord(), 1, "%106ZZ80000080033\n"), Missing(kChecksumChar, ".X1")},
        ErrorCase{"checksum_missing_x2", With(OneWord(), 2, "%106"), Missing(kChecksumChar, ".X2")},
        ErrorCase{"checksum_missing_x3", With(OneWord(), 3, "%106x080000080011\n"), Missing(kChecksumChar, ".X3")},
        // Address length.
        ErrorCase{"address_length_missing_x0", With(OneWord(), 0, "%10600\n"), Missing(kAddressLengthChar, ".X0")},
        ErrorCase{"address_length_missing_x1", With(OneWord(), 1, "%10600:0000080033\n"),
                  Missing(kAddressLengthChar, ".X1")},
        ErrorCase{"address_length_missing_x2", With(OneWord(), 2, "%10600"), Missing(kAddressLengthChar, ".X2")},
        ErrorCase{"address_length_missing_x3", With(OneWord(), 3, "%10600z0000080011\n"),
                  Missing(kAddressLengthChar, ".X3")},
        ErrorCase{"address_lengths_differ_x0_x1", With(OneWord(), 1, "%1060060000080033\n"),
                  Differ("Address Lengths", ".X0", ".X1")},
        ErrorCase{"address_lengths_differ_x1_x2", With(OneWord(), 2, "%1060040000080022\n"),
                  Differ("Address Lengths", ".X1", ".X2")},
        ErrorCase{"address_lengths_differ_x2_x3", With(OneWord(), 3, "%1060090000080011\n"),
                  Differ("Address Lengths", ".X2", ".X3")},
        ErrorCase{"address_length_2", Same("%0A6002080000\n"), "ERROR: Illegal LoadAddress Width 2 In .X0...X3 File\n"},
        ErrorCase{"address_length_0", Same("%0860000\n"), "ERROR: Illegal LoadAddress Width 0 In .X0...X3 File\n"},
        ErrorCase{"address_length_shown_in_decimal", Same("%10600F00000800\n"),
                  "ERROR: Illegal LoadAddress Width 15 In .X0...X3 File\n"},
        // Address (read from .X0 only).
        ErrorCase{"address_unreadable", With(OneWord(), 0, "%106008G000080044\n"),
                  "ERROR: Something Wrong With LoadAddress In .X0...X3 File\n"},
        ErrorCase{"address_absent", Same("%106008"), "ERROR: Something Wrong With LoadAddress In .X0...X3 File\n"},
        ErrorCase{"termination_address_unreadable", Same("%0E8008xyz\n"),
                  "ERROR: Something Wrong With LoadAddress In .X0...X3 File\n"},
        // Data values, lane .X3 first within a word, word by word.
        ErrorCase{"data_x3", With(OneWord(), 3, "%10600800000800g1\n"), DataValue(".X3")},
        ErrorCase{"data_x2", With(OneWord(), 2, "%10600800000800-2\n"), DataValue(".X2")},
        ErrorCase{"data_x1", With(OneWord(), 1, "%10600800000800\n"), DataValue(".X1")},
        ErrorCase{"data_x0", With(OneWord(), 0, "%10600800000800"), DataValue(".X0")},
        ErrorCase{"data_word_by_word",
                  {"%126008000008000044\n", "%12600800000800aabb\n", "%12600800000800ccdd\n", "%12600800000800ee\n"},
                  DataValue(".X3")},
        ErrorCase{"data_x0_before_later_word_x3",
                  {"%12600800000800zz44\n", "%12600800000800aabb\n", "%12600800000800ccdd\n", "%12600800000800ee\n"},
                  DataValue(".X0")},
        ErrorCase{"data_line_ends_first", Same("%1E600800000800010203\n"), DataValue(".X3")},
        ErrorCase{"data_odd_character_count", Same("%116008000008001122\n"), DataValue(".X3")},
        ErrorCase{"data_block_shorter_than_address", Same("%0D600800000800\n"), DataValue(".X3")},
        ErrorCase{"data_block_length_zero", Same("%006008000008\n"), DataValue(".X3")}));

// ---------------------------------------------------------------------------
// Records the reader accepts.

struct RecordCase {
  const char* title;
  Lines lines;
  LoadRecord::Kind kind;
  uint32_t address;
  std::vector<uint32_t> words;
};

void PrintTo(const RecordCase& c, std::ostream* os) { *os << c.title; }

class ReaderRecords : public ::testing::TestWithParam<RecordCase> {};

TEST_P(ReaderRecords, Assembled) {
  const RecordCase& c = GetParam();
  LoadRecord record;
  std::string message;
  ASSERT_EQ(ParseLanes(c.lines, record, message), ParseStatus::Record) << message;
  EXPECT_EQ(message, "");
  EXPECT_EQ(record.kind, c.kind);
  EXPECT_EQ(record.address, c.address);
  EXPECT_EQ(record.words, c.words);
}

// Lanes of words 0x00000000, 0x01010101, ... (.X0 byte k = k, .X1 = 0x10 + k,
// .X2 = 0x20 + k, .X3 = 0x30 + k) with the given address text.
Lines Counting(const std::string& address, int words) {
  Lines lines;
  for (int lane = 0; lane < kLanes; ++lane) {
    std::string data;
    for (int k = 0; k < words; ++k) {
      std::array<char, 3> hex{};
      std::snprintf(hex.data(), hex.size(), "%02X", 0x10 * lane + k);
      data += hex.data();
    }
    lines[static_cast<size_t>(lane)] = Rec("6", address, data);
  }
  return lines;
}
std::vector<uint32_t> CountingWords(int words) {
  std::vector<uint32_t> out;
  for (uint32_t k = 0; k < static_cast<uint32_t>(words); ++k) out.push_back(0x30201000u + k * 0x01010101u);
  return out;
}

const auto kData = LoadRecord::Kind::Data;
const auto kTerm = LoadRecord::Kind::Termination;

INSTANTIATE_TEST_SUITE_P(
    Accepted, ReaderRecords,
    ::testing::Values(
        RecordCase{"one_word", OneWord(), kData, 0x800, {0x11223344}},
        RecordCase{"blanks_before_header",
                   {"   %1060080000080044\n", "%1060080000080033\n", " %1060080000080022\n", "%1060080000080011\n"},
                   kData, 0x800, {0x11223344}},
        RecordCase{"lower_case_everywhere",
                   {"%0c60a4abcdff\r\n", "%0c6b04abcdee\r\n", "%0c6c04abcddd\r\n", "%0c6d04abcdcc\r\n"},
                   kData, 0xabcd, {0xccddeeff}},
        RecordCase{"lower_case_eight_digit_address", Same("%1e6008deadbeef0102030405060708\n"), kData, 0xdeadbeef,
                   {0x01010101, 0x02020202, 0x03030303, 0x04040404, 0x05050505, 0x06060606, 0x07070707,
                    0x08080808}},
        // Block length 1E with 8-digit addresses: 8 words.
        RecordCase{"block_length_1e_eight_words", Counting("00809C00", 8), kData, 0x809C00, CountingWords(8)},
        // 0E: no words, still a data record.
        RecordCase{"block_length_0e_no_words", Same("%0E60080000FF00\n"), kData, 0xFF00, {}},
        // Block length 1A with 4-digit addresses: 8 words as well.
        RecordCase{"four_digit_address_1a_eight_words", Counting("1234", 8), kData, 0x1234, CountingWords(8)},
        RecordCase{"six_digit_address", Counting("ABCDEF", 3), kData, 0xABCDEF, CountingWords(3)},
        // 41 words: the longest record with 8-digit addresses that fits a
        // line feed into 98 characters.
        RecordCase{"forty_one_words", Counting("00000000", 41), kData, 0, CountingWords(41)},
        // Only the .X0 address counts; the others are not even read.
        RecordCase{"other_lane_addresses_ignored",
                   {"%1060080000080044\n", "%1060080000090033\n", "%10600812345678" "22\n", "%106008zzzzzzzz11\n"},
                   kData, 0x800, {0x11223344}},
        // The checksum is present but wrong, and differs between lanes.
        RecordCase{"checksum_not_checked",
                   {"%1060080000080044\n", "%106FF80000080033\n", "%106a180000080022\n", "%1060980000080011\n"},
                   kData, 0x800, {0x11223344}},
        // Characters after the record are ignored.
        RecordCase{"trailing_characters_ignored", Same("%1060080000080044 trailing junk\n"), kData, 0x800,
                   {0x44444444}},
        RecordCase{"termination", Same("%0E83B800809C00\n"), kTerm, 0x809C00, {}},
        RecordCase{"termination_rest_ignored", Same("%0E83B800809C00FFFF garbage\r\n"), kTerm, 0x809C00, {}},
        RecordCase{"termination_four_digit", Same("%0A8004ABCD\n"), kTerm, 0xABCD, {}},
        // A numeric field skips white space before its first digit and then
        // takes up to its width in digits, even past its own characters;
        // the next field still starts at its fixed place.
        RecordCase{"blank_before_digits_reads_on", Same("%0C6004 80012\n"), kData, 0x8001, {0x12121212}},
        RecordCase{"blank_in_checksum_field", Same("%0E6 0800000800\n"), kData, 0x800, {}}));

// ---------------------------------------------------------------------------
// Reading from files.

// The four lane files as temporary files, opened for reading.
class LaneFileSet {
 public:
  explicit LaneFileSet(const Lines& contents) {
    for (size_t i = 0; i < contents.size(); ++i) {
      FILE* f = std::tmpfile();
      std::fwrite(contents[i].data(), 1, contents[i].size(), f);
      std::rewind(f);
      files_.files[i] = f;
    }
  }
  LaneFiles& files() { return files_; }

 private:
  LaneFiles files_;
};

// Reads records until the end, the termination record or an error; returns
// what was printed and the records.
struct ReadOutcome {
  std::vector<LoadRecord> records;
  std::string printed;
  int aborts = 0;  // format errors reported
};

ReadOutcome ReadAll(const Lines& contents) {
  LaneFileSet set(contents);
  ReadOutcome outcome;
  testing::internal::CaptureStdout();
  for (int guard = 0; guard < 1000; ++guard) {
    LoadRecord record;
    const ReadStatus status = ReadLoadRecord(set.files(), record);
    if (status == ReadStatus::Error) ++outcome.aborts;
    if (status != ReadStatus::Record) break;
    outcome.records.push_back(record);
    if (record.kind == LoadRecord::Kind::Termination) break;
  }
  outcome.printed = testing::internal::GetCapturedStdout();
  return outcome;
}

Lines Join(std::initializer_list<Lines> records) {
  Lines out;
  for (const Lines& r : records)
    for (size_t i = 0; i < out.size(); ++i) out[i] += r[i];
  return out;
}

const Lines kTermination = Same("%0E83B800809C00\n");

TEST(ReaderFiles, RecordsInFileOrderThenTermination) {
  const ReadOutcome o = ReadAll(Join({OneWord(), Counting("00000900", 2), kTermination}));
  ASSERT_EQ(o.records.size(), 3u);
  EXPECT_EQ(o.records[0].address, 0x800u);
  EXPECT_EQ(o.records[0].words, std::vector<uint32_t>{0x11223344});
  EXPECT_EQ(o.records[1].address, 0x900u);
  EXPECT_EQ(o.records[1].words, CountingWords(2));
  EXPECT_EQ(o.records[2].kind, LoadRecord::Kind::Termination);
  EXPECT_EQ(o.records[2].address, 0x809C00u);
  EXPECT_EQ(o.printed, "");
  EXPECT_EQ(o.aborts, 0);
}

struct EndCase {
  const char* title;
  Lines contents;
  size_t records;  // delivered before the end
};

void PrintTo(const EndCase& c, std::ostream* os) { *os << c.title; }

class ReaderEnd : public ::testing::TestWithParam<EndCase> {};

TEST_P(ReaderEnd, EndsAfterLastCompleteSet) {
  const EndCase& c = GetParam();
  const ReadOutcome o = ReadAll(c.contents);
  EXPECT_EQ(o.records.size(), c.records);
  for (const LoadRecord& r : o.records) EXPECT_EQ(r.kind, LoadRecord::Kind::Data);
  EXPECT_EQ(o.printed, "");
  EXPECT_EQ(o.aborts, 0);
}

Lines ShortenLane(Lines lines, int lane, const Lines& tail) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (static_cast<int>(i) != lane) lines[i] += tail[i];
  return lines;
}

INSTANTIATE_TEST_SUITE_P(
    End, ReaderEnd,
    ::testing::Values(EndCase{"all_empty", Same(""), 0},
                      EndCase{"no_termination_record", Join({OneWord(), OneWord()}), 2},
                      EndCase{"x0_one_record_short", ShortenLane(OneWord(), 0, kTermination), 1},
                      EndCase{"x2_one_record_short", ShortenLane(OneWord(), 2, kTermination), 1},
                      EndCase{"x3_one_record_short", ShortenLane(OneWord(), 3, kTermination), 1},
                      // A last line without a line feed is still a line.
                      EndCase{"last_line_without_line_feed", Same("%1060080000080044"), 1}));

// A line longer than 98 characters is read in two: the rest (here only the
// line feed) is the next line, and has no '%'.
TEST(ReaderFiles, LongLineRestIsNextLine) {
  const std::string long_line = "%1060080000080033" + std::string(98 - 17, ' ') + "\n";
  ASSERT_EQ(long_line.size(), 99u);
  const ReadOutcome o = ReadAll(Join({With(OneWord(), 1, long_line), kTermination}));
  ASSERT_EQ(o.records.size(), 1u);
  EXPECT_EQ(o.records[0].words, std::vector<uint32_t>{0x11223344});
  EXPECT_EQ(o.printed, FirstChar(".X1"));
  EXPECT_EQ(o.aborts, 1);
}

TEST(ReaderFiles, NinetyEightCharactersWithLineFeedIsOneLine) {
  const std::string line = "%1060080000080033" + std::string(97 - 17, ' ') + "\n";
  ASSERT_EQ(line.size(), 98u);
  const ReadOutcome o = ReadAll(Join({With(OneWord(), 1, line), kTermination}));
  ASSERT_EQ(o.records.size(), 2u);
  EXPECT_EQ(o.records[1].kind, LoadRecord::Kind::Termination);
  EXPECT_EQ(o.aborts, 0);
}

// 41 words with a carriage return do not fit: the line feed spills over.
TEST(ReaderFiles, FortyOneWordsWithCarriageReturnSpill) {
  Lines lines = Counting("00000000", 41);
  for (std::string& l : lines) l.insert(l.size() - 1, "\r");
  const ReadOutcome o = ReadAll(Join({lines, kTermination}));
  ASSERT_EQ(o.records.size(), 1u);
  EXPECT_EQ(o.records[0].words, CountingWords(41));
  EXPECT_EQ(o.printed, FirstChar(".X0"));
}

TEST(ReaderFiles, FormatErrorPrintsOnceAndAborts) {
  const ReadOutcome o = ReadAll(Join({OneWord(), With(OneWord(), 2, "%1060080000080\n"), kTermination}));
  EXPECT_EQ(o.records.size(), 1u);
  EXPECT_EQ(o.printed, DataValue(".X2"));
  EXPECT_EQ(o.aborts, 1);
}

// Lines after the termination record are never read, let alone checked.
TEST(ReaderFiles, NothingReadAfterTermination) {
  Lines contents = Join({kTermination, Same("garbage\n")});
  LaneFileSet set(contents);
  LoadRecord record;
  ASSERT_EQ(ReadLoadRecord(set.files(), record), ReadStatus::Record);
  EXPECT_EQ(record.kind, LoadRecord::Kind::Termination);
  for (FILE* f : set.files().files) EXPECT_EQ(std::fgetc(f), 'g');
}

// ---------------------------------------------------------------------------
// Round trips through srec_cat: a random image of 32-bit little-endian words
// split into byte lanes (file K holds byte K of every 4-byte group, so .X0
// holds bits 7-0). srec_cat writes each lane file's addresses as the image
// address divided by 4, that is the word address, which the reader delivers
// unchanged; the start address stays as given.

std::string FindOnPath(const std::string& program) {
  std::istringstream dirs(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':'))
    if (access((dir + "/" + program).c_str(), X_OK) == 0) return dir + "/" + program;
  return "";
}

struct RoundTrip {
  const char* title;
  uint32_t byte_offset;  // where the image starts, in bytes
  size_t words;
  std::vector<std::string> extra;  // more srec_cat output options
};

void PrintTo(const RoundTrip& c, std::ostream* os) { *os << c.title; }

class SrecordRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(SrecordRoundTrip, WordsEqualTheImage) {
  const RoundTrip& c = GetParam();
  const std::string srec_cat = FindOnPath("srec_cat");
  ASSERT_FALSE(srec_cat.empty()) << "srec_cat not found: install Debian's srecord package";

  vktest::TempDir dir;
  std::mt19937 random(static_cast<unsigned>(c.words * 7919 + c.byte_offset));
  std::string image;
  for (size_t i = 0; i < c.words * 4; ++i) image.push_back(static_cast<char>(random() & 0xFF));
  vktest::WriteFile(dir.File("img.bin"), image);

  constexpr uint32_t kStart = 0x00809C00;
  std::array<char, 16> offset{};
  std::snprintf(offset.data(), offset.size(), "0x%X", c.byte_offset);
  for (int lane = 0; lane < kLanes; ++lane) {
    std::vector<std::string> argv{srec_cat, "img.bin", "-binary", "-offset", offset.data(), "-split", "4",
                                  std::to_string(lane), "-o", "P.X" + std::to_string(lane), "-Tektronix_Extended",
                                  "-execution-start-address", "0x809C00"};
    argv.insert(argv.end(), c.extra.begin(), c.extra.end());
    const vktest::RunResult r = vktest::RunProgram(argv, {}, dir.path(), "", 20000);
    ASSERT_EQ(r.exit_code, 0) << "srec_cat failed for lane " << lane;
  }

  LaneFiles files;
  for (int lane = 0; lane < kLanes; ++lane) {
    files.files[static_cast<size_t>(lane)] = std::fopen(dir.File("P.X" + std::to_string(lane)).c_str(), "rb");
    ASSERT_NE(files.files[static_cast<size_t>(lane)], nullptr);
  }
  std::map<uint32_t, uint32_t> loaded;  // word address -> word
  std::optional<uint32_t> start;
  size_t data_records = 0;
  LoadRecord record;
  ReadStatus status = ReadStatus::End;
  while ((status = ReadLoadRecord(files, record)) == ReadStatus::Record) {
    if (record.kind == LoadRecord::Kind::Termination) {
      start = record.address;
      break;
    }
    ++data_records;
    for (size_t k = 0; k < record.words.size(); ++k) {
      const auto [it, fresh] = loaded.emplace(record.address + static_cast<uint32_t>(k), record.words[k]);
      EXPECT_TRUE(fresh) << "word address " << it->first << " loaded twice";
    }
  }
  EXPECT_NE(status, ReadStatus::Error);
  EXPECT_GT(data_records, 1u);
  ASSERT_TRUE(start.has_value()) << "no termination record";
  EXPECT_EQ(*start, kStart);

  ASSERT_EQ(loaded.size(), c.words);
  for (size_t k = 0; k < c.words; ++k) {
    const auto* b = reinterpret_cast<const unsigned char*>(image.data() + 4 * k);
    const uint32_t expected = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                              static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
    const uint32_t address = c.byte_offset / 4 + static_cast<uint32_t>(k);
    const auto it = loaded.find(address);
    ASSERT_NE(it, loaded.end()) << "no word at " << address;
    EXPECT_EQ(it->second, expected) << "word " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Srecord, SrecordRoundTrip,
    ::testing::Values(RoundTrip{"default_lines", 0, 300, {}},
                      RoundTrip{"offset_image", 0x2000, 257, {}},
                      // Lines of 97 characters: 41 bytes per lane record.
                      RoundTrip{"longest_lines", 0x809C00 * 4u, 500, {"-line-length", "98"}},
                      RoundTrip{"short_lines", 0x400, 64, {"-line-length", "20"}}));

}  // namespace
