// vksim: the board simulator. Reads the command line, sets up the flash and
// the trace, and runs the RFC 2217 server until it is told to end.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "sim/flash.h"
#include "sim/server.h"
#include "sim/trace.h"

namespace {

constexpr const char* kHelp =
    "usage: vksim [options]\n"
    "\n"
    "Simulates a DSP board with its target monitor behind a network serial\n"
    "server: an RFC 2217 (Telnet COM Port Control) server on 127.0.0.1. Point\n"
    "a tool at it with VK_COM1=rfc2217://127.0.0.1:PORT. The first line on\n"
    "standard output is \"vksim: listening on 127.0.0.1:PORT\"; each program\n"
    "the board starts adds \"vksim: started NAME\". One client is served at\n"
    "a time; every option applies to each connection.\n"
    "\n"
    "  --port N              listen port; 0 (default) picks a free one\n"
    "  --baud 115200|38400   the one rate the board listens on (default 115200)\n"
    "  --flash FILE          keep the flash file system in FILE: loaded at start\n"
    "                        when it exists, saved after every change\n"
    "  --program NAME[:TYPE] put a file into the flash at start (repeatable);\n"
    "                        TYPE 1 (default) is a program, others are data;\n"
    "                        a small fixed content dated now\n"
    "  --trace FILE          write a line per byte and event (below)\n"
    "  --trace-times         start each trace line with the microseconds since\n"
    "                        the trace was opened and a blank\n"
    "  --once                end after the first client has disconnected\n"
    "  --replay FILE         play back the session recorded in FILE (a --trace\n"
    "                        file, with or without times, or a tool's own\n"
    "                        recording) in place of the board: its bytes answer\n"
    "                        the host's, which must be the recorded ones, on a\n"
    "                        line with the recorded rate and CTS. The first\n"
    "                        difference ends it (message on standard error,\n"
    "                        exit code 3). Implies --once; --trace, --pace and\n"
    "                        --latency apply, the board's other options not\n"
    "  --idle-timeout S      end after S seconds without a client (default 0:\n"
    "                        run until stopped)\n"
    "  --pace                bytes take their real time on the line (10 bits\n"
    "                        each at the board's rate), both ways\n"
    "  --latency MS          the board starts answering a byte MS ms after it\n"
    "                        has fully arrived (default 0)\n"
    "  --cts-delay MS        RTS pulse (or CTS drop) to CTS rising (default\n"
    "                        150; the tools read CTS first 50 ms after the\n"
    "                        pulse and wait for it to rise)\n"
    "  --cts-drop-delay MS   with CTS on: RTS pulse to CTS dropping (default 150)\n"
    "\n"
    "USB serial adapter (instead of RFC 2217):\n"
    "  --usbip PORT          serve the board as a USB serial adapter over USB/IP\n"
    "                        (the protocol of Linux's vhci-hcd) on 127.0.0.1:PORT,\n"
    "                        bus id 1-1; attach it with: usbip --tcp-port PORT\n"
    "                        attach -r 127.0.0.1 -b 1-1, and the adapter's\n"
    "                        driver makes /dev/ttyUSBn of it. Every board\n"
    "                        option applies\n"
    "  --adapter CHIP        the adapter's chip: ft232r (default), cp2102,\n"
    "                        ch340, pl2303\n"
    "  --unplug-after N      the cable is pulled (the USB/IP connection dropped)\n"
    "                        once the adapter has taken N bytes from the host\n"
    "\n"
    "Faults:\n"
    "  --fillers-7f N        N bytes 0x7F before the echo of a session's first\n"
    "                        command byte\n"
    "  --fillers-ff N        N bytes 0xFF before every late result (one that\n"
    "                        follows work on the flash)\n"
    "  --echo-fault N        the N-th echo of a session (1 = the first command\n"
    "                        byte's, the EndSession echo counted too) goes out\n"
    "                        XOR 0x80. A command byte echoed so is served as\n"
    "                        the byte echoed (no command); a parameter byte is\n"
    "                        kept and summed as received\n"
    "  --checksum-fault CMD  command CMD's checksum byte goes out one too high\n"
    "                        (repeatable)\n"
    "  --result CMD=VALUE    command CMD's first result byte is VALUE\n"
    "                        (repeatable), e.g. --result 5=7\n"
    "  --silent-after N      the board answers nothing from the N-th byte after\n"
    "                        the sync on (the command byte is the 1st) and only\n"
    "                        listens\n"
    "  --stale N             N bytes 0x55 right after the first sync echo\n"
    "  --cts-high            CTS on at connect; the RTS pulse drops it after\n"
    "                        --cts-drop-delay and raises it --cts-delay later\n"
    "  --cts-stuck           CTS on at connect and never changing\n"
    "  --no-cts              CTS never rises\n"
    "  --sync-junk           one byte 0x00 before the first sync echo\n"
    "  --sync-ignore N       the first N sync bytes of a connection that arrive\n"
    "                        at the board's rate are not answered\n"
    "\n"
    "Flash file commands:\n"
    "  --late-result CMD=VALUE  the first byte of command CMD's first late result\n"
    "                        (the one after 0xFF fillers) is VALUE (repeatable),\n"
    "                        e.g. --late-result 7=127\n"
    "  --reply-checksum-fault CMD  the checksum over command CMD's reply (8 the\n"
    "                        directory, 10 the flash report) goes out one too\n"
    "                        high (repeatable)\n"
    "  --fail CMD            the work of command CMD fails: 7 (delete) answers 0\n"
    "                        and keeps the file, 9 (format) answers 0 and keeps\n"
    "                        the flash (repeatable)\n"
    "  --autoboot NAME       the directory names NAME as the auto-boot program\n"
    "                        (default: none)\n"
    "  --autostart-status N  the flash check reports the autostart descriptor\n"
    "                        as N: 0 sound (default), 1 checksum error, other\n"
    "                        values no defined answer\n"
    "  --corrupt NAME        the flash check reports NAME as a damaged file\n"
    "                        (repeatable; any name, on the flash or not)\n"
    "  --odd-entry NAME[:TYPE[:SIZE]]  the directory lists NAME (of any length)\n"
    "                        after the files, TYPE default 1, SIZE in bytes\n"
    "                        (whole words) default 0, dated 00.00.00 00:00:00;\n"
    "                        nothing else sees it (repeatable)\n"
    "\n"
    "RAM loader (a session opened with sync 0x0F):\n"
    "  --ram-checksum-fault K  the reply to message K of a RAM session (1 = the\n"
    "                        first, data and start messages counted) goes out\n"
    "                        one too high (repeatable)\n"
    "  --ram-dump FILE       write the RAM image to FILE when a RAM session ends\n"
    "                        (closing byte, or the connection ends): a \"#\"\n"
    "                        comment line, \"entry AAAAAAAA\" (the address the\n"
    "                        program was started at, or \"entry none\"), then\n"
    "                        \"AAAAAAAA WWWWWWWW\" per word in address order\n"
    "                        (word address and word, hexadecimal)\n"
    "  The session echoes the sync bytes and nothing else. Data message 00 LL\n"
    "  LL 01 AAAAAAAA and words (LLLL = its length in bytes): the words go to\n"
    "  RAM from word address AAAAAAAA on. Start message 05 AAAAAAAA. Each is\n"
    "  answered by one byte, the sum of its bytes modulo 256. After the start\n"
    "  message's answer the closing byte 05 starts the program; the monitor\n"
    "  then answers nothing until the next RTS pulse.\n"
    "  -h, --help            this text\n"
    "  --version             the version\n"
    "\n"
    "The board: CTS is off at connect. An RTS pulse (on, then off) resets the\n"
    "monitor to wait for a sync byte and CTS rises --cts-delay later. Host\n"
    "bytes sent at a rate other than the board's are lost. Sync 0x7F opens a\n"
    "session: every host byte is echoed, after a command's last parameter\n"
    "the board sends the checksum (sum of the command and parameter bytes\n"
    "modulo 256) and the results. Commands: 4 EndSession (result 1, then the\n"
    "board takes the closing byte 0x0C and waits for the next sync),\n"
    "5 StartProgram NAME 0x00 (result 0 not found, 1 started, 2 not a\n"
    "program); 6 to 10 below. Others are echoed and not answered. Sync\n"
    "0x0F opens a RAM-loader session (above).\n"
    "\n"
    "Flash file commands, sizes in bytes of 4 per word: 6 RenameProgram OLD\n"
    "0x00 NEW 0x00 (after 0xFF fillers 0 not found, 1 renamed, 2 new name in\n"
    "use, 3 new name not 1 to 15 characters); 7 DeleteProgram NAME 0x00 (0\n"
    "not found; or 1, and after 0xFF fillers 1 deleted, 0 failed);\n"
    "8 ListDirectory (checksum 0x08, then per file NAME 0x00 TYPE DAY MONTH\n"
    "YEAR HOUR MINUTE SECOND SIZE(4), 0x00, the auto-boot name and 0x00, the\n"
    "free bytes (4), 0x00, and the sum of these bytes; no files: the single\n"
    "byte 0x00); 9 FormatFlash 0x00 0xFF 0x55 (after 0xFF fillers 1\n"
    "formatted, 0 failed; another byte where a confirmation byte is due\n"
    "drops the command and is served as the next command byte);\n"
    "10 CheckFlash (no checksum after the command; file count, flash size\n"
    "(4) 524288, free bytes (4), the damaged files' names each ended by 0x00\n"
    "with 0xFF fillers before each and before the closing 0x00, autostart\n"
    "status, version 2.1, then the sum of 0x0A and the report, fillers not\n"
    "counted).\n"
    "\n"
    "Trace lines: \"> 05\" byte received by the board, \"x 05\" host byte lost\n"
    "to a rate mismatch, \"< 05\" byte sent by the board, \"# EVENT\" for\n"
    "connect, disconnect, refused, baud N, rts 0|1, dtr 0|1, flow hw|none|xon,\n"
    "cts 0|1 (also as the port opens), purge N, started NAME, ram session,\n"
    "ram data ADDR WORDS, ram entry ADDR, ram start ADDR, ram not started:\n"
    "closing byte XX. A trace is also a recording for --replay.\n"
    "\n"
    "Flash file: one file of the flash per line,\n"
    "  NAME TYPE DAY MONTH YEAR HOUR MINUTE SECOND START WORD...\n"
    "NAME with bytes outside 0x21..0x7E and '%' written as %XX; TYPE and the\n"
    "date fields (year within the century) decimal; START and the 32-bit\n"
    "WORDs hexadecimal. Lines starting with # are comments. At most 63 files,\n"
    "names of 1 to 15 characters. Example:\n"
    "  PROG 1 24 5 25 14 3 0 00809c00 12345678 9abcdef0\n"
    "\n"
    "Without --once or --idle-timeout vksim runs until SIGINT or SIGTERM.\n"
    "Exit code 0 when ended by --once, the idle time-out, SIGINT or SIGTERM;\n"
    "2 for a bad command line or a flash, trace or replay file that cannot be\n"
    "used; 3 when the host strayed from the recording played back.\n";

// Bytes the board makes up per answer (fillers, stale bytes) are capped;
// plain counts are not.
constexpr long kMaxBytes = 1000000;
constexpr long kMaxCount = 2147483647;
constexpr long kMaxOddEntrySize = 0x1000000;

struct Args {
  vk::sim::ServerConfig server;
  std::string trace_path;
  std::string replay_path;
  bool trace_times = false;
  std::vector<std::string> programs;
  int cts_modes = 0;  // CTS options given; they exclude each other
  bool usbip = false;
};

vk::sim::AdapterConfig& Adapter(Args& a) {
  if (!a.server.adapter) a.server.adapter.emplace();
  return *a.server.adapter;
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "vksim: %s\nTry 'vksim --help'.\n", message.c_str());
  return 2;
}

