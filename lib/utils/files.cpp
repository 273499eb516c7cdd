// Directory listings, file queries, the input-file reader and file
// creation. Existence is decided from directory listings; files and directories are created, moved
// and removed through the command table so that every change is logged.
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <sys/stat.h>
#include <unistd.h>
#include "Handles.h"
#include "MemMgr.h"
#include "upcalls.h"
#include "utils.h"

char InputFileName[256];
char LineBuf[LINEBUF_SIZE];
int LineLen = 0;
int FileStatus = 1;
int SavedFileSize = 0;

namespace {

// Formats into buf; 0 when the text does not fit (nothing is then to be
// done with the cut text).
int formatPath(char *buf, size_t size, const char *fmt, ...) TARNU_PRINTF(3, 4);
int formatPath(char *buf, size_t size, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(buf, size, fmt, ap);
  va_end(ap);
  return n >= 0 && static_cast<size_t>(n) < size;
}

// Refuses a change whose word is too long or unsafe for the shell: warns and
// gives the status that the change then returns.
int refuseChange(int status, const char *word) {
  ErrorMsg(1, 0, "%s, %.200s", status == ENAMETOOLONG ? "path too long" : "unsafe file name", word);
  return status;
}

// Splits path as StripFn and StripPath do (directory part: up to the last
// slash, "/" for the root slash, "." without one; name: the last non-empty
// component, the path itself when it has none) into the caller's buffers,
// without their static limits; 0 when a part does not fit.
int splitPath(const char *path, char *dir, size_t dirSize, char *name, size_t nameSize) {
  size_t end = strlen(path);
  while (end > 0 && path[end - 1] == '/') --end;
  size_t begin = end;
  while (begin > 0 && path[begin - 1] != '/') --begin;
  if (end == 0) {
    if (!CopyStr(name, nameSize, path)) return 0;
  } else {
    if (end - begin >= nameSize) return 0;
    memcpy(name, path + begin, end - begin);
    name[end - begin] = '\0';
  }
  return PathDir(path, dir, dirSize);
}

// Appends " name" for each entry of dir (only those with the extension
// when ext is given, see SearchDirFileList) and a closing blank.
bool listDir(const char *dir, const char *ext, TextBuf &out) {
  DirHandle d(opendir(dir));
  if (!d) return false;
  out.append(" ");
  for (char *name = ReadDir(d.get()); name != nullptr; name = ReadDir(d.get())) {
    if (ext != nullptr) {
      if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
      if (*ext != '\0') {
        const char *dot = strrchr(name, '.');
        if (dot == nullptr || strcmp(dot + 1, ext) != 0) continue;
      }
    }
    out.append(name);
    out.append(" ");
  }
  return true;
}

}  // namespace

// --------------------------------------------------------------- listings --

char *ReadDir(DIR *dir) {
  if (dir == nullptr) return nullptr;
  struct dirent *entry = readdir(dir);
  return entry != nullptr ? entry->d_name : nullptr;
}

char *GetDirFileList(const char *dir) {
  TextBuf out;
  if (dir == nullptr || !listDir(dir, nullptr, out)) return nullptr;
  return out.take();
}

char *SearchDirFileList(const char *dir, const char *ext) {
  TextBuf out;
  if (dir == nullptr || !listDir(dir, ext != nullptr ? ext : "", out)) return nullptr;
  if (out.size() <= 1) return nullptr;
  return out.take();
}

