// Line-oriented editing of text files: opening files with a uniform error
// policy, the comment-filtering reader GetLine over the shared stream pIn,
// and the in-place edit family, which copies a file line by line into
// "<base>.<ext>out" and moves that over the original through the shell.
//
// The edited file keeps the owner, group and mode of the file it replaces;
// in a directory that others may write, only a regular file of our own with
// a single name is edited (a link planted there is not followed). The names
// reach the shell single-quoted, so a name can never run another command; a
// name that does not fit its 128-byte buffer is refused, not cut.
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include "Handles.h"
#include "utils.h"

FILE *pIn = nullptr;
FILE *pOut = nullptr;
char Line[LINE_SIZE];
char *pLine = Line;
int LineCnt = 0;
long InPos = 0;
unsigned char flInputFilterState = 1;

namespace {

constexpr int NAME_SIZE = 128;     // the editor's name buffers
constexpr int PIECE_SIZE = 512;    // lines are read in pieces of 510 characters
constexpr int PIECE_READ = PIECE_SIZE - 1;

char Fn[NAME_SIZE];                // file of the open edit (OpenIOFiles)
char FnOut[NAME_SIZE];             // its temporary output

// A directory that other users may write into (such as /tmp) is where a
// link or a foreign file can be planted under the name we are about to write.
bool dirWritableByOthers(const char *path) {
  char dir[4096];
  if (!PathDir(path, dir, sizeof dir)) return false;
  struct stat st;
  return stat(dir, &st) == 0 && (st.st_mode & S_IWOTH) != 0;
}

// Opens path for writing, appending or updating with the rule for files in
// shared directories (OpenCheckedFile): no link followed, a regular file of
// our own with a single name, truncated only after those checks.
FILE *openGuardedForWrite(const char *path, const char *mode) {
  int flags = (strchr(mode, '+') != nullptr) ? O_RDWR : O_WRONLY;
  if (mode[0] != 'r') flags |= O_CREAT;
  if (mode[0] == 'a') flags |= O_APPEND;
  if (mode[0] == 'w') flags |= O_TRUNC;
  FdHandle fd(OpenCheckedFile(path, flags, 0666, 1));
  if (!fd) return nullptr;
  FILE *f = fdopen(fd.get(), mode);
  if (f != nullptr) fd.release();
  return f;
}

// Opens the file to edit for reading: never blocked by a FIFO, only a
// regular file, and in a directory that others may write only a file of
// our own with a single name. Its status goes to st. Ends the process as
// OpenFile's error mode 2 does when it cannot be used.
FILE *openEditInput(const char *path, struct stat *st) {
  FdHandle fd(OpenCheckedFile(path, O_RDONLY, 0, dirWritableByOthers(path) ? 1 : 0));
  FILE *f = nullptr;
  if (fd && fstat(fd.get(), st) == 0) f = fdopen(fd.get(), "r");
  if (f == nullptr) SysError("can't open file, %s", path);
  fd.release();
  return f;
}

// Closes a stream that was written; false when any write or the close
// failed (a full disk, a size limit), so the text is incomplete.
bool closeWritten(FILE *out) {
  bool ok = ferror(out) == 0;
  if (fclose(out) != 0) ok = false;
  return ok;
}

// Runs "rm -f <file>" and "mv <tmp> <file>" with quoted names in cmd;
// returns the shell status of the move, -1 when a line does not fit.
int moveOver(const char *tmp, const char *file, char *cmd, size_t size) {
  char qFile[4 * NAME_SIZE + 3];
  char qTmp[4 * NAME_SIZE + 3];
  if (!QuoteShellWord(qFile, sizeof qFile, file) || !QuoteShellWord(qTmp, sizeof qTmp, tmp)) return -1;
  int n = snprintf(cmd, size, "rm -f %s", qFile);
  if (n < 0 || static_cast<size_t>(n) >= size) return -1;
  (void)!system(cmd);
  n = snprintf(cmd, size, "mv %s %s", qTmp, qFile);
  if (n < 0 || static_cast<size_t>(n) >= size) return -1;
  return system(cmd);
}

// Forms "<base>.<ext>" (the base alone for an empty extension) into path and
// "<base>.<ext>out" into tmp; 0 when a name would not fit its buffer.
int formEditNames(const char *base, const char *ext, char *path, char *tmp) {
  if (base == nullptr) return 0;
  if (ext == nullptr) ext = "";
  int n = (*ext != '\0') ? snprintf(path, NAME_SIZE, "%s.%s", base, ext)
                         : snprintf(path, NAME_SIZE, "%s", base);
  if (n < 0 || n >= NAME_SIZE) return 0;
  n = snprintf(tmp, NAME_SIZE, "%s.%sout", base, ext);
  return n >= 0 && n < NAME_SIZE;
}

// The common frame of the edit family: each piece of the input (at most 510
// characters) goes through edit, which writes what the file shall hold.
// Returns the shell status of the move; -1 when a name was refused or the
// copy could not be written completely, and the file is then left as it was.
template <typename Edit>
int editFile(const char *base, const char *ext, Edit edit) {
  char path[NAME_SIZE];
  char tmp[NAME_SIZE];
  if (!formEditNames(base, ext, path, tmp)) return -1;
  {
    struct stat st;
    FileHandle in(openEditInput(path, &st));
    FileHandle out(OpenFile(nullptr, tmp, "wt", 2));
    TakeOverFileStatus(fileno(out.get()), st);
    char piece[PIECE_SIZE];
    while (fgets(piece, PIECE_READ, in.get()) != nullptr) edit(piece, out.get());
    bool readFailed = ferror(in.get()) != 0;
    if (!closeWritten(out.release()) || readFailed) {
      // An incomplete copy never replaces the file.
      unlink(tmp);
      return -1;
    }
  }
  char cmd[2 * (4 * NAME_SIZE + 3) + 16];
  return moveOver(tmp, path, cmd, sizeof cmd);
}

// The first occurrence of the pattern by a plain substring search, so an
// empty pattern is found at the start of every line; null for none and for
// a null pattern.
const char *findPattern(const char *text, const char *pattern) {
  if (pattern == nullptr) return nullptr;
  return strstr(text, pattern);
}

// Writes text without the pattern found at hit.
void writeWithout(FILE *out, const char *text, const char *hit, const char *pattern) {
  fwrite(text, 1, static_cast<size_t>(hit - text), out);
  fputs(hit + strlen(pattern), out);
}

// Reads a character code as "%i" does (decimal, 0x hexadecimal, 0 octal).
// Codes -128..255 name a byte (a negative code as a signed char would);
// 0 when the text holds no code.
int readCharCode(const char *text, int *byte) {
  int code = 0;
  if (text == nullptr || sscanf(text, "%i", &code) != 1) return 0;
  if (code < -128 || code > 255) return 0;
  *byte = code & 0xFF;
  return 1;
}

// The insertion of FileInsert and FileSearchInsert. The markers "%s<digits>"
// (start value, removed from the caller's text) and "%#<digits>" (numbered
// insertion from that threshold on) are taken from insert before reading.
struct Inserter {
  char *text;
  long counter = 0;
  long threshold = 0;
  const char *mark = nullptr;      // "%#" in text
  const char *afterMark = nullptr; // text behind the marker's digits

