// The package list, pkg/pkg.list of the unpacked archive: one command a line
// (copy, touch, test, make a directory, check for running programs, or a
// condition on the system's release), its operands, then attribute pairs
// applied to the entry in the application directory. Every line is carried
// out at once, in file order, through the command table; its words end up
// inside the double-quoted text of "sh -c", so a line holding '"' is refused,
// and so is a line whose paths and names hold anything but letters, digits
// and ._-/+,:@%=, or whose paths in the application directory climb out.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "MemMgr.h"
#include "SysCmd.h"
#include "pkglist.h"
#include "scripts.h"
#include "setup.h"
#include "utils.h"

namespace {

constexpr char kCommandWords[] = ",dir,dirto,t,c,m,#,v,s,newdir,checkps";
enum CommandWord {
  kOtherWord = 0, kDir, kDirTo, kTouch, kCopy, kModify, kComment, kRelease, kSame,
  kNewDir, kCheckPs,
};
constexpr char kAttributeKeys[] = ",mode,bat,owner,group,link,name,sed";
enum AttributeKey { kOtherKey = 0, kMode, kBat, kOwner, kGroup, kLink, kName, kSed };
constexpr char kOperators[] = ",<,<=,=,>,>=,";
constexpr char kWordDelims[] = " \n\r";
constexpr int kReleaseMessage = 60;   // "failed ts get version"

// One word of a line: the tokenizer's rule, on a cursor of our own so that
// the commands run in between cannot disturb the scan.
struct Word {
  char text[TOKEN_BUF_SIZE];
  bool tooLong = false;
};

// The number of characters of the word that a scan took from p up to end,
// where it stopped: leading delimiters skipped, an escape pair counted once.
size_t scannedWordLength(const char *p, const char *end) {
  p += strspn(p, kWordDelims);
  size_t n = 0;
  while (p < end && *p != '\0' && strchr(kWordDelims, *p) == nullptr) {
    p += (p[0] == '\\' && p[1] != '\0') ? 2 : 1;
    n++;
  }
  return n;
}

// Takes the next word at pos into word; false at the end of the line. A word
// that fills the token buffer is flagged when the scan took more than that:
// it was cut.
bool nextWord(const char *&pos, Word &word) {
  const char *start = pos;
  if (GetTokenD(pos, kWordDelims, &pos, word.text) == nullptr) return false;
  constexpr size_t kMost = TOKEN_BUF_SIZE - 1;
  word.tooLong = strlen(word.text) == kMost && scannedWordLength(start, pos) > kMost;
  return true;
}

// Joins a continued line: each backslash directly before a line end goes
// with that line end, as the shell joins a continued command line. Left in
// place they would glue the line end into the next word ("\nowner").
void joinContinuedLines(char *line) {
  char *out = line;
  for (const char *in = line; *in;) {
    if (in[0] == '\\' && in[1] == '\n') { in += 2; continue; }
    *out++ = *in++;
  }
  *out = '\0';
}

void refuseLine(const char *why, const char *line) {
  char shown[LINEBUF_SIZE];
  CopyStr(shown, sizeof shown, line);
  shown[strcspn(shown, "\r\n")] = '\0';
  PutLogMsg("WARNING_MSG: package list line refused, %s: %s\n", why, shown);
  ErrorMsg(1, 0, "package list line refused, %s: %s", why, shown);
}

[[noreturn]] void stopEdit(const char *scratch, int err) {
  PutLogMsg("ERROR: can't create %s: %s\n", scratch, strerror(err));
  printf("ERROR: can't create %s: %s\n", scratch, strerror(err));
  fflush(stdout);
  exit_app(1);
}

// The stream edit of an entry through the scratch file /tmp/<my_name>.tmp.
// The scratch file is made afresh by us (exclusively, never through a link)
// before the shell's redirection writes it, with the permissions the
// redirection would have given it, which "cp -p" hands on to the entry.
void editEntry(const char *entry, const char *expressions) {
  const char *name = my_name != nullptr ? my_name : "setup";
  char scratch[512];
  if (snprintf(scratch, sizeof scratch, "/tmp/%s.tmp", name) >= static_cast<int>(sizeof scratch))
    stopEdit(scratch, ENAMETOOLONG);
  if (unlink(scratch) != 0 && errno != ENOENT) stopEdit(scratch, errno);
  const int fd = open(scratch, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) stopEdit(scratch, errno);
  close(fd);

  SysCmd(-CMD_SED, 2, "%s %s/%s > %s", expressions, pAppDir, entry, scratch);
  if (SysCmd(CMD_CP, 0, "%s %s/%s", scratch, pAppDir, entry) != 0) {
    PutLogMsg("WARNING_MSG: the edited %s/%s could not be written\n", pAppDir, entry);
    flInstallIncomplete = 1;
  }
  SysCmd(CMD_RM, 0, "%s", scratch);
}

// The value of a first key "sed": the rest of the line without its line end.
// Empty when nothing but blanks follows.
void takeRestOfLine(const char *pos, char *value, size_t size) {
  CopyStr(value, size, pos);
  size_t n = strlen(value);
  while (n > 0 && (value[n - 1] == '\n' || value[n - 1] == '\r')) value[--n] = '\0';
  if (strspn(value, " ") == n) value[0] = '\0';
}

void applyAttribute(int key, const char *entry, const char *value) {
  switch (key) {
    case kMode:
      SysCmd(CMD_CHMOD, 2, "%s %s/%s", value, pAppDir, entry);
      break;
    case kBat: {
      MemHolder path(SaveStr("/usr/bin/%s", value));
      GenSimpleScript(path.str(), ScriptShShell, SimpleScript, pAppDir, pAppDir, entry);
      break;
    }
    case kOwner:
      SysCmd(CMD_CHOWN, 2, "-R %s %s/%s", value, pAppDir, entry);
      break;
    case kGroup:
      SysCmd(CMD_CHGRP, 2, "-R %s %s/%s", value, pAppDir, entry);
      break;
    case kLink:
      SysCmd(CMD_LN, 2, "-s %s/%s %s", pAppDir, entry, value);
      break;
    case kName:
      SysCmd(CMD_MV, 2, "%s/%s %s/%s", pAppDir, entry, pAppDir, value);
      break;
    case kSed:
      editEntry(entry, value);
      break;
    default:
      break;
  }
}

// The release field of the running system into buf; false when it cannot
// be read.
bool readRelease(char *buf, size_t size) {
  struct utsname name {};
  if (uname(&name) != 0) return false;
  CopyStr(buf, size, name.release);
  return true;
}

// How a word of a line is used: as a path or a name inside a command line,
// as such a path that must stay inside the application directory, or not in
// a command line at all (a release, an operator, an unused value).
enum class WordUse { Free, Name, Inside };

// 1 when one component of the path is "..".
bool climbsOut(const char *path) {
  for (const char *p = path; (p = strstr(p, "..")) != nullptr; p += 2)
    if ((p == path || p[-1] == '/') && (p[2] == '\0' || p[2] == '/')) return true;
  return false;
}

// Why a word cannot be used as use says, or null when it can.
const char *unfitWord(const Word &w, WordUse use) {
  if (w.tooLong) return "a word is too long";
  // An escaped "\n" or "\r" would end the command line inside "sh -c".
  if (!IsShellWord(w.text, ShellContext::Quoted)) return "a word holds a line end";
  if (use == WordUse::Free) return nullptr;
  if (!IsShellWord(w.text, ShellContext::Word))
    return "a word holds a character other than letters, digits and ._-/+,:@%=";
  if (use == WordUse::Inside && climbsOut(w.text)) return "a path holds a .. component";
  return nullptr;
}

// How the value of an attribute key is used.
WordUse valueUse(int key) {
  switch (key) {
    case kMode: case kOwner: case kGroup: case kLink: return WordUse::Name;
    case kName: case kBat: return WordUse::Inside;   // in the application directory, /usr/bin
    default: return WordUse::Free;                    // sed text, unknown keys
  }
}

// Checks the attribute pairs from pos on. The value of a first key "sed" is
// the rest of the line as written, escapes and all, and goes to the shell
// undecoded; a later "sed" takes one word. Either is free text (a sed
// expression may hold "$" and quotes): only a double quote could break the
// quoting, and the caller has looked for one in the whole line. Such text
// relies on the distribution being the one the administrator chose to run
// as root.
const char *unfitPairs(const char *pos) {
  Word key, value;
  for (bool first = true; nextWord(pos, key); first = false) {
    if (const char *why = unfitWord(key, WordUse::Free)) return why;
    const int k = FindToken(key.text, kAttributeKeys);
    if (first && k == kSed) return nullptr;
    if (!nextWord(pos, value)) return nullptr;
    if (const char *why = unfitWord(value, valueUse(k))) return why;
  }
  return nullptr;
}

// Checks the words of a line as processLine takes them: command words and
// operands, then the attribute pairs. A "v" condition is taken to hold, so
// the command it guards is checked too.
const char *unfitLine(const char *line) {
  const char *pos = line;
  Word command, w;
  if (!nextWord(pos, command)) return nullptr;
  for (;;) {
    if (const char *why = unfitWord(command, WordUse::Free)) return why;
    const int word = FindToken(command.text, kCommandWords);
    if (word == kComment || !nextWord(pos, w)) return nullptr;
    const WordUse operand = word == kRelease   ? WordUse::Free
                            : word == kCheckPs ? WordUse::Name
                                               : WordUse::Inside;
    if (const char *why = unfitWord(w, operand)) return why;
    if (word == kCheckPs) return nullptr;   // the rest of the line is not used
    if (word == kDirTo || word == kRelease) {
      if (!nextWord(pos, w)) return nullptr;
      if (const char *why = unfitWord(w, word == kDirTo ? WordUse::Name : WordUse::Free)) return why;
    }
    if (word != kRelease) return unfitPairs(pos);
    if (!nextWord(pos, command)) return nullptr;
  }
}

// Copies an entry of the package into destination. A copy of an entry that
// the package holds and that fails (a full file system) leaves the
// installation incomplete; one that the package lacks is only the warning
// of the failing copy.
void copyEntry(int row, const char *pkgDir, const char *entry, const char *destination) {
  if (SysCmd(row, 1, "%s/%s/%s %s", pTarnuInstallDir, pkgDir, entry, destination) == 0) return;
  MemHolder source(SaveStr("%s/%s", pTarnuInstallDir, pkgDir));
  if (FindFile(source.str(), entry)) flInstallIncomplete = 1;
}

// Carries out one line (already joined). 1 when the user quit at "checkps".
int processLine(const char *line, const char *pkgDir) {
  const char *pos = line;
  Word command, entry;
  if (!nextWord(pos, command)) return 0;
  if (FindToken(command.text, kCommandWords) == kComment) return 0;
  if (strchr(line, '"') != nullptr) {
    refuseLine("a word holds a double quote", line);
    return 0;
  }
  if (const char *why = unfitLine(line)) {
    refuseLine(why, line);
    return 0;
  }

  for (;;) {
    const int word = FindToken(command.text, kCommandWords);
    if (word == kComment) return 0;
    if (!nextWord(pos, entry)) return 0;
    switch (word) {
      case kDir:
        copyEntry(CMD_CP_R, pkgDir, entry.text, pAppDir);
        break;
      case kDirTo: {
        Word destination;
        if (!nextWord(pos, destination)) return 0;
        copyEntry(CMD_CP_R, pkgDir, entry.text, destination.text);
        break;
      }
      case kTouch:
        SysCmd(CMD_TOUCH, 1, "%s/%s", pAppDir, entry.text);
        break;
      case kModify:
      case kSame:
        if (!FindFile(pAppDir, entry.text)) return 0;
        break;
      case kNewDir: {
        if (FindFile(pAppDir, entry.text)) return 0;
        MemHolder dir(SaveStr("%s/%s", pAppDir, entry.text));
        CreateFile(dir.str(), nullptr, "775", nullptr, nullptr);
        break;
      }
      case kCheckPs:
        return QuitForRunningProcesses(entry.text) ? 1 : 0;
      case kRelease: {
        char release[sizeof(utsname::release)];
        if (!readRelease(release, sizeof release)) {
          perror(nlsSetupStrCvt(kReleaseMessage));
          // The pairs start where the checks above saw a release and a command.
          if (const char *why = unfitPairs(pos)) {
            refuseLine(why, line);
            return 0;
          }
          ApplyPkgAttributes(entry.text, pos);
          return 0;
        }
        Word wanted;
        if (!nextWord(pos, wanted)) return 0;
        if (!TestReleaseCondition(entry.text, wanted.text, release)) return 0;
        if (!nextWord(pos, command)) return 0;
        continue;
      }
      default:   // "c" and any other word: copy the entry
        copyEntry(CMD_CP, pkgDir, entry.text, pAppDir);
        break;
    }
    ApplyPkgAttributes(entry.text, pos);
    return 0;
  }
}

// Whether the line just read into LineBuf was cut at the reader's limit: it
// has no line end, and the file goes on with more than one.
bool lineWasCut() {
  const size_t n = strlen(LineBuf);
  if ((n > 0 && LineBuf[n - 1] == '\n') || pIn == nullptr) return false;
  const int c = getc(pIn);
  if (c == EOF) return false;
  ungetc(c, pIn);
  return c != '\n';
}

}  // namespace

