// Fuzz target of the language choice: the input up to its first NUL byte is
// LANG, the rest the language map "trans.conf" in a temporary tool base
// directory. The map is normalised and the language chosen from it afresh
// for every input; the choice must be one word that fits its buffer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "Dbm.h"
#include "MemMgr.h"
#include "NlsUtils.h"
#include "fuzz_support.h"

namespace {

std::string toolDir;

void check(bool ok, const char *why) {
  if (!ok) {
    fprintf(stderr, "lang_fuzz: %s\n", why);
    abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  toolDir = fuzzsupport::makeScratchDir("langfuzz");
  pToolPath = const_cast<char *>(toolDir.c_str());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const uint8_t *nul = static_cast<const uint8_t *>(memchr(data, 0, size));
  const size_t langLen = nul != nullptr ? static_cast<size_t>(nul - data) : size;
  const std::string lang(reinterpret_cast<const char *>(data), langLen);
  const size_t mapStart = nul != nullptr ? langLen + 1 : size;
  fuzzsupport::writeBytes(toolDir + "/trans.conf", data + mapStart, size - mapStart);
  setenv("LANG", lang.c_str(), 1);

  NlsResetLanguage();
  char *map = ParseTransFile("trans.conf");
  if (map != nullptr) {
    check(strlen(map) < NLS_TRANS_SIZE, "the normalised map overflows");
  }
  PutMem(map);
  const char *chosen = GetDesiredNLSLang();
  check(chosen != nullptr && *chosen != '\0', "no language chosen");
  check(strlen(chosen) < 256, "the language overflows");
  check(strpbrk(chosen, " \t\r\n") == nullptr, "the language is not one word");
  NlsResetLanguage();
  return 0;
}
