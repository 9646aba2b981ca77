// Messages that several places print, each written once. The programs'
// messages differ only in the line ends around them, which each place
// passes in; the texts themselves are what scripts match, so every letter
// stays as it has always been printed.
#pragma once

#include <cstdint>
#include <cstdio>

#include "link/interrupt.h"

namespace vk::frame {

// Where an echo error stands, and two odd layouts.
struct EchoErrorStyle {
  const char* before = "\n";
  const char* after = "\n";
  bool break_after_colon = false;  // the flash loader's fast mode
  bool sent_upper_case = false;    // the format utility's confirmation bytes
};

// "ERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x%02x RECEIVED DATA:0x%02x"
inline void PrintEchoError(const EchoErrorStyle& style, uint8_t sent, uint8_t received) {
  std::printf("%sERROR AT RECEIVED ECHO: %s", style.before, style.break_after_colon ? "\n" : "");
  std::printf(style.sent_upper_case ? "TRANSMITTED DATA:0x%02X" : "TRANSMITTED DATA:0x%02x", sent);
  std::printf(" RECEIVED DATA:0x%02x%s", received, style.after);
}

inline void PrintUnknownResult(const char* before, const char* after, std::FILE* out = stdout) {
  std::fprintf(out, "%sERROR: UNKNOWN RESULT CODE RECEIVED%s", before, after);
}

inline void PrintUnknownResultCode(const char* before, uint8_t result, const char* after) {
  std::printf("%sERROR: UNKNOWN RESULT CODE 0x%02x RECEIVED%s", before, result, after);
}

inline void PrintTargetChecksumError(const char* before, const char* after) {
  std::printf("%sTARGET COMMUNICATION CHECKSUM ERROR%s", before, after);
}

// A program name the board's file system cannot hold.
inline void PrintNameTooLong(const char* name) { std::printf("\nName %s Is Longer Than 15 Characters\n", name); }

// An input file that cannot be opened (or is no regular file).
inline void PrintCantOpenFile(const char* name) { std::printf("\nCan't Open File %s\n", name); }

inline void PrintNotPresent(const char* before, const char* name) {
  std::printf("%sProgram Name %s Is Not Present On Target\n", before, name);
}

// The flash utilities' progress while the target works, and its good end.
inline void PrintTargetWorking() {
  std::printf("\nTarget Is Working...");
  std::fflush(stdout);
  link::SetProgressLineOpen(true);
}
inline void PrintDone() {
  std::printf("  Done.\n");
  link::SetProgressLineOpen(false);
}

}  // namespace vk::frame