  explicit Inserter(char *insert) : text(insert) {
    if (char *s = strstr(text, "%s"); s != nullptr && isdigit(static_cast<unsigned char>(s[2]))) {
      char *end = nullptr;
      counter = strtol(s + 2, &end, 10);
      memmove(s, end, strlen(end) + 1);
    }
    if (char *h = strstr(text, "%#"); h != nullptr && isdigit(static_cast<unsigned char>(h[2]))) {
      char *end = nullptr;
      threshold = strtol(h + 2, &end, 10);
      mark = h;
      afterMark = end;
    }
  }

  void writeBefore(FILE *out) {
    if (mark == nullptr) {
      fputs(text, out);
    } else if (counter >= threshold) {
      fprintf(out, "%.*s%05li%s", static_cast<int>(mark - text), text, counter - threshold, afterMark);
    }
    ++counter;
  }
};

// The failure of an open by the error mode: 2 ends the process, 1 reports
// on standard error, 0 is silent.
FILE *failOpen(const char *path, int errMode) {
  if (errMode == 2) SysError("can't open file, %s", path);
  if (errMode == 1) fprintf(stderr, "ERROR: can't open file, %s\n", path);
  return nullptr;
}

}  // namespace

// Closes stream (when given) and opens path; errMode 2 ends the process
// through SysError, 1 reports on standard error, 0 is silent. Writing into
// a directory that others may write (such as /tmp) neither follows a link
// nor takes over a file that is not our own.
FILE *OpenFile(FILE *stream, const char *path, const char *mode, int errMode) {
  if (stream != nullptr) fclose(stream);
  FILE *f = nullptr;
  if (path != nullptr && mode != nullptr) {
    bool writes = mode[0] == 'w' || mode[0] == 'a' || strchr(mode, '+') != nullptr;
    f = (writes && dirWritableByOthers(path)) ? openGuardedForWrite(path, mode) : fopen(path, mode);
  }
  if (f != nullptr) return f;
  return failOpen(path != nullptr ? path : "", errMode);
}

