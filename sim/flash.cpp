// The board's flash file system and its text file.
//
// File format, one file of the flash per line, fields separated by blanks:
//
//   NAME TYPE DAY MONTH YEAR HOUR MINUTE SECOND START WORD...
//
//   NAME     the file name; bytes 0x21..0x7E other than '%' as they are,
//            every other byte as %XX (two hex digits)
//   TYPE     decimal 0..255, 1 = executable program
//   DAY ..   decimal 0..255 each: day, month, year in the century, hour,
//   SECOND   minute, second
//   START    start address, hexadecimal (8 digits written, 1 to 8 read)
//   WORD     zero or more 32-bit words, hexadecimal like START
//
// Blank lines and lines starting with '#' are skipped. Example:
//
//   PROG 1 24 5 25 14 3 0 00809c00 12345678 9abcdef0
#include "sim/flash.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "wire/bytes.h"

namespace vk::sim {
namespace {

bool IsPlainNameChar(unsigned char c) { return c > 0x20 && c < 0x7F && c != '%'; }

std::string EncodeName(std::string_view name) {
  std::string out;
  for (unsigned char c : name) {
    if (IsPlainNameChar(c)) {
      out.push_back(static_cast<char>(c));
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    }
  }
  return out;
}

bool DecodeName(std::string_view field, std::string& name) {
  name.clear();
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '%') {
      name.push_back(field[i]);
      continue;
    }
    if (i + 2 >= field.size()) return false;
    const int hi = vk::wire::HexDigit(field[i + 1]);
    const int lo = vk::wire::HexDigit(field[i + 2]);
    if (hi < 0 || lo < 0) return false;
    name.push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  return true;
}

bool ParseByte(std::string_view field, uint8_t& value) {
  if (field.empty() || field.size() > 3) return false;
  unsigned v = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v > 255) return false;
  value = static_cast<uint8_t>(v);
  return true;
}

bool ParseHex32(std::string_view field, uint32_t& value) {
  if (field.empty() || field.size() > 8) return false;
  uint32_t v = 0;
  for (char c : field) {
    const int d = vk::wire::HexDigit(c);
    if (d < 0) return false;
    v = (v << 4) | static_cast<uint32_t>(d);
  }
  value = v;
  return true;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    const size_t begin = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > begin) fields.push_back(line.substr(begin, i - begin));
  }
  return fields;
}

// One line of the file to a program; empty `error` means success.
Program ParseLine(std::string_view line, std::string& error) {
  Program p;
  const auto fields = SplitFields(line);
  if (fields.size() < 9) {
    error = "expected NAME TYPE DAY MONTH YEAR HOUR MINUTE SECOND START WORD...";
    return p;
  }
  if (!DecodeName(fields[0], p.name)) {
    error = "bad %XX escape in name";
    return p;
  }
  if (!ParseByte(fields[1], p.type)) {
    error = "type is not a number 0..255";
    return p;
  }
  for (size_t i = 0; i < p.date.size(); ++i) {
    if (!ParseByte(fields[2 + i], p.date[i])) {
      error = "date and time fields must be numbers 0..255";
      return p;
    }
  }
  if (!ParseHex32(fields[8], p.start)) {
    error = "start address is not 1 to 8 hex digits";
    return p;
  }
  for (size_t i = 9; i < fields.size(); ++i) {
    uint32_t w = 0;
    if (!ParseHex32(fields[i], w)) {
      error = "word " + std::to_string(i - 8) + " is not 1 to 8 hex digits";
      return p;
    }
    p.words.push_back(w);
  }
  return p;
}

}  // namespace

const char* StatusText(FlashFs::Status status) {
  switch (status) {
    case FlashFs::Status::Ok: return "ok";
    case FlashFs::Status::BadName: return "name must have 1 to 15 characters";
    case FlashFs::Status::Exists: return "a file of that name exists";
    case FlashFs::Status::Full: return "the flash holds 63 files already";
    case FlashFs::Status::NoSpace: return "not enough free flash";
    case FlashFs::Status::NotFound: return "no file of that name";
  }
  return "?";
}

bool FlashFs::ValidName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxNameLength &&
         name.find('\0') == std::string_view::npos;
}