// A whole number in [lo, hi], decimal or 0x-prefixed hexadecimal.
bool ParseNumber(std::string_view text, long lo, long hi, long& value) {
  if (text.empty() || text.size() > 12) return false;
  const std::string s(text);
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 0);
  if (end == s.c_str() || *end != '\0' || v < lo || v > hi) return false;
  value = v;
  return true;
}

// The program put into flash by --program.
vk::sim::Program FixedProgram(const std::string& name, uint8_t type) {
  vk::sim::Program p;
  p.name = name;
  p.type = type;
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  p.date = {static_cast<uint8_t>(tm.tm_mday), static_cast<uint8_t>(tm.tm_mon + 1),
            static_cast<uint8_t>(tm.tm_year % 100), static_cast<uint8_t>(tm.tm_hour),
            static_cast<uint8_t>(tm.tm_min), static_cast<uint8_t>(tm.tm_sec)};
  p.start = 0x00809C00;
  p.words = {0x12345678, 0x9ABCDEF0, 0x0F0F0F0F, 0xFFFFFFFF};
  return p;
}

// NAME[:TYPE[:SIZE]] of --odd-entry: a directory entry of any name length.
bool ParseOddEntry(const std::string& text, vk::sim::Program& p) {
  const auto colon = text.find(':');
  p.name = text.substr(0, colon);
  if (p.name.empty()) return false;
  p.type = vk::sim::FlashFs::kTypeProgram;
  if (colon == std::string::npos) return true;
  const std::string rest = text.substr(colon + 1);
  const auto colon2 = rest.find(':');
  long type = 0;
  if (!ParseNumber(rest.substr(0, colon2), 0, 255, type)) return false;
  p.type = static_cast<uint8_t>(type);
  if (colon2 == std::string::npos) return true;
  long size = 0;
  if (!ParseNumber(rest.substr(colon2 + 1), 0, kMaxOddEntrySize, size)) return false;
  p.words.assign(static_cast<size_t>(size) / 4, 0);
  return true;
}