FILE *OpenFileF(FILE *stream, const char *mode, int errMode, const char *fmt, ...) {
  char path[512];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(path, sizeof path, fmt, ap);
  va_end(ap);
  if (n < 0 || static_cast<size_t>(n) >= sizeof path) {
    // A path that does not fit is not cut into another one.
    if (stream != nullptr) fclose(stream);
    errno = ENAMETOOLONG;
    return failOpen(path, errMode);
  }
  return OpenFile(stream, path, mode, errMode);
}

// A descriptor from open (created files get 0666 less the umask); on failure
// the message goes to standard output without a newline.
int OpenRawFile(const char *path, int flags) {
  int fd = open(path, flags, 0666);
  if (fd < 0) {
    printf("ERROR: can't open file, %s", path != nullptr ? path : "");
    fflush(stdout);
  }
  return fd;
}

// The next line of pIn in Line; returns the number of physical lines read
// (LineCnt), 0 at the end. With flInputFilterState set, "//" comments and
// "/* */" comments are removed; text in front of a block comment that
// closes on a later line is kept and joined with the text behind it.
int GetLine() {
  LineCnt = 0;
  pLine = Line;
  if (pIn == nullptr) return 0;
  InPos = ftell(pIn);
  bool inComment = false;
  char pending[PIECE_SIZE];  // text in front of an open block comment
  pending[0] = '\0';
  for (;;) {
    if (fgets(Line, PIECE_READ, pIn) == nullptr) return 0;
    ++LineCnt;
    size_t len;
    if (flInputFilterState == 0) {
      len = strlen(Line);
    } else {
      char *text = Line;
      if (inComment) {
        char *close = strstr(Line, "*/");
        if (close == nullptr) {
          InPos = ftell(pIn);
          continue;
        }
        inComment = false;
        text = close + 2;
        if (pending[0] != '\0') {
          size_t plen = strlen(pending);
          memmove(Line + plen, text, strlen(text) + 1);
          memcpy(Line, pending, plen);
          text = Line;
          pending[0] = '\0';
        }
      }
      if (char *slashes = strstr(text, "//"); slashes != nullptr) *slashes = '\0';
      while (isspace(static_cast<unsigned char>(*text))) ++text;
      if (*text != '\0') {
        if (char *open = strstr(text, "/*"); open != nullptr) {
          if (char *close = strstr(open + 2, "*/"); close != nullptr) {
            memmove(open, close + 2, strlen(close + 2) + 1);
          } else {
            *open = '\0';
            CopyStr(pending, sizeof pending, text);
            inComment = true;
            InPos = ftell(pIn);
            continue;
          }
        }
      }
      len = strcspn(text, "\r\n");
      memmove(Line, text, len);
      Line[len] = '\0';
    }
    if (len < PIECE_SIZE) memset(Line + len, 0, PIECE_SIZE - len);
    return LineCnt;
  }
}

int GetLineN(int n) {
  int result = 0;
  for (int i = 0; i < n; ++i) result = GetLine();
  return result;
}

int GetLinePos(long offset) {
  if (pIn == nullptr || fseek(pIn, offset, SEEK_SET) != 0) return 0;
  return GetLine();
}

char *fgetsp(char *buf, int size, FILE *stream, long offset) {
  if (stream == nullptr || fseek(stream, offset, SEEK_SET) != 0) return nullptr;
  return fgets(buf, size, stream);
}

// Begins an open edit of "<base>.<ext>": the file is read through pIn, what
// it shall hold is written to the returned stream (pOut, "<file>out"), and
// ReplaceInputFile ends the edit. Null when a name does not fit.
FILE *OpenIOFiles(const char *base, const char *ext) {
  if (base == nullptr) return nullptr;
  int n = (ext != nullptr && *ext != '\0') ? snprintf(Fn, sizeof Fn, "%s.%s", base, ext)
                                            : snprintf(Fn, sizeof Fn, "%s", base);
  int m = (n >= 0 && n < NAME_SIZE) ? snprintf(FnOut, sizeof FnOut, "%sout", Fn) : -1;
  if (m < 0 || m >= NAME_SIZE) {
    Fn[0] = FnOut[0] = '\0';
    return nullptr;
  }
  pIn = OpenFile(pIn, Fn, "rt", 2);
  pOut = OpenFile(pOut, FnOut, "wt", 2);
  return pOut;
}

// Ends the open edit: closes both streams and moves the output over the
// file; returns the shell status of the move, -1 without an open edit or
// when the output could not be written completely (the file is then kept).
int ReplaceInputFile() {
  if (pIn != nullptr) fclose(pIn);
  bool written = pOut != nullptr && closeWritten(pOut);
  pIn = pOut = nullptr;
  if (Fn[0] == '\0') return -1;
  if (!written) {
    // An incomplete output never replaces the file.
    unlink(FnOut);
    Fn[0] = FnOut[0] = '\0';
    return -1;
  }
  int status = moveOver(FnOut, Fn, Line, sizeof Line);
  Fn[0] = FnOut[0] = '\0';
  return status;
}

