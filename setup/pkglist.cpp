// The package list, pkg/pkg.list of the unpacked archive: one command a line
// (copy, touch, test, make a directory, check for running programs, or a
// condition on the system's release), its operands, then attribute pairs
// applied to the entry in the application directory. Each line is taken
// apart once into a record, checked, and carried out from the record at
// once, in file order, through the command table. Its words end up inside
// the double-quoted text of "sh -c", so a line holding '"' is refused, and so
// is a line whose paths and names hold anything but letters, digits and
// ._-/+,:@%=, or whose paths in the application directory climb out.
#include <algorithm>
#include <cassert>
#include <cerrno>
#include <climits>
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
constexpr char kAttributeKeys[] = ",mode,bat,owner,group,link,name,sed";
enum AttributeKey { kOtherKey = 0, kMode, kBat, kOwner, kGroup, kLink, kName, kSed };
constexpr char kOperators[] = ",<,<=,=,>,>=,";
constexpr char kWordDelims[] = " \n\r";
constexpr int kReleaseMessage = 60;   // "failed ts get version"
constexpr char kTooLong[] = "a word is too long";

PkgCommand commandOf(const PkgWord &w) { return static_cast<PkgCommand>(FindToken(w.text, kCommandWords)); }
int keyOf(const PkgWord &w) { return FindToken(w.text, kAttributeKeys); }

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