// What an option takes after it: nothing, a whole number in a range, or a
// text (as the next word or after "=").
enum class Takes { Nothing, Number, Text };

// One option: what it takes and what it does with it. `needs` names what a
// missing value should have been; `apply` stores the value and returns an
// error message, or "" when the value is good.
struct Option {
  std::string_view name;
  Takes takes;
  long lo = 0;
  long hi = 0;
  std::string_view needs = "a value";
  std::string (*apply)(Args& args, long number, const std::string& text) = nullptr;
};

using vk::sim::kMillisecond;

std::string SetCtsMode(Args& args, vk::sim::CtsMode mode) {
  args.server.line.cts_mode = mode;
  ++args.cts_modes;
  return "";
}

// --result and --late-result: CMD=VALUE, both 0 to 255.
std::string SetResult(std::map<uint8_t, uint8_t>& overrides, std::string_view option, const std::string& text) {
  const auto eq = text.find('=');
  long cmd = 0;
  long val = 0;
  if (eq == std::string::npos || !ParseNumber(text.substr(0, eq), 0, 255, cmd) ||
      !ParseNumber(text.substr(eq + 1), 0, 255, val))
    return std::string(option) + ": '" + text + "' is not CMD=VALUE with both 0 to 255";
  overrides[static_cast<uint8_t>(cmd)] = static_cast<uint8_t>(val);
  return "";
}