// 1 when the entry exists in the directory's listing (a dangling link
// counts); the name may hold a slash, a null directory makes the name the
// path to test.
int FindFile(const char *dir, const char *name) {
  if (dir == nullptr) {
    if (name == nullptr || *name == '\0') return 0;
    dir = name;
    name = nullptr;
  }
  char joined[256];
  char dirBuf[256];
  char nameBuf[256];
  if (name != nullptr && *name != '\0' && strchr(name, '/') != nullptr) {
    int n = snprintf(joined, sizeof joined, "%s/%s", dir, name);
    if (n < 0 || static_cast<size_t>(n) >= sizeof joined) return 0;
    char *slash = strrchr(joined, '/');
    *slash = '\0';
    if (!CopyStr(nameBuf, sizeof nameBuf, slash + 1)) return 0;
    if (!CopyStr(dirBuf, sizeof dirBuf, joined[0] != '\0' ? joined : "/")) return 0;
    dir = dirBuf;
    name = nameBuf;
  } else if (name == nullptr || *name == '\0') {
    // No name: the directory argument itself is the entry to test.
    if (!splitPath(dir, dirBuf, sizeof dirBuf, nameBuf, sizeof nameBuf)) return 0;
    dir = dirBuf;
    name = nameBuf;
  }
  char *list = GetDirFileList(dir);
  if (list == nullptr) return 0;
  int found = FindToken(name, list) != 0;
  PutMem(list);
  return found;
}

// 1 when stat succeeds on "<dir>/<name>", or on whichever one is given.
int FindFile_(const char *dir, const char *name) {
  char path[256];
  int n;
  if (dir != nullptr && name != nullptr) {
    n = snprintf(path, sizeof path, "%s/%s", dir, name);
  } else if (dir != nullptr || (name != nullptr && *name != '\0')) {
    n = snprintf(path, sizeof path, "%s", dir != nullptr ? dir : name);
  } else {
    return 0;
  }
  if (n < 0 || static_cast<size_t>(n) >= sizeof path) return 0;
  struct stat st;
  return stat(path, &st) == 0;
}

long GetFileSize(const char *path) {
  struct stat st;
  return (path != nullptr && stat(path, &st) == 0) ? static_cast<long>(st.st_size) : 0;
}

long GetFileTime(const char *path) {
  struct stat st;
  return (path != nullptr && stat(path, &st) == 0) ? static_cast<long>(st.st_mtime) : 0;
}

int GetFileType(const char *path) {
  struct stat st;
  if (path == nullptr || lstat(path, &st) != 0) return 0;
  if (S_ISDIR(st.st_mode)) return 1;
  if (S_ISLNK(st.st_mode)) return 2;
  return 3;
}

// The first line holding the pattern (any first line for a null pattern),
// with its newline, in a static buffer; null when none or unopenable.
char *FileSearch(const char *path, const char *pattern, int errMode) {
  static char found[512];
  FileHandle f(OpenFile(nullptr, path, "rt", errMode));
  if (!f) return nullptr;
  while (fgets(found, 511, f.get()) != nullptr) {
    if (pattern == nullptr || strstr(found, pattern) != nullptr) return found;
  }
  found[0] = '\0';
  return nullptr;
}

// ------------------------------------------------------ input-file reader --

namespace {

// The reader after a failed open: reported by the caller's level (2 ends
// the process with status 0), state "failed", LineBuf empty.
int failInputOpen(const char *path, int level) {
  ErrorMsg(level, 0, "can't open file, %s", path);
  FileStatus = 2;
  LineBuf[0] = '\0';
  LineLen = 0;
  return 0;
}

}  // namespace

int OpenInputFile(const char *path, int level) {
  CopyStr(InputFileName, sizeof InputFileName, path != nullptr ? path : "");
  if (pIn != nullptr) fclose(pIn);
  pIn = (path != nullptr) ? fopen(path, "rt") : nullptr;
  if (pIn != nullptr) {
    FileStatus = 0;
    return 1;
  }
  return failInputOpen(path != nullptr ? path : "", level);
}

int OpenInputFileF(int level, const char *fmt, ...) {
  char path[512];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(path, sizeof path, fmt, ap);
  va_end(ap);
  if (n >= 0 && static_cast<size_t>(n) < sizeof path) return OpenInputFile(path, level);
  // A path that does not fit is not opened under a cut name.
  if (pIn != nullptr) fclose(pIn);
  pIn = nullptr;
  CopyStr(InputFileName, sizeof InputFileName, path);
  return failInputOpen(path, level);
}

