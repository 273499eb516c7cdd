// Fuzz target of the package list: arbitrary bytes as pkg/pkg.list of a work
// area in a temporary directory, carried out by the installer's line
// interpreter with the command layer recording the command texts instead of
// running them. Every recorded command must keep to one command line inside
// the quoting of "sh -c", and every word outside a stream edit's expressions
// must pass the shell-word checker.
//
// Wrapper scripts ("bat") are written into /usr/bin; the target therefore
// runs in a mount namespace of its own with an empty file system there, and
// refuses to start where it cannot make one.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

#include "fuzz_support.h"
#include "setup.h"

namespace {

using fuzzsupport::passesWordCheck;

std::string workArea, appDir, runName;

[[noreturn]] void fail(const char *why, const char *text) { fuzzsupport::fail("pkglist_fuzz", why, text); }

std::vector<std::string> splitWords(const std::string &text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') i++;
    size_t j = i;
    while (j < text.size() && text[j] != ' ') j++;
    if (j > i) words.push_back(text.substr(i, j - i));
    i = j;
  }
  return words;
}

// The command's own text: what stands between the opening quote of "sh -c"
// and the redirections of its output; a capture run's text as it is.
std::string innerText(const char *text) {
  std::string s(text);
  const size_t open = s.find('"');
  if (open == std::string::npos) return s;
  if (s.back() != '"') fail("not quoted for sh -c", text);
  s = s.substr(open + 1, s.size() - open - 2);
  for (const char *tail : {" 1>/dev/null 2>/dev/null", " 1>>/dev/null 2>>/dev/null"}) {
    const size_t at = s.rfind(tail);
    if (at != std::string::npos && at + strlen(tail) == s.size()) return s.substr(0, at);
  }
  // " 1>&N 2>&N", N a descriptor from 3 to 9.
  const size_t at = s.size() >= 10 ? s.size() - 10 : std::string::npos;
  if (at != std::string::npos && s.compare(at, 4, " 1>&") == 0 && s.compare(at + 5, 4, " 2>&") == 0 &&
      s[at + 4] >= '3' && s[at + 4] <= '9' && s[at + 9] == s[at + 4])
    return s.substr(0, at);
  return s;   // a silent run keeps its output
}

int recordCommand(int index, const char *text) {
  const std::string inner = innerText(text);
  // A stream edit's text may hold a carriage return: the shell takes it as
  // an ordinary character.
  if (inner.find_first_of("\"\n") != std::string::npos) fail("breaks the quoting", text);
  std::vector<std::string> words = splitWords(inner);
  if (words.empty()) fail("empty command", text);
  size_t first = 1;
  if (index == CMD_SED) {
    // "<expressions> <entry> > <scratch file>": the expressions are free text.
    if (words.size() < 4 || words[words.size() - 2] != ">") fail("stream edit not as built", text);
    first = words.size() - 3;
    words.erase(words.end() - 2);
  }
  for (size_t i = first; i < words.size(); i++)
    if (!passesWordCheck(words[i].c_str())) fail("a word fails the shell-word check", text);
  return 0;
}

void makePrivateUsrBin() {
  if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tarnu-fuzz", "/usr/bin", "tmpfs", 0, "size=4m") != 0) {
    perror("pkglist_fuzz: needs a mount namespace of its own (root)");
    exit(1);
  }
}

void removeScratchFile() { unlink(("/tmp/" + runName + ".tmp").c_str()); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  makePrivateUsrBin();
  workArea = fuzzsupport::makeScratchDir("pkgfuzz");
  appDir = workArea + "/app";
  std::filesystem::create_directories(workArea + "/pkg");
  std::filesystem::create_directories(appDir + "/bin");
  for (const char *entry : {"a", "bin/b", "lib.so"}) fclose(fopen((appDir + "/" + entry).c_str(), "w"));
  fclose(fopen((workArea + "/pkg/a").c_str(), "w"));
  atexit(removeScratchFile);

  runName = "tarnu-pkgfuzz-" + std::to_string(getpid());
  my_name = const_cast<char *>(runName.c_str());
  pTarnuInstallDir = const_cast<char *>(workArea.c_str());
  pAppDir = const_cast<char *>(appDir.c_str());
  fuzzsupport::recordCommands(recordCommand);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzzsupport::writeBytes(workArea + "/pkg/pkg.list", data, size);
  ProcessPkgList("pkg");
  return 0;
}
