// Fuzz target of the comment-filtering reader and the edit family. The
// first byte picks the edit and the second the count of kept matches; then
// come a pattern and a second text (each ended by a NUL byte) and the file.
// The file in a temporary directory is read with GetLine, comments dropped
// and kept, then edited in place; every edit must leave the file in place
// and no scratch copy behind.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "fuzz_support.h"

namespace {

using fuzzsupport::takePart;

std::string workDir, base, file, scratch;

void check(bool ok, const char *why) {
  if (!ok) {
    fprintf(stderr, "edit_fuzz: %s\n", why);
    abort();
  }
}

void readAll(unsigned char filter) {
  flInputFilterState = filter;
  pIn = fopen(file.c_str(), "r");
  check(pIn != nullptr, "cannot open the file");
  int lines = 0;
  while (GetLine() > 0) {
    check(strlen(Line) < 512, "a line longer than its piece");
    lines++;
  }
  fclose(pIn);
  pIn = nullptr;
  flInputFilterState = 1;
  (void)lines;
}

int edit(int which, int keep, const std::string &pattern, std::string &text) {
  const char *b = base.c_str();
  switch (which % 9) {
    case 0: return FileChange(b, "txt", pattern.c_str(), text.c_str());
    case 1: return FileChangeChar(b, "txt", pattern.c_str(), text.c_str());
    case 2: return FileDel(b, "txt", keep, pattern.c_str());
    case 3: return FileDelFormat(b, "txt", text.c_str(), pattern.c_str());
    case 4: return FileInsert(b, "txt", text.data());
    case 5: return FileSearchInsert(b, "txt", text.data(), pattern.c_str());
    case 6: return FileDelLine(b, "txt", keep, pattern.c_str());
    case 7: return FileDelLinePair(b, "txt", keep, pattern.c_str(), text.c_str());
    default: return FileChange(b, "", pattern.c_str(), text.c_str());   // a name without extension
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  workDir = fuzzsupport::makeScratchDir("editfuzz");
  base = workDir + "/f";
  file = base + ".txt";
  scratch = base + ".txtout";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const int which = data[0];
  const int keep = data[1] % 4;
  size_t pos = 2;
  const std::string pattern = takePart(data, size, pos);
  std::string text = takePart(data, size, pos);
  const std::string target = which % 9 == 8 ? base : file;
  fuzzsupport::writeBytes(target, data + pos, size - pos);

  if (target == file) {
    readAll(1);
    readAll(0);
  }
  const int status = edit(which, keep, pattern, text);
  check(status >= -1, "an impossible status");
  check(access(target.c_str(), F_OK) == 0, "the edited file is gone");
  check(access(scratch.c_str(), F_OK) != 0 && access((base + ".out").c_str(), F_OK) != 0,
        "a scratch copy is left behind");
  unlink(target.c_str());
  return 0;
}