// The next logical line in LineBuf: physical lines ending in a backslash
// directly before the newline are continued by the next one, each kept with
// its line end; the whole is cut at 4095 characters. LineLen is the offset
// of the last physical line.
int GetFileLine() {
  LineLen = 0;
  if (pIn == nullptr) return 0;
  if (fgets(LineBuf, 511, pIn) == nullptr) {
    CloseInputFile();
    LineBuf[0] = '\0';
    return 0;
  }
  char *part = LineBuf;
  while (strstr(part, "\\\n") != nullptr) {
    size_t len = strlen(part);
    size_t used = static_cast<size_t>(part - LineBuf) + len;
    if (LINEBUF_SIZE - used < 2) break;
    if (fgets(part + len, static_cast<int>(LINEBUF_SIZE - used), pIn) == nullptr) break;
    part += len;
    LineLen = static_cast<int>(part - LineBuf);
  }
  return 1;
}

// The first token of the next line that is neither a "#" comment nor made
// of delimiters only, in LineBuf.
int GetFileTextLine(const char *delims) {
  if (delims == nullptr) return 0;
  while (GetFileLine()) {
    if (LineBuf[0] == '#') continue;
    size_t skip = strspn(LineBuf, delims);
    if (LineBuf[skip] == '\0') continue;
    size_t len = strcspn(LineBuf + skip, delims);
    memmove(LineBuf, LineBuf + skip, len);
    LineBuf[len] = '\0';
    return 1;
  }
  return 0;
}

void CloseInputFile() {
  if (pIn != nullptr) fclose(pIn);
  pIn = nullptr;
  FileStatus = 1;
}

// ------------------------------------------------------------ checked open --

int OpenCheckedFile(const char *path, int flags, unsigned mode, int own) {
  if (path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  int extra = O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (own ? O_NOFOLLOW : 0);
  FdHandle fd(open(path, (flags & ~O_TRUNC) | extra, static_cast<mode_t>(mode)));
  if (!fd) return -1;
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return -1;
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return -1;
  }
  if (own && (st.st_uid != geteuid() || st.st_nlink != 1)) {
    errno = EPERM;
    return -1;
  }
  if ((flags & O_TRUNC) != 0 && (flags & O_ACCMODE) != O_RDONLY && ftruncate(fd.get(), 0) != 0) return -1;
  if ((flags & O_NONBLOCK) != 0) return fd.release();
  int fl = fcntl(fd.get(), F_GETFL);
  if (fl < 0 || fcntl(fd.get(), F_SETFL, fl & ~O_NONBLOCK) != 0) return -1;
  return fd.release();
}

void TakeOverFileStatus(int fd, const struct stat &st) {
  // Without the right to give the copy away it stays ours; the mode is
  // applied afterwards, as a change of owner clears the set-id bits.
  if (fchown(fd, st.st_uid, st.st_gid) != 0) errno = 0;
  fchmod(fd, st.st_mode & 07777);
}

int PathDir(const char *path, char *out, size_t size) {
  const char *slash = strrchr(path, '/');
  if (slash == nullptr) return CopyStr(out, size, ".");
  size_t len = (slash == path) ? 1 : static_cast<size_t>(slash - path);
  if (len >= size) return 0;
  memcpy(out, path, len);
  out[len] = '\0';
  return 1;
}

// ------------------------------------------------------- whole-file reads --

// At most 4095 bytes of the file in LineBuf, terminated; a read error reads
// nothing. LineBuf is empty when the file cannot be opened.
int GetFileContent(const char *path, const char *name) {
  if (path == nullptr) return 0;
  FileHandle f;
  if (name != nullptr) {
    if (!formatPath(LineBuf, sizeof LineBuf, "%s/%s", path, name)) {
      LineBuf[0] = '\0';
      return 0;
    }
    f.reset(fopen(LineBuf, "rb"));
  } else {
    f.reset(fopen(path, "rb"));
  }
  if (!f) {
    LineBuf[0] = '\0';
    return 0;
  }
  size_t n = fread(LineBuf, 1, LINEBUF_SIZE - 1, f.get());
  if (ferror(f.get())) n = 0;
  LineBuf[n] = '\0';
  return 1;
}