uint8_t Byte(long n) { return static_cast<uint8_t>(n); }

// clang-format off
const Option kOptions[] = {
  {"--port", Takes::Number, 0, 65535, "a value",
   [](Args& a, long n, const std::string&) { a.server.port = static_cast<uint16_t>(n); return std::string(); }},
  {"--baud", Takes::Number, 0, 1000000, "a value",
   [](Args& a, long n, const std::string&) {
     if (n != 115200 && n != 38400) return std::string("--baud must be 115200 or 38400");
     a.server.line.board_baud = static_cast<uint32_t>(n);
     return std::string();
   }},
  {"--flash", Takes::Text, 0, 0, "a file name",
   [](Args& a, long, const std::string& t) { a.server.flash_path = t; return std::string(); }},
  {"--program", Takes::Text, 0, 0, "NAME[:TYPE]",
   [](Args& a, long, const std::string& t) { a.programs.push_back(t); return std::string(); }},
  {"--trace", Takes::Text, 0, 0, "a file name",
   [](Args& a, long, const std::string& t) { a.trace_path = t; return std::string(); }},
  {"--replay", Takes::Text, 0, 0, "a file name",
   [](Args& a, long, const std::string& t) { a.replay_path = t; return std::string(); }},
  {"--trace-times", Takes::Nothing, 0, 0, "",
   [](Args& a, long, const std::string&) { a.trace_times = true; return std::string(); }},
  {"--once", Takes::Nothing, 0, 0, "",
   [](Args& a, long, const std::string&) { a.server.once = true; return std::string(); }},
  {"--idle-timeout", Takes::Number, 0, 86400, "a value",
   [](Args& a, long n, const std::string&) { a.server.idle_timeout_s = static_cast<int>(n); return std::string(); }},
  {"--pace", Takes::Nothing, 0, 0, "",
   [](Args& a, long, const std::string&) { a.server.line.pace = true; return std::string(); }},
  {"--latency", Takes::Number, 0, 60000, "a value",
   [](Args& a, long n, const std::string&) { a.server.line.latency = n * kMillisecond; return std::string(); }},
  {"--cts-delay", Takes::Number, 0, 60000, "a value",
   [](Args& a, long n, const std::string&) { a.server.line.cts_delay = n * kMillisecond; return std::string(); }},
  {"--cts-drop-delay", Takes::Number, 0, 60000, "a value",
   [](Args& a, long n, const std::string&) { a.server.line.cts_drop_delay = n * kMillisecond; return std::string(); }},
  {"--fillers-7f", Takes::Number, 0, kMaxBytes, "a value",
   [](Args& a, long n, const std::string&) { a.server.knobs.fillers_7f = static_cast<int>(n); return std::string(); }},
  {"--fillers-ff", Takes::Number, 0, kMaxBytes, "a value",
   [](Args& a, long n, const std::string&) { a.server.knobs.fillers_ff = static_cast<int>(n); return std::string(); }},
  {"--echo-fault", Takes::Number, 1, kMaxCount, "a value",
   [](Args& a, long n, const std::string&) { a.server.knobs.echo_fault = static_cast<int>(n); return std::string(); }},
  {"--checksum-fault", Takes::Number, 0, 255, "a value",
   [](Args& a, long n, const std::string&) { a.server.knobs.checksum_fault.insert(Byte(n)); return std::string(); }},
  {"--result", Takes::Text, 0, 0, "CMD=VALUE",
   [](Args& a, long, const std::string& t) { return SetResult(a.server.knobs.result_override, "--result", t); }},
  {"--late-result", Takes::Text, 0, 0, "CMD=VALUE",
   [](Args& a, long, const std::string& t) {
     return SetResult(a.server.knobs.late_result_override, "--late-result", t);
   }},
  {"--reply-checksum-fault", Takes::Number, 0, 255, "a value",
   [](Args& a, long n, const std::string&) { a.server.knobs.reply_checksum_fault.insert(Byte(n)); return std::string(); }},
  {"--fail", Takes::Number, 0, 255, "a value",
   [](Args& a, long n, const std::string&) { a.server.knobs.work_fault.insert(Byte(n)); return std::string(); }},
  {"--autoboot", Takes::Text, 0, 0, "a name",
   [](Args& a, long, const std::string& t) {
     if (t.find('\0') != std::string::npos) return std::string("--autoboot: bad name");
     a.server.knobs.autoboot = t;
     return std::string();
   }},
  {"--autostart-status", Takes::Number, 0, 255, "a value",
   [](Args& a, long n, const std::string&) { a.server.knobs.autostart_status = Byte(n); return std::string(); }},
  {"--corrupt", Takes::Text, 0, 0, "a name",
   [](Args& a, long, const std::string& t) {
     if (t.empty()) return std::string("--corrupt needs a name");
     a.server.knobs.corrupt.push_back(t);
     return std::string();
   }},
  {"--odd-entry", Takes::Text, 0, 0, "NAME[:TYPE[:SIZE]]",
   [](Args& a, long, const std::string& t) {
     vk::sim::Program p;
     if (!ParseOddEntry(t, p)) return "--odd-entry: '" + t + "' is not NAME[:TYPE[:SIZE]]";
     a.server.knobs.odd_entries.push_back(std::move(p));
     return std::string();
   }},
  {"--silent-after", Takes::Number, 0, kMaxCount, "a value",
   [](Args& a, long n, const std::string&) { a.server.knobs.silent_after = static_cast<int>(n); return std::string(); }},
  {"--stale", Takes::Number, 0, kMaxBytes, "a value",
   [](Args& a, long n, const std::string&) { a.server.knobs.stale = static_cast<int>(n); return std::string(); }},
  {"--sync-ignore", Takes::Number, 0, kMaxCount, "a value",
   [](Args& a, long n, const std::string&) { a.server.knobs.sync_ignore = static_cast<int>(n); return std::string(); }},
  {"--ram-checksum-fault", Takes::Number, 1, kMaxCount, "a value",
   [](Args& a, long n, const std::string&) {
     a.server.knobs.ram.checksum_fault.insert(static_cast<int>(n));
     return std::string();
   }},
  {"--ram-dump", Takes::Text, 0, 0, "a file name",
   [](Args& a, long, const std::string& t) { a.server.knobs.ram.dump_path = t; return std::string(); }},
  {"--sync-junk", Takes::Nothing, 0, 0, "",
   [](Args& a, long, const std::string&) { a.server.knobs.sync_junk = true; return std::string(); }},
  {"--cts-high", Takes::Nothing, 0, 0, "",
   [](Args& a, long, const std::string&) { return SetCtsMode(a, vk::sim::CtsMode::High); }},
  {"--cts-stuck", Takes::Nothing, 0, 0, "",
   [](Args& a, long, const std::string&) { return SetCtsMode(a, vk::sim::CtsMode::Stuck); }},
  {"--no-cts", Takes::Nothing, 0, 0, "",
   [](Args& a, long, const std::string&) { return SetCtsMode(a, vk::sim::CtsMode::Never); }},
  {"--usbip", Takes::Number, 1, 65535, "a value",
   [](Args& a, long n, const std::string&) {
     a.server.port = static_cast<uint16_t>(n);
     Adapter(a);
     a.usbip = true;
     return std::string();
   }},
  {"--adapter", Takes::Text, 0, 0, "a chip name",
   [](Args& a, long, const std::string& t) {
     const auto kind = vk::sim::AdapterByName(t);
     if (!kind) return "--adapter: '" + t + "' is none of ft232r, cp2102, ch340, pl2303";
     Adapter(a).kind = *kind;
     return std::string();
   }},
  {"--unplug-after", Takes::Number, 1, kMaxCount, "a value",
   [](Args& a, long n, const std::string&) { Adapter(a).unplug_after = static_cast<uint64_t>(n); return std::string(); }},
};
// clang-format on

