// Helpers shared by the fuzz targets: input splitting, scratch directories
// and files, and the command layer switched to recording.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "SysCmd.h"
#include "pkglist.h"
#include "utils.h"

namespace fuzzsupport {

// The shell-word checker of the command layer; the one place to change
// when it moves.
inline bool passesWordCheck(const char *word) { return IsShellWord(word, ShellContext::Word) != 0; }

// The part of the input up to the next NUL byte (or its end); pos moves
// past it.
inline std::string takePart(const uint8_t *data, size_t size, size_t &pos) {
  std::string part;
  while (pos < size && data[pos] != 0) part.push_back(static_cast<char>(data[pos++]));
  if (pos < size) pos++;
  return part;
}

// A new directory /tmp/tarnu-<tag>-XXXXXX, removed when the process ends.
inline std::string makeScratchDir(const char *tag) {
  static std::vector<std::string> dirs;
  std::string tmpl = std::string("/tmp/tarnu-") + tag + "-XXXXXX";
  if (mkdtemp(tmpl.data()) == nullptr) abort();
  if (dirs.empty())
    atexit([] {
      std::error_code ec;
      for (const std::string &d : dirs) std::filesystem::remove_all(d, ec);
    });
  dirs.push_back(tmpl);
  return tmpl;
}

inline void writeBytes(const std::string &path, const uint8_t *data, size_t size) {
  FILE *f = fopen(path.c_str(), "wb");
  if (f == nullptr) abort();
  if (size > 0 && fwrite(data, 1, size, f) != size) abort();
  fclose(f);
}

// Every table command resolved to /bin and handed to record instead of the
// shell; no log, and the installer's messages go nowhere.
inline void recordCommands(SysCmdRecorder record) {
  flUseLog = 0;
  flInitSysCmd = 0;
  static char bin[] = "/bin";
  for (SysCmdEntry &row : ComList) row.pPath = bin;
  pSysCmdRecorder = record;
  if (freopen("/dev/null", "w", stdout) == nullptr) abort();
}

[[noreturn]] inline void fail(const char *target, const char *why, const char *text) {
  fprintf(stderr, "%s: %s: %s\n", target, why, text);
  abort();
}

}  // namespace fuzzsupport