int TestReleaseCondition(const char *op, const char *word, const char *release) {
  if (op == nullptr || word == nullptr || release == nullptr) return 0;
  const int order = strcmp(release, word);
  switch (FindToken(op, kOperators)) {
    case 1: return order < 0;
    case 2: return order <= 0;
    case 3: return order == 0;
    case 4: return order > 0;
    case 5: return order >= 0;
    default: return 0;
  }
}

int ApplyPkgAttributes(const char *entry, const char *text) {
  if (entry == nullptr || text == nullptr) return 0;
  const char *pos = text;
  int applied = 0;
  bool firstKey = true;
  Word key, value;
  while (nextWord(pos, key)) {
    const int k = FindToken(key.text, kAttributeKeys);
    if (firstKey && k == kSed) {
      char rest[LINEBUF_SIZE];
      takeRestOfLine(pos, rest, sizeof rest);
      if (rest[0] == '\0') break;
      applyAttribute(kSed, entry, rest);
      return applied + 1;
    }
    firstKey = false;
    if (!nextWord(pos, value)) break;
    if (k == kOtherKey) continue;
    applyAttribute(k, entry, value.text);
    applied++;
  }
  return applied;
}

int ProcessPkgList(const char *pkgDir) {
  if (!OpenInputFileF(2, "%s/%s/pkg.list", pTarnuInstallDir, pkgDir)) return 0;
  // The line is copied: the commands of a line may reuse LineBuf.
  static char line[LINEBUF_SIZE];
  while (GetFileLine()) {
    if (lineWasCut()) {
      // Nothing of a line that does not fit runs: neither its head nor its
      // tail (with any continuation joined to it), which the reader hands
      // over as the lines after it.
      refuseLine("the line is too long", LineBuf);
      while (GetFileLine() && lineWasCut()) {
      }
      continue;
    }
    CopyStr(line, sizeof line, LineBuf);
    joinContinuedLines(line);
    if (processLine(line, pkgDir) == 1) {
      CloseInputFile();
      return 1;
    }
  }
  CloseInputFile();
  return 0;
}