// At most size bytes into buf, which holds size + 1 bytes.
int GetFileContentR(const char *path, const char *name, char *buf, int size) {
  if (path == nullptr || buf == nullptr) return 0;
  char full[264];
  int fits = (name != nullptr) ? formatPath(full, sizeof full, "%s/%s", path, name)
                               : formatPath(full, sizeof full, "%s", path);
  if (!fits) return 0;
  FileHandle f(fopen(full, "rb"));
  if (!f) return 0;
  size_t n = (size > 0) ? fread(buf, 1, static_cast<size_t>(size), f.get()) : 0;
  if (ferror(f.get())) n = 0;
  buf[n] = '\0';
  return 1;
}

// The whole file as a saved block with a terminating NUL (the caller owns
// it); null for an empty, missing or unreadable file. SavedFileSize is the
// file's size.
char *GetSavedFileContent(const char *dir, const char *name) {
  SavedFileSize = 0;
  if (dir == nullptr) return nullptr;
  char path[4096];
  int fits = (name != nullptr) ? formatPath(path, sizeof path, "%s%s%s", dir, "/", name)
                               : formatPath(path, sizeof path, "%s", dir);
  if (!fits) return nullptr;
  SavedFileSize = static_cast<int>(GetFileSize(path));
  if (SavedFileSize <= 0) return nullptr;
  FileHandle f(fopen(path, "rb"));
  if (!f) return nullptr;
  char *block = static_cast<char *>(GetMem(static_cast<size_t>(SavedFileSize) + 1));
  if (block == nullptr) {
    ErrorMsg(1, 0, "Unable to allocate memory");
    return nullptr;
  }
  size_t n = fread(block, 1, static_cast<size_t>(SavedFileSize), f.get());
  block[n] = '\0';
  return block;
}

// ------------------------------------------------------------------ changes --

// Makes sure the directory exists (mkdir -p), touches the name in it when
// one is given, then applies permissions, owner and group; every command
// runs in mode 2.
int CreateFile(const char *dir, const char *name, const char *perm, const char *owner, const char *group) {
  if (dir == nullptr) return 0;
  char target[512];
  int fits = (name != nullptr) ? formatPath(target, sizeof target, "%s%s%s", dir, "/", name)
                               : formatPath(target, sizeof target, "%s", dir);
  if (!fits) return refuseChange(ENAMETOOLONG, dir);
  for (const char *word : {static_cast<const char *>(target), perm, owner, group}) {
    if (word != nullptr && !IsShellWord(word, ShellContext::Word)) return refuseChange(EINVAL, word);
  }
  int status = 0;
  char parent[256];
  char last[256];
  if (!splitPath(dir, parent, sizeof parent, last, sizeof last) || !FindFile(parent, last)) {
    status = SysCmd(CMD_MKDIR, 2, "%s", dir);
  }
  if (name != nullptr) status = SysCmd(CMD_TOUCH, 2, "%s", target);
  if (perm != nullptr) status = SysCmd(CMD_CHMOD, 2, "%s %s", perm, target);
  if (owner != nullptr) status = SysCmd(CMD_CHOWN, 2, "%s %s", owner, target);
  if (group != nullptr) status = SysCmd(CMD_CHGRP, 2, "%s %s", group, target);
  return status;
}

namespace {

// rm -rf of "<dir>/<name>" (dir alone for a null name) in mode 1 when
// exists says so; a path over 512 bytes is refused whether it exists or not.
int removeEntry(const char *dir, const char *name, bool exists) {
  char path[512];
  int fits = (name != nullptr) ? formatPath(path, sizeof path, "%s%s%s", dir, "/", name)
                               : formatPath(path, sizeof path, "%s", dir);
  if (!fits) return refuseChange(ENAMETOOLONG, dir);
  if (!exists) return 0;
  if (!IsShellWord(path, ShellContext::Word)) return refuseChange(EINVAL, path);
  return SysCmd(CMD_RM_RF, 1, "%s", path);
}

}  // namespace

int DeleteFile(const char *dir, const char *name) {
  if (dir == nullptr) {
    dir = name;
    name = nullptr;
  }
  if (dir == nullptr) return 0;
  return removeEntry(dir, name, FindFile(dir, name) != 0);
}