const Option* FindOption(std::string_view name) {
  for (const Option& option : kOptions)
    if (option.name == name) return &option;
  return nullptr;
}

// Returns -1 to go on, otherwise the exit code.
int ParseArgs(int argc, char** argv, Args& args) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    // --option=value gives the value in the same word.
    std::optional<std::string> inline_value;
    if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      inline_value = name.substr(eq + 1);
      name.resize(eq);
    }
    if (name == "-h" || name == "--help") {
      std::printf("%s", kHelp);
      return 0;
    }
    if (name == "--version") {
      std::printf("vksim %s\n", VK_VERSION);
      return 0;
    }
    const Option* option = FindOption(name);
    if (!option || (option->takes == Takes::Nothing && inline_value))
      return Usage("unknown option '" + std::string(argv[i]) + "'");
    std::string text;
    if (option->takes != Takes::Nothing) {
      if (inline_value) text = *inline_value;
      else if (i + 1 < argc) text = argv[++i];
      else return Usage(name + " needs " + std::string(option->needs));
    }
    long number = 0;
    if (option->takes == Takes::Number && !ParseNumber(text, option->lo, option->hi, number))
      return Usage(name + ": '" + text + "' is not a number from " + std::to_string(option->lo) + " to " +
                   std::to_string(option->hi));
    if (const std::string error = option->apply(args, number, text); !error.empty()) return Usage(error);
  }
  if (args.cts_modes > 1) return Usage("--cts-high, --cts-stuck and --no-cts exclude each other");
  if (args.server.adapter && !args.usbip) return Usage("--adapter and --unplug-after need --usbip PORT");
  return -1;
}