// Copies text into rec (continued lines joined when join is set, the final
// line end dropped) and takes all its words with the tokenizer, each with
// the tokenizer's report of whether it was cut. One block holds the word
// table, the copy and the decoded words.
void takeWords(const char *text, bool join, PkgLine &rec) {
  const size_t len = strlen(text);
  // n words need n - 1 blanks between them: there are at most len / 2 + 1,
  // and their decoded texts, each with its NUL, fit into len + 1 bytes.
  const size_t maxWords = len / 2 + 1;
  const size_t tableSize = maxWords * sizeof(PkgWord);
  char *block = static_cast<char *>(GetMem(tableSize + 2 * (len + 1)));
  if (block == nullptr) SysError("%s", OutOfMem);
  rec.store.reset(block);
  auto *words = reinterpret_cast<PkgWord *>(block);
  char *copy = block + tableSize;
  char *decoded = copy + len + 1;
  memcpy(copy, text, len + 1);
  if (join) joinContinuedLines(copy);
  for (size_t n = strlen(copy); n > 0 && (copy[n - 1] == '\n' || copy[n - 1] == '\r');) copy[--n] = '\0';

  int count = 0;
  size_t stored = 0;
  char token[TOKEN_BUF_SIZE];
  bool cut = false;
  for (const char *pos = copy; GetTokenD(pos, kWordDelims, &pos, token, &cut) != nullptr;) {
    const size_t size = strlen(token) + 1;
    assert(static_cast<size_t>(count) < maxWords && stored + size <= len + 1);
    memcpy(decoded + stored, token, size);
    words[count++] = {decoded + stored, pos, cut};
    stored += size;
  }
  rec.text = copy;
  rec.words = words;
  rec.wordCount = count;
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

// Whether link is a symbolic link to the entry in the application directory.
bool linksTo(const char *link, const char *entry) {
  char target[PATH_MAX];
  const ssize_t n = readlink(link, target, sizeof target - 1);
  if (n < 0) return false;
  target[n] = '\0';
  MemHolder want(SaveStr("%s/%s", pAppDir, entry));
  return strcmp(target, want.str()) == 0;
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
      if (flRedoNewInstall && linksTo(value, entry)) break;   // made by the killed run
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

// Applies the pairs to the entry in the application directory, left to
// right; a key without a value and unknown keys are passed over. Returns
// the number of pairs applied.
int applyPairs(const char *entry, const PkgPairs &pairs) {
  if (pairs.sedText != nullptr) {
    applyAttribute(kSed, entry, pairs.sedText);
    return 1;
  }
  int applied = 0;
  for (int i = 0; i + 1 < pairs.size; i += 2) {
    const int key = keyOf(pairs.words[i]);
    if (key == kOtherKey) continue;
    applyAttribute(key, entry, pairs.words[i + 1].text);
    applied++;
  }
  return applied;
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

// Why a word (one that was not cut) cannot be used as use says, or null
// when it can.
const char *findWordFault(const PkgWord &w, WordUse use) {
  // An escaped "\n" or "\r" would end the command line inside "sh -c".
  if (!IsShellWord(w.text, ShellContext::Quoted)) return "a word holds a line end";
  if (use == WordUse::Free) return nullptr;
  if (!IsShellWord(w.text, ShellContext::Word))
    return "a word holds a character other than letters, digits and " SHELL_WORD_MARKS;
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

// Why the pairs cannot be applied, or null (a cut word first). The value of a first key "sed"
// is the rest of the line as written, escapes and all, and goes to the shell
// undecoded; a later "sed" takes one word. Either is free text (a sed
// expression may hold "$" and quotes): only a double quote could break the
// quoting, and the caller has looked for one in the whole line. Such text
// relies on the distribution being the one the administrator chose to run
// as root.
const char *findPairsFault(const PkgPairs &pairs) {
  if (pairs.cut) return kTooLong;
  for (int i = 0; i < pairs.size; i += 2) {
    if (const char *why = findWordFault(pairs.words[i], WordUse::Free)) return why;
    if (i + 1 == pairs.size) break;
    if (const char *why = findWordFault(pairs.words[i + 1], valueUse(keyOf(pairs.words[i])))) return why;
  }
  return nullptr;
}

// Why the line cannot be carried out, or null. A cut word is named first;
// then the words are checked in order as the line uses them, every "v"
// condition taken to hold, so the command it guards is checked too.
const char *findLineFault(const PkgLine &line) {
  if (line.cut) return kTooLong;
  for (int i = 0; i < std::min(line.used, 3 * line.conditions); i++)
    if (const char *why = findWordFault(line.words[i], WordUse::Free)) return why;
  if (line.command != nullptr)
    if (const char *why = findWordFault(*line.command, WordUse::Free)) return why;
  if (line.entry != nullptr)
    if (const char *why = findWordFault(*line.entry, line.kind == PKG_CHECKPS ? WordUse::Name : WordUse::Inside))
      return why;
  if (line.destination != nullptr)
    if (const char *why = findWordFault(*line.destination, WordUse::Name)) return why;
  return findPairsFault(line.pairs);
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

// Carries out the line from its record, its conditions first. 1 when the
// user quit at "checkps".
int carryOut(const PkgLine &line, const char *pkgDir) {
  for (int i = 0; i < line.conditions; i++) {
    if (3 * i + 1 >= line.wordCount) return 0;
    const PkgWord &op = line.words[3 * i + 1];
    char release[sizeof(utsname::release)];
    if (!readRelease(release, sizeof release)) {
      perror(nlsSetupStrCvt(kReleaseMessage));
      // The operator stands as the entry and the pairs start at the release
      // word, a reading the check of the whole line has not seen.
      const PkgPairs pairs = PkgPairsFrom(line, 3 * i + 2);
      if (const char *why = findPairsFault(pairs)) {
        refuseLine(why, line.text);
        return 0;
      }
      applyPairs(op.text, pairs);
      return 0;
    }
    if (3 * i + 2 >= line.wordCount) return 0;
    if (!TestReleaseCondition(op.text, line.words[3 * i + 2].text, release)) return 0;
  }
  if (line.command == nullptr || line.entry == nullptr) return 0;
  const char *entry = line.entry->text;
  switch (line.kind) {
    case PKG_COMMENT:
      return 0;
    case PKG_DIR:
      copyEntry(CMD_CP_R, pkgDir, entry, pAppDir);
      break;
    case PKG_DIRTO:
      if (line.destination == nullptr) return 0;
      copyEntry(CMD_CP_R, pkgDir, entry, line.destination->text);
      break;
    case PKG_TOUCH:
      SysCmd(CMD_TOUCH, 1, "%s/%s", pAppDir, entry);
      break;
    case PKG_MODIFY:
    case PKG_SAME:
      if (!FindFile(pAppDir, entry)) return 0;
      break;
    case PKG_NEWDIR: {
      // A directory is made once: when it exists, the line is skipped. A run
      // that does an interrupted new installation again applies the
      // attributes still, since the killed run may have stopped between
      // making the directory and giving it its mode and link.
      if (FindFile(pAppDir, entry)) {
        if (!flRedoNewInstall) return 0;
        break;
      }
      MemHolder dir(SaveStr("%s/%s", pAppDir, entry));
      CreateFile(dir.str(), nullptr, "775", nullptr, nullptr);
      break;
    }
    case PKG_CHECKPS:
      return QuitForRunningProcesses(entry) ? 1 : 0;
    default:   // "c" and any other word: copy the entry
      copyEntry(CMD_CP, pkgDir, entry, pAppDir);
      break;
  }
  applyPairs(entry, line.pairs);
  return 0;
}

// Checks the line, then carries it out. 1 when the user quit at "checkps".
int processLine(const PkgLine &line, const char *pkgDir) {
  if (line.wordCount == 0) return 0;
  if (line.conditions == 0 && line.kind == PKG_COMMENT) return 0;
  if (strchr(line.text, '"') != nullptr) {
    refuseLine("a word holds a double quote", line.text);
    return 0;
  }
  if (const char *why = findLineFault(line)) {
    refuseLine(why, line.text);
    return 0;
  }
  return carryOut(line, pkgDir);
}

// Reads the next line of the list into LineBuf (GetFileLine); holdsNul says
// whether it holds a NUL byte, which hides the rest of the line: the reader
// then took more bytes from the list than the line shows.
bool readLine(bool &holdsNul) {
  const long start = pIn != nullptr ? ftell(pIn) : -1;
  if (!GetFileLine()) return false;
  holdsNul = start >= 0 && ftell(pIn) - start > static_cast<long>(strlen(LineBuf));
  return true;
}

// Whether the line just read into LineBuf was cut at the reader's limit: it
// has no line end, and the file goes on with more than one. In a line that
// holds a NUL byte the last byte read is looked up in the list itself.
bool lineWasCut(bool holdsNul) {
  if (pIn == nullptr) return false;
  const size_t n = strlen(LineBuf);
  int last = n > 0 ? static_cast<unsigned char>(LineBuf[n - 1]) : EOF;
  if (holdsNul) last = fseek(pIn, -1, SEEK_CUR) == 0 ? getc(pIn) : EOF;
  if (last == '\n') return false;
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
  PkgLine words;
  takeWords(text, false, words);
  return applyPairs(entry, PkgPairsFrom(words, 0));
}

void ParsePkgLine(const char *line, PkgLine &rec) {
  takeWords(line != nullptr ? line : "", true, rec);
  rec.conditions = 0;
  rec.command = rec.entry = rec.destination = nullptr;
  rec.kind = PKG_OTHER;
  rec.pairs = PkgPairs{};
  const int n = rec.wordCount;
  int at = 0;
  while (at < n && commandOf(rec.words[at]) == PKG_RELEASE) {
    rec.conditions++;
    at += 3;
  }
  rec.used = std::min(at, n);
  if (at < n) {
    rec.command = &rec.words[at];
    rec.kind = commandOf(*rec.command);
    rec.used = at + 1;
    if (rec.kind != PKG_COMMENT && at + 1 < n) {
      rec.entry = &rec.words[at + 1];
      rec.used = at + 2;
      if (rec.kind == PKG_DIRTO && at + 2 < n) rec.destination = &rec.words[rec.used++];
      if (rec.kind != PKG_CHECKPS && (rec.kind != PKG_DIRTO || rec.destination != nullptr)) {
        rec.pairs = PkgPairsFrom(rec, rec.used);
        rec.used += rec.pairs.size;
      }
    }
  }
  rec.cut = std::any_of(rec.words, rec.words + rec.used, [](const PkgWord &w) { return w.cut; });
}

PkgPairs PkgPairsFrom(const PkgLine &line, int first) {
  PkgPairs pairs;
  if (first < 0 || first >= line.wordCount) return pairs;
  pairs.words = &line.words[first];
  if (keyOf(pairs.words[0]) == kSed) {
    // The rest of the line as written; blanks alone are no value.
    pairs.size = 1;
    const char *rest = pairs.words[0].rest;
    if (rest[strspn(rest, " ")] != '\0') pairs.sedText = rest;
  } else {
    pairs.size = line.wordCount - first;
  }
  pairs.cut = std::any_of(pairs.words, pairs.words + pairs.size, [](const PkgWord &w) { return w.cut; });
  return pairs;
}

int ProcessPkgList(const char *pkgDir) {
  if (!OpenInputFileF(2, "%s/%s/pkg.list", pTarnuInstallDir, pkgDir)) return 0;
  // The record keeps a copy of the line: its commands may reuse LineBuf.
  PkgLine line;
  bool holdsNul = false;
  while (readLine(holdsNul)) {
    const bool cut = lineWasCut(holdsNul);
    if (holdsNul || cut) {
      // Nothing of such a line runs: neither its head nor the tail of a
      // line that does not fit (with any continuation joined to it), which
      // the reader hands over as the lines after it.
      refuseLine(holdsNul ? "the line holds a NUL byte" : "the line is too long", LineBuf);
      for (bool tail = cut; tail && readLine(holdsNul);) tail = lineWasCut(holdsNul);
      continue;
    }
    ParsePkgLine(LineBuf, line);
    if (processLine(line, pkgDir) == 1) {
      CloseInputFile();
      return 1;
    }
  }
  CloseInputFile();
  return 0;
}