const Program* FlashFs::Find(std::string_view name) const {
  for (const Program& p : programs_) {
    if (p.name == name) return &p;
  }
  return nullptr;
}

uint32_t FlashFs::UsedBytes() const {
  uint32_t used = 0;
  for (const Program& p : programs_) used += p.SizeBytes();
  return used;
}

FlashFs::Status FlashFs::Check(const Program& program, const Program* replacing) const {
  if (!ValidName(program.name)) return Status::BadName;
  if (replacing == nullptr && programs_.size() >= kMaxPrograms) return Status::Full;
  const uint64_t used = UsedBytes() - (replacing ? replacing->SizeBytes() : 0);
  if (used + uint64_t{4} * program.words.size() > kCapacityBytes) return Status::NoSpace;
  return Status::Ok;
}

FlashFs::Status FlashFs::Add(Program program) {
  if (Find(program.name) != nullptr) return Status::Exists;
  if (const Status s = Check(program, nullptr); s != Status::Ok) return s;
  programs_.push_back(std::move(program));
  ++generation_;
  return Status::Ok;
}

FlashFs::Status FlashFs::Put(Program program) {
  const Program* old = Find(program.name);
  if (const Status s = Check(program, old); s != Status::Ok) return s;
  if (old != nullptr) {
    programs_[static_cast<size_t>(old - programs_.data())] = std::move(program);
  } else {
    programs_.push_back(std::move(program));
  }
  ++generation_;
  return Status::Ok;
}

FlashFs::Status FlashFs::Remove(std::string_view name) {
  const auto it = std::find_if(programs_.begin(), programs_.end(),
                               [&](const Program& p) { return p.name == name; });
  if (it == programs_.end()) return Status::NotFound;
  programs_.erase(it);
  ++generation_;
  return Status::Ok;
}

FlashFs::Status FlashFs::Rename(std::string_view from, std::string_view to) {
  if (!ValidName(to)) return Status::BadName;
  const Program* p = Find(from);
  if (p == nullptr) return Status::NotFound;
  if (from == to) return Status::Ok;
  if (Find(to) != nullptr) return Status::Exists;
  programs_[static_cast<size_t>(p - programs_.data())].name = std::string(to);
  ++generation_;
  return Status::Ok;
}

void FlashFs::Format() {
  programs_.clear();
  ++generation_;
}

std::string FlashFs::Serialize() const {
  std::string out =
      "# vksim flash file system, one file per line:\n"
      "# NAME TYPE DAY MONTH YEAR HOUR MINUTE SECOND START(hex) WORD(hex)...\n";
  for (const Program& p : programs_) {
    out += EncodeName(p.name);
    char buf[64];
    std::snprintf(buf, sizeof buf, " %u %u %u %u %u %u %u %08x", p.type, p.date[0], p.date[1],
                  p.date[2], p.date[3], p.date[4], p.date[5], p.start);
    out += buf;
    for (uint32_t w : p.words) {
      std::snprintf(buf, sizeof buf, " %08x", w);
      out += buf;
    }
    out.push_back('\n');
  }
  return out;
}

bool FlashFs::Parse(std::string_view text, std::string& error) {
  FlashFs loaded;
  size_t line_no = 0;
  while (!text.empty()) {
    const size_t nl = text.find('\n');
    const std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
    ++line_no;
    const auto fields = SplitFields(line);
    if (fields.empty() || fields[0][0] == '#') continue;
    std::string why;
    Program p = ParseLine(line, why);
    if (why.empty()) {
      const Status s = loaded.Add(std::move(p));
      if (s != Status::Ok) why = StatusText(s);
    }
    if (!why.empty()) {
      error = "line " + std::to_string(line_no) + ": " + why;
      return false;
    }
  }
  programs_ = std::move(loaded.programs_);
  ++generation_;
  return true;
}

bool FlashFs::Load(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (!Parse(text.str(), error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

bool FlashFs::Save(const std::string& path, std::string& error) const {
  const std::string tmp = path + ".tmp";
  const std::string text = Serialize();
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (f == nullptr) {
    error = tmp + ": " + std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    error = tmp + ": write failed";
    std::remove(tmp.c_str());
    return false;
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    error = path + ": " + std::strerror(errno);
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace vk::sim