int FileChange(const char *base, const char *ext, const char *pattern, const char *repl) {
  if (repl == nullptr) repl = "";
  return editFile(base, ext, [&](const char *line, FILE *out) {
    if (const char *hit = findPattern(line, pattern); hit != nullptr) {
      fprintf(out, "%.*s%s%s", static_cast<int>(hit - line), line, repl, hit + strlen(pattern));
    } else {
      fputs(line, out);
    }
  });
}

// Codes are compared as bytes, so codes from 128 to 255 (or their negative
// signed-char forms) match too.
int FileChangeChar(const char *base, const char *ext, const char *chr, const char *repl) {
  int target = -1;
  if (!readCharCode(chr, &target)) target = -1;
  char bytes[127];
  size_t count = 0;
  for (const char *p = repl; p != nullptr && *p != '\0' && count < sizeof bytes;) {
    int byte = 0;
    if (readCharCode(p, &byte)) bytes[count++] = static_cast<char>(byte);
    p = strchr(p, ',');
    if (p != nullptr) ++p;
  }
  return editFile(base, ext, [&](const char *line, FILE *out) {
    for (const char *p = line; *p != '\0'; ++p) {
      if (static_cast<unsigned char>(*p) == target) {
        fwrite(bytes, 1, count, out);
      } else {
        fputc(*p, out);
      }
    }
  });
}

int FileDel(const char *base, const char *ext, int keep, const char *pattern) {
  int seen = 0;
  return editFile(base, ext, [&](const char *line, FILE *out) {
    const char *hit = findPattern(line, pattern);
    if (hit != nullptr && seen++ >= keep) {
      writeWithout(out, line, hit, pattern);
    } else {
      fputs(line, out);
    }
  });
}

int FileDelFormat(const char *base, const char *ext, const char *mode, const char *pattern) {
  char how = (mode != nullptr) ? mode[0] : '\0';
  if (how != '\0' && how != 'a' && how != 'b' && how != 'c' && how != 'l') return 1;
  int target = -1;
  if (how == 'c' && !readCharCode(pattern, &target)) target = -1;
  int status = editFile(base, ext, [&](const char *line, FILE *out) {
    if (how == 'c') {
      for (const char *p = line; *p != '\0'; ++p)
        if (static_cast<unsigned char>(*p) != target) fputc(*p, out);
      return;
    }
    const char *hit = findPattern(line, pattern);
    if (hit == nullptr) {
      fputs(line, out);
    } else if (how == 'a') {
      fwrite(line, 1, static_cast<size_t>(hit - line) + strlen(pattern), out);
      fputc('\n', out);
    } else if (how == 'b') {
      fputs(hit, out);
    } else if (how == '\0') {
      writeWithout(out, line, hit, pattern);
    }  // 'l': the line is dropped
  });
  return status == -1 ? -1 : 0;
}

int FileInsert(const char *base, const char *ext, char *insert) {
  if (insert == nullptr) return -1;
  Inserter ins(insert);
  return editFile(base, ext, [&](const char *line, FILE *out) {
    ins.writeBefore(out);
    fputs(line, out);
  });
}

int FileSearchInsert(const char *base, const char *ext, char *insert, const char *pattern) {
  if (insert == nullptr) return -1;
  Inserter ins(insert);
  return editFile(base, ext, [&](const char *line, FILE *out) {
    if (findPattern(line, pattern) != nullptr) ins.writeBefore(out);
    fputs(line, out);
  });
}

int FileDelLine(const char *base, const char *ext, int keep, const char *pattern) {
  int seen = 0;
  return editFile(base, ext, [&](const char *line, FILE *out) {
    if (findPattern(line, pattern) == nullptr || seen++ < keep) fputs(line, out);
  });
}

// Each deleted start line owes the deletion of the next line holding the end
// pattern; the debt is counted up to 255 and stays there rather than wrapping.
int FileDelLinePair(const char *base, const char *ext, int keep, const char *start, const char *end) {
  int seen = 0;
  unsigned char owed = 0;
  return editFile(base, ext, [&](const char *line, FILE *out) {
    if (findPattern(line, start) != nullptr) {
      if (seen++ < keep) {
        fputs(line, out);
      } else if (owed < 255) {
        ++owed;
      }
    } else if (owed > 0 && findPattern(line, end) != nullptr) {
      --owed;
    } else {
      fputs(line, out);
    }
  });
}