int DeleteFile_(const char *path, const char *name) {
  if (path == nullptr) return 0;
  bool exists;
  if (name != nullptr) {
    exists = FindFile(path, name) != 0;
  } else {
    char parent[256];
    char last[256];
    exists = splitPath(path, parent, sizeof parent, last, sizeof last) && FindFile(parent, last) != 0;
  }
  return removeEntry(path, name, exists);
}

// Moves oldName to newName inside dir, or between two full paths when dir is
// null; silently (no dot, no log line) with mv -f in mode 1.
int RenameFile(const char *dir, const char *oldName, const char *newName) {
  if (oldName == nullptr || newName == nullptr) return 0;
  char from[512];
  char to[512];
  int fits = (dir != nullptr) ? formatPath(from, sizeof from, "%s/%s", dir, oldName) &&
                                    formatPath(to, sizeof to, "%s/%s", dir, newName)
                              : formatPath(from, sizeof from, "%s", oldName) &&
                                    formatPath(to, sizeof to, "%s", newName);
  if (!fits) return refuseChange(ENAMETOOLONG, dir != nullptr ? dir : oldName);
  bool exists = (dir != nullptr) ? FindFile(dir, oldName) != 0 : FindFile(nullptr, oldName) != 0;
  if (!exists) return 0;
  if (!IsShellWord(from, ShellContext::Word)) return refuseChange(EINVAL, from);
  if (!IsShellWord(to, ShellContext::Word)) return refuseChange(EINVAL, to);
  return SysCmd(-CMD_MV, 1, "%s %s", from, to);
}

// ------------------------------------------------------------------- probes --

// The user's name from the table's whoami (a saved string the caller owns);
// without whoami "root" for user id 0, else "User ID:  <id>".
char *GetUserName() {
  if (!TestCmd(CMD_WHOAMI)) {
    uid_t uid = getuid();
    return uid == 0 ? SaveStr_("root") : SaveStr("User ID:  %d", static_cast<int>(uid));
  }
  MemHolder cmd(GetCmd(CMD_WHOAMI));
  if (cmd.get() == nullptr) return nullptr;
  PipeHandle p(popen(cmd.str(), "r"));
  if (!p) return nullptr;
  char line[256];
  if (fgets(line, sizeof line, p.get()) == nullptr) line[0] = '\0';
  line[strcspn(line, "\r\n")] = '\0';
  return SaveStr_(line);
}

char *GetHostname() {
  char name[256];
  if (gethostname(name, sizeof name) != 0) return nullptr;
  name[sizeof name - 1] = '\0';
  name[strcspn(name, "\r\n")] = '\0';
  return SaveStr_(name);
}

int SniffLprng() {
  if (!TestCmd(CMD_LPD)) return 0;
  CmdResponse *resp = GetCmdResponse(CMD_LPD, "LPRng", " -V 2>&1");
  int found = resp != nullptr;
  FreeResponseList(resp);
  return found;
}

int SniffCUPS() {
  char *report = CheckProcTableForExecs("cupsd");
  int found = report != nullptr;
  PutMem(report);
  return found;
}

// ---------------------------------------------------------------- locating --

// A saved copy of the deepest existing directory on path; *flExists := 1
// when the path itself exists. A path longer than the 4096-byte work buffer
// starts the walk at its longest leading part that ends at a slash.
char *FindExistingPath(const char *path, int *flExists) {
  char work[4096];
  if (path == nullptr) path = "";
  if (!CopyStr(work, sizeof work, path)) {
    char *slash = strrchr(work, '/');
    if (slash == nullptr) return SaveStr_(".");
    if (slash == work) slash[1] = '\0'; else *slash = '\0';
  }
  for (;;) {
    char parent[4096];
    char last[4096];
    splitPath(work, parent, sizeof parent, last, sizeof last);
    if (FindFile(parent, last)) break;
    if (strcmp(parent, work) == 0) break;   // nothing further up to try
    CopyStr(work, sizeof work, parent);
  }
  if (flExists != nullptr && strcmp(work, path) == 0) *flExists = 1;
  return SaveStr_(work);
}