// Loads the flash file and adds the --program files. Returns -1 to go on,
// otherwise the exit code.
int SetUpFlash(const Args& args, vk::sim::FlashFs& flash) {
  std::string error;
  const std::string& path = args.server.flash_path;
  if (!path.empty() && std::filesystem::exists(path) && !flash.Load(path, error)) {
    std::fprintf(stderr, "vksim: %s\n", error.c_str());
    return 2;
  }
  for (const std::string& entry : args.programs) {
    std::string name = entry;
    long type = vk::sim::FlashFs::kTypeProgram;
    if (const auto colon = entry.rfind(':'); colon != std::string::npos) {
      name = entry.substr(0, colon);
      if (!ParseNumber(entry.substr(colon + 1), 0, 255, type))
        return Usage("--program " + entry + ": TYPE must be 0 to 255");
    }
    const auto status = flash.Put(FixedProgram(name, static_cast<uint8_t>(type)));
    if (status != vk::sim::FlashFs::Status::Ok)
      return Usage("--program " + entry + ": " + vk::sim::StatusText(status));
  }
  if (!path.empty() && !flash.Save(path, error)) {
    std::fprintf(stderr, "vksim: %s\n", error.c_str());
    return 2;
  }
  return -1;
}

// Reads the recording to play back into the server's settings: it takes
// the board's place on a line shaped as recorded. Returns -1 to go on,
// otherwise the exit code.
int SetUpReplay(Args& args) {
  std::ifstream in(args.replay_path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  vk::sim::Recording recording;
  std::string error;
  if (!in) error = "cannot read it";
  if (!error.empty() || !vk::sim::ParseRecording(text.str(), recording, error)) {
    std::fprintf(stderr, "vksim: %s: %s\n", args.replay_path.c_str(), error.c_str());
    return 2;
  }
  vk::sim::ServerConfig& cfg = args.server;
  recording.line.pace = cfg.line.pace;
  recording.line.latency = cfg.line.latency;
  cfg.line = recording.line;
  cfg.once = true;
  cfg.flash_path.clear();
  cfg.replay = std::move(recording);
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  Args args;
  if (const int rc = ParseArgs(argc, argv, args); rc >= 0) return rc;

  vk::sim::FlashFs flash;
  if (const int rc = args.replay_path.empty() ? SetUpFlash(args, flash) : SetUpReplay(args); rc >= 0)
    return rc;

  vk::sim::Trace trace;
  std::string error;
  if (!args.trace_path.empty() && !trace.Open(args.trace_path, error)) {
    std::fprintf(stderr, "vksim: %s\n", error.c_str());
    return 2;
  }
  if (args.trace_times) trace.StampTimes();

  vk::sim::Server server(args.server, flash, trace);
  if (!server.Listen(error)) {
    std::fprintf(stderr, "vksim: %s\n", error.c_str());
    return 2;
  }
  std::printf("vksim: listening on 127.0.0.1:%u\n", static_cast<unsigned>(server.port()));
  std::fflush(stdout);
  return server.Run();
}
