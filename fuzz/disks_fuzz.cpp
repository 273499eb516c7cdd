// Fuzz target of the disk list: arbitrary bytes as the "disks" (or, by the
// first byte, "DISKS") file of a work area in a temporary directory, loaded
// and upper-cased as the installer loads it and walked to join the archive
// pieces, with the command layer recording the commands instead of running
// them. Every word of a recorded command must pass the shell-word checker.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "fuzz_support.h"
#include "setup.h"

namespace {

using fuzzsupport::passesWordCheck;
using fuzzsupport::writeBytes;

std::string workArea;
char startDir[4096];

[[noreturn]] void fail(const char *why, const char *text) { fuzzsupport::fail("disks_fuzz", why, text); }

// "<sh> -c "<cat> <piece> >> <archive> 1>/dev/null 2>/dev/null"": the words
// between the quotes other than the appending redirection.
int recordCommand(int, const char *text) {
  const char *open = strchr(text, '"');
  const size_t len = strlen(text);
  if (open == nullptr || text[len - 1] != '"') fail("not quoted for sh -c", text);
  std::string inner(open + 1, text + len - 1);
  if (inner.find_first_of("\"\n\r") != std::string::npos) fail("breaks the quoting", text);
  size_t i = inner.find(' ');   // past the command itself
  while (i < inner.size()) {
    while (i < inner.size() && inner[i] == ' ') i++;
    size_t j = inner.find(' ', i);
    if (j == std::string::npos) j = inner.size();
    const std::string word = inner.substr(i, j - i);
    const bool redirect = word == ">>" || word.rfind("1>", 0) == 0 || word.rfind("2>", 0) == 0;
    if (!word.empty() && !redirect && !passesWordCheck(word.c_str()))
      fail("a word fails the shell-word check", text);
    i = j;
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  if (getcwd(startDir, sizeof startDir) == nullptr) abort();
  workArea = fuzzsupport::makeScratchDir("disksfuzz");
  for (const char *piece : {"pkg_tar.001", "PKG_TAR.002", "pkg_tar.$x"}) writeBytes(workArea + "/" + piece, nullptr, 0);
  pTarnuInstallDir = const_cast<char *>(workArea.c_str());
  fuzzsupport::recordCommands(recordCommand);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const bool upper = data[0] & 1;
  const std::string path = workArea + (upper ? "/DISKS" : "/disks");
  unlink((workArea + "/disks").c_str());
  unlink((workArea + "/DISKS").c_str());
  writeBytes(path, data + 1, size - 1);
  GetDisksData(workArea.c_str());
  if (strlen(LineBuf) >= LINEBUF_SIZE) abort();
  genZFile();
  if (chdir(startDir) != 0) abort();
  return 0;
}
