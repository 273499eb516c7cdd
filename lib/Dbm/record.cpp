// The record database file: names and paths, the XOR chain, the update
// protocol and the plain record operations, which open the file afresh for
// every call. Updates stream it one record at a time; lookups and lists read
// it whole with one read and walk it in memory (the key search in scan.cpp).
//
// Update protocol: a change never writes the current file. It creates a new
// file "N.tdb_new" exclusively (a stale one or a planted link is removed
// first, never followed), streams the surviving records into it, appends the
// new record, closes it and checks every write. Only then RenameDataBase
// fsyncs the new file, moves it over the current one with rename(2) and
// fsyncs the directory. A crash at any moment therefore leaves the current
// file either wholly old or wholly new. Readers stop at the first record that
// does not lie wholly within the bytes read.
#include "Dbm.h"

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Handles.h"
#include "MemMgr.h"
#include "utils.h"

char *pToolPath = nullptr;
unsigned char DbmV4DriverPathHandling = 0;
int Ent2Get = 0;
const unsigned char TLBuf[5] = {1, 2, 3, 4, 0};
int DbmOpenAttempts = 10;

namespace {


constexpr int PATH_BUF = 4096;

// The new file this process created last, so that the move takes exactly
// that file and not one another writer put in its place meanwhile.
struct NewFileId {
  char path[PATH_BUF];
  dev_t dev;
  ino_t ino;
  bool valid;
};
NewFileId lastNewFile;

// The path of database N with extension ext ("tdb" or "tdb_new"); 0 when the
// name is null or the path does not fit. The current file's path must fit
// DBM_PATH_SIZE, the buffers of the file queries that decide whether it
// exists: a longer one would look missing and be replaced.
int buildDbPath(char *out, size_t size, const char *name, const char *ext) {
  if (!name || !ext) return 0;
  int n;
  if (DbmV4DriverPathHandling)
    n = strcmp(ext, "tdb") == 0 ? snprintf(out, size, "%s", name)
                                : snprintf(out, size, "%s_new", name);
  else
    n = snprintf(out, size, "%s/db/%s.%s", pToolPath ? pToolPath : ".", name, ext);
  if (n < 0 || static_cast<size_t>(n) >= size) return 0;
  if (strcmp(ext, "tdb") == 0 && n >= DBM_PATH_SIZE) return 0;
  return 1;
}

// The database's current file (extension "tdb") opened with open's flags:
// -1 with *fault 0 when there is none, -1 with the fault when one exists but
// cannot be opened (after DbmOpenAttempts tries for a failure that may pass).
int openCurrentFd(const char *name, int flags, int errMode, int *fault) {
  char path[PATH_BUF];
  *fault = DBM_FAULT_NONE;
  if (!buildDbPath(path, sizeof path, name, "tdb")) {
    *fault = ENAMETOOLONG;
    return -1;
  }
  for (int attempt = 1;; ++attempt) {
    int fd = OpenCheckedFile(path, flags, 0666, 0);
    if (fd >= 0) return fd;
    int err = errno;
    // No entry at all is a missing database, not a failure to open one.
    struct stat entry;
    if (err == ENOENT && lstat(path, &entry) != 0) return -1;
    if (errMode == 1) fprintf(stderr, "ERROR: can't open file, %s\n", path);
    // Gone meanwhile: missing. Not a regular file: that will not pass.
    *fault = err == ENOENT ? DBM_FAULT_NONE : err == EINVAL ? DBM_FAULT_NOT_REGULAR : err;
    if (err == ENOENT || err == EISDIR || err == EINVAL || attempt >= DbmOpenAttempts) return -1;
    sleep(1);
  }
}

// openCurrentFd as a stream of the given fopen mode.
FILE *openCurrentFile(const char *name, const char *mode, int errMode, int *fault) {
  int flags = strchr(mode, '+') ? O_RDWR : mode[0] == 'r' ? O_RDONLY : O_WRONLY;
  if (mode[0] == 'w') flags |= O_TRUNC;
  if (mode[0] == 'a') flags |= O_APPEND;
  FdHandle fd(openCurrentFd(name, flags, errMode, fault));
  FILE *f = fd ? fdopen(fd.get(), mode) : nullptr;
  if (f) fd.release();
  return f;
}

// Opens the current file for an update: 1 with *cur set (null when there is
// none yet), or 0 after reporting why the file must not be replaced.
int openForUpdate(const char *name, FILE **cur) {
  int fault;
  *cur = openCurrentFile(name, "rb", 0, &fault);
  if (fault == DBM_FAULT_NONE) return 1;
  char path[PATH_BUF];
  DbmReportRefusal(buildDbPath(path, sizeof path, name, "tdb") ? path : name, fault);
  return 0;
}

// mkdir -p without a shell; the modes are those of mkdir (0777 less umask).
int makeDirs(const char *dir) {
  char buf[PATH_BUF];
  if (CopyStr(buf, sizeof buf, dir) == 0) return 0;
  for (char *p = buf + 1; *p; ++p) {
    if (*p != '/') continue;
    *p = 0;
    if (mkdir(buf, 0777) != 0 && errno != EEXIST) return 0;
    *p = '/';
  }
  if (mkdir(buf, 0777) != 0 && errno != EEXIST) return 0;
  struct stat st;
  return stat(buf, &st) == 0 && S_ISDIR(st.st_mode);
}

uint16_t loadHost16(const char *p) {
  uint16_t v;
  memcpy(&v, p, 2);
  return v;
}

void storeHost16(char *p, uint16_t v) { memcpy(p, &v, 2); }

// Record buffer accessors: L, then the payload K, key, value.
int recLen(const char *buf) { return loadHost16(buf); }
int recKeyLen(const char *buf) { return loadHost16(buf + 2); }
const char *recKey(const char *buf) { return buf + 4; }
int recValueLen(const char *buf) { return recLen(buf) - recKeyLen(buf) - 2; }
const char *recValue(const char *buf) { return buf + 4 + recKeyLen(buf); }

// Exact match: the record's key is the given key with its NUL.
bool keyMatches(const char *buf, const char *key) {
  size_t k = strlen(key) + 1;
  return static_cast<size_t>(recKeyLen(buf)) == k && memcmp(recKey(buf), key, k) == 0;
}

bool prefixMatches(const char *buf, const char *key, int p) {
  return recKeyLen(buf) >= p && memcmp(recKey(buf), key, p) == 0;
}

// Takes the status of the file it replaces over to a new file: owner and
// group where we may give them, then the mode.
void keepStatus(int fd, const char *current) {
  struct stat st;
  if (stat(current, &st) != 0 || !S_ISREG(st.st_mode)) return;
  TakeOverFileStatus(fd, st);
}

// Flushes and closes a stream written by an update; 1 when every byte got out.
int closeWritten(FILE *f) {
  int ok = fflush(f) == 0 && !ferror(f);
  if (fclose(f) != 0) ok = 0;
  return ok;
}

// Reads size bytes of fd into buf; false when the file gives fewer.
bool readInto(int fd, char *buf, off_t size) {
  off_t got = 0;
  while (got < size) {
    ssize_t r = read(fd, buf + got, static_cast<size_t>(size - got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += r;
  }
  return got == size;
}

void reportWriteError(const char *name) { fprintf(stderr, "ERROR: Can't write to %s", name); }

// True when the stream holds a headered file ("TTDBA" first). The plain
// operations read and write legacy records only: rewriting a headered file
// through them would read its header as a record and drop every record
// behind it, so they refuse it. The stream is left at its start.
bool isHeaderedFile(FILE *f) {
  char magic[5];
  bool headered = fread(magic, 1, sizeof magic, f) == sizeof magic && memcmp(magic, "TTDBA", 5) == 0;
  rewind(f);
  return headered;
}

enum class ReadResult { Record, End, Damaged };

// One record into buf, decoded: a record, the clean end of the file, or
// damage (a record cut short, a length beyond the buffer or below its key
// field, a key that does not lie within its record).
ReadResult readRecord(FILE *in, char *buf) {
  size_t got = fread(buf, 1, 2, in);
  if (got == 0 && !ferror(in)) return ReadResult::End;
  if (got != 2) return ReadResult::Damaged;
  int len = recLen(buf);
  if (len < 2 || len > DBM_MAX_PAYLOAD) return ReadResult::Damaged;
  if (fread(buf + 2, 1, static_cast<size_t>(len), in) != static_cast<size_t>(len)) return ReadResult::Damaged;
  DbmDecodeChain(buf + 2, len);
  return recKeyLen(buf) + 2 <= len ? ReadResult::Record : ReadResult::Damaged;
}

// Scratch record buffer from the memory manager, freed at the end of a scope.
struct RecordBuffer : MemHolder {
  RecordBuffer() : MemHolder(GetMem(DBM_REC_BUF_SIZE)) {}
  char *buf() const { return str(); }
};

// The buffer the plain lookups read a file into: one block of the memory
// manager kept for the life of the process, like the typed layer's scratch
// buffer, so that a lookup neither maps nor unmaps memory. It holds at
// least size bytes besides DBM_SCAN_SLACK, which the key search may read;
// *room is what it holds. Null when no larger block can be had.
char *fileBuffer(size_t size, size_t *room) {
  static char *kept = nullptr;
  static size_t keptSize = 0;
  if (size + DBM_SCAN_SLACK > keptSize) {
    size_t want = size + DBM_SCAN_SLACK > 2 * keptSize ? size + DBM_SCAN_SLACK : 2 * keptSize;
    auto *q = static_cast<char *>(AdjustMem(kept, want));
    if (!q) return nullptr;
    kept = q;
    keptSize = want;
  }
  *room = keptSize - DBM_SCAN_SLACK;
  return kept;
}

// The current file of a database, read whole with one read when opened and
// walked in memory: next() decodes the following record into buf() as
// GetData would, find() goes to a key's first record without decoding the
// records before it. Both stop at the first damaged record, as GetData does.
class RecordReader {
 public:
  // A read that does not fill the buffer has reached the end of the file
  // (a regular file, which writers never change in place); a full buffer
  // grows to the file's size and the read goes on.
  explicit RecordReader(const char *name) {
    // Non-blocking, which a regular file's reads ignore, spares the open
    // two fcntl calls; a read that answers EAGAIN all the same is retried
    // blocking.
    int fault;
    FdHandle fd(openCurrentFd(name, O_RDONLY | O_NONBLOCK, 0, &fault));
    if (!fd) return;
    size_t room = 0, got = 0;
    bool blocking = false;
    char *data = fileBuffer(DBM_REC_BUF_SIZE, &room);
    while (data) {
      if (got == room) {
        struct stat st;
        if (fstat(fd.get(), &st) != 0 || st.st_size > 0x7fffff00) return;
        size_t want = static_cast<size_t>(st.st_size) > got ? static_cast<size_t>(st.st_size) : 2 * got;
        if (!(data = fileBuffer(want, &room))) return;
      }
      ssize_t r = read(fd.get(), data + got, room - got);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0 && errno == EAGAIN && !blocking) {
        blocking = true;
        int fl = fcntl(fd.get(), F_GETFL);
        if (fl >= 0 && fcntl(fd.get(), F_SETFL, fl & ~O_NONBLOCK) == 0) continue;
      }
      if (r < 0) return;
      got += static_cast<size_t>(r);
      if (r == 0 || got < room) break;
    }
    data_ = data;
    size_ = got;
  }
  bool ok() const { return data_ != nullptr; }
  // The next record decoded into buf(); 0 at the end or at a damaged record.
  int next() {
    char *buf = this->buf();
    int len = nextLength();
    if (len < 0 || !buf) return 0;
    memcpy(buf, data_ + pos_, static_cast<size_t>(len) + 2);
    DbmDecodeChain(buf + 2, len);
    if (recKeyLen(buf) + 2 > len) return 0;
    pos_ += static_cast<size_t>(len) + 2;
    return 1;
  }
  // The record buffer, made at the first call; null without memory.
  char *buf() {
    if (!rb_.str()) rb_.reset(GetMem(DBM_REC_BUF_SIZE));
    return rb_.str();
  }
  // The value length of key's first record with its value decoded into dst
  // (when not null), or -1 when no record before the end or the first
  // damaged one matches.
  int find(const char *key, void *dst) {
    long at = DbmScanRecords(data_, size_, key);
    if (at < 0) return -1;
    const char *chain = data_ + at + 2;
    int len = loadHost16(data_ + at), k = static_cast<int>(strlen(key)) + 1;
    int n = len - k - 2;
    // The value is the chain's tail, which is the chain of the value.
    if (dst && n > 0) DbmDecodeChainCopy(chain + k + 2, static_cast<char *>(dst), n);
    return n;
  }

 private:
  // L of the record at pos_, or -1 at the end and when the record is
  // damaged (a length beyond the buffer or the file, or below its key field).
  int nextLength() const {
    if (size_ - pos_ < 2) return -1;
    int len = loadHost16(data_ + pos_);
    return DbmRecordFits(static_cast<size_t>(len), static_cast<ptrdiff_t>(size_ - pos_ - 2)) ? len : -1;
  }

  const char *data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
  MemHolder rb_;
};

}  // namespace

// ------------------------------------------------------------- the chain --

void DbmEncodeChain(char *p, int n) {
  for (int i = 0; i < n - 1; ++i) p[i] = static_cast<char>(p[i] ^ p[i + 1]);
}

void DbmDecodeChain(char *p, int n) { DbmDecodeChainCopy(p, p, n); }

// Eight bytes at a time from the end: within a word, three shifts give
// every byte the XOR of itself and the bytes after it in the word; the XOR
// of all later words is then added to each byte.
void DbmDecodeChainCopy(const char *src, char *dst, int n) {
  unsigned char acc = 0;
  int i = n;
  if constexpr (std::endian::native == std::endian::little) {
    for (; i >= 8; i -= 8) {
      uint64_t w;
      memcpy(&w, src + i - 8, 8);
      w ^= w >> 8;
      w ^= w >> 16;
      w ^= w >> 32;
      w ^= acc * 0x0101010101010101ull;
      memcpy(dst + i - 8, &w, 8);
      acc = static_cast<unsigned char>(w);
    }
  }
  for (--i; i >= 0; --i) {
    acc ^= static_cast<unsigned char>(src[i]);
    dst[i] = static_cast<char>(acc);
  }
}

// Byte i of the plain run is the XOR of chain bytes i .. n-1: the tail
// beyond m is folded eight bytes at a time, then the prefix is unrolled.
void DbmDecodeChainPrefix(const char *src, int n, char *dst, int m) {
  uint64_t wide = 0;
  int i = m;
  for (; i + 8 <= n; i += 8) {
    uint64_t v;
    memcpy(&v, src + i, 8);
    wide ^= v;
  }
  wide ^= wide >> 32;
  wide ^= wide >> 16;
  wide ^= wide >> 8;
  auto acc = static_cast<unsigned char>(wide);
  for (; i < n; ++i) acc ^= static_cast<unsigned char>(src[i]);
  for (int j = m - 1; j >= 0; --j) {
    acc ^= static_cast<unsigned char>(src[j]);
    dst[j] = static_cast<char>(acc);
  }
}

char *DbmReadWhole(int fd, off_t size) {
  auto *block = static_cast<char *>(GetMem(static_cast<size_t>(size) + 1));
  if (block && !readInto(fd, block, size)) {
    PutMem(block);
    return nullptr;
  }
  return block;
}

int DbmIsBigEndian() {
  uint32_t v;
  memcpy(&v, TLBuf, 4);
  return v == 0x01020304u;
}

void DbmEnsureDbDir() {
  if (FindFile(".", "db")) return;
  if (mkdir("db", 0777) == 0) chmod("db", 0777);
}

const char *DbmFaultText(int fault) {
  if (fault == DBM_FAULT_DAMAGED) return "damaged record file";
  if (fault == DBM_FAULT_NOT_REGULAR) return "not a regular file";
  return strerror(fault);
}

void DbmReportRefusal(const char *path, int fault) {
  fprintf(stderr, "ERROR: %s, not written: %s\n", DbmFaultText(fault), path);
}

// ------------------------------------------------------ files and paths --

void DbmSetV4DriverPathHandling() { DbmV4DriverPathHandling = 1; }

FILE *OpenDataBase(const char *name, const char *ext, const char *mode, int errMode) {
  if (!mode || !ext) return nullptr;
  if (strcmp(ext, "tdb") == 0) {
    int fault;
    return openCurrentFile(name, mode, errMode, &fault);
  }
  char path[PATH_BUF];
  if (!buildDbPath(path, sizeof path, name, ext) || !FindFile(nullptr, path)) return nullptr;
  return OpenFile(nullptr, path, mode, errMode);
}

// The new file is always a fresh file of this process: whatever stands at
// its name (a stale file of a crashed update, a link planted by another
// user) is unlinked, never opened, and the file is created with O_EXCL.
FILE *OpenNewDataBase(const char *name) {
  char path[PATH_BUF], current[PATH_BUF], dir[PATH_BUF];
  if (!buildDbPath(path, sizeof path, name, "tdb_new") || !buildDbPath(current, sizeof current, name, "tdb")) {
    DbmReportRefusal(name ? name : "", ENAMETOOLONG);
    return nullptr;
  }
  lastNewFile.valid = false;
  PathDir(path, dir, sizeof dir);
  makeDirs(dir);
  int fd = -1;
  for (int attempt = 1; attempt <= DbmOpenAttempts; ++attempt) {
    fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) break;
    if (errno == EEXIST && unlink(path) == 0) continue;
    fprintf(stderr, "ERROR: can't open file, %s\n", path);
    if (attempt < DbmOpenAttempts) sleep(1);
  }
  if (fd < 0) return nullptr;
  keepStatus(fd, current);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    close(fd);
    unlink(path);
    return nullptr;
  }
  FILE *f = fdopen(fd, "wb");
  if (!f) {
    close(fd);
    unlink(path);
    return nullptr;
  }
  CopyStr(lastNewFile.path, sizeof lastNewFile.path, path);
  lastNewFile.dev = st.st_dev;
  lastNewFile.ino = st.st_ino;
  lastNewFile.valid = true;
  return f;
}

int RenameDataBase(const char *name, const char *fromExt, const char *toExt) {
  char from[PATH_BUF], to[PATH_BUF], dir[PATH_BUF];
  if (!buildDbPath(from, sizeof from, name, fromExt) || !buildDbPath(to, sizeof to, name, toExt))
    return 0;
  FdHandle src(open(from, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st;
  if (src.get() < 0 || fstat(src.get(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  // Another writer replaced our new file: its move is not ours to make.
  if (lastNewFile.valid && strcmp(lastNewFile.path, from) == 0 &&
      (lastNewFile.dev != st.st_dev || lastNewFile.ino != st.st_ino))
    return 0;
  if (fsync(src.get()) != 0) return 0;
  if (rename(from, to) != 0) return 0;
  lastNewFile.valid = false;
  PathDir(to, dir, sizeof dir);
  FdHandle d(open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (d) fsync(d.get());
  return 1;
}

int DbmUpdate::commit(int result) {
  FILE *out = out_;
  out_ = nullptr;
  if (out != nullptr && !closeWritten(out) && result) {
    reportWriteError(name_);
    result = 0;
  }
  if (result && !RenameDataBase(name_, "tdb_new", "tdb")) {
    reportWriteError(name_);
    result = 0;
  }
  return result;
}

// --------------------------------------------------------- record I/O --

int PutData(FILE *out, char *buf) {
  if (!out || !buf) return 0;
  int len = recLen(buf);
  if (len > DBM_MAX_PAYLOAD) return 0;
  DbmEncodeChain(buf + 2, len);
  size_t total = static_cast<size_t>(len) + 2;
  return fwrite(buf, 1, total, out) == total;
}

int GetData(FILE *in, char *buf) {
  if (!in || !buf) return 0;
  return readRecord(in, buf) == ReadResult::Record;
}

int PurgeRecord(const char *name, FILE *in, FILE *out, const char *key, int prefixLen) {
  if (!in || !out || !key) return 0;
  RecordBuffer rb;
  char *buf = rb.buf();
  if (!buf) return 0;
  // The given key is compared on at most its own bytes and its NUL; a
  // prefix reaching its NUL drops only records of exactly that key.
  int p = prefixLen;
  int keyLen = static_cast<int>(strlen(key));
  if (p > keyLen + 1) p = keyLen + 1;
  ReadResult r;
  while ((r = readRecord(in, buf)) == ReadResult::Record) {
    bool drop = prefixLen > 0 ? prefixMatches(buf, key, p) : keyMatches(buf, key);
    if (drop) continue;
    if (!PutData(out, buf)) {
      reportWriteError(name ? name : "");
      return 0;
    }
  }
  // Damage or a read error is not the end of the file: the rest must not
  // be lost by a rewrite without it.
  if (r == ReadResult::Damaged || ferror(in)) {
    char path[PATH_BUF];
    DbmReportRefusal(name && buildDbPath(path, sizeof path, name, "tdb") ? path : (name ? name : ""),
                     ferror(in) ? EIO : DBM_FAULT_DAMAGED);
    return 0;
  }
  return 1;
}

// ---------------------------------------------------------- operations --

void DbmCreate() {}
void DbmDelete() {}

int DbmPutRecord(const char *name, const char *key, const void *value, int len) {
  if (!name || !key || !value || len <= 0) return 0;
  size_t k = strlen(key) + 1;
  if (k + static_cast<size_t>(len) + 2 > DBM_MAX_PAYLOAD) return 0;
  DbmEnsureDbDir();
  FILE *cur = nullptr;
  if (!openForUpdate(name, &cur)) return 0;
  FileHandle curCloser(cur);
  if (cur && isHeaderedFile(cur)) {
    reportWriteError(name);
    return 0;
  }
  DbmUpdate update(name);
  FILE *out = update.file();
  if (!out) return 0;
  int result = 1;
  if (cur) result = PurgeRecord(name, cur, out, key, 0);
  if (result) {
    RecordBuffer rb;
    char *buf = rb.buf();
    int l = static_cast<int>(k) + len + 2;
    if (buf) {
      storeHost16(buf, static_cast<uint16_t>(l));
      storeHost16(buf + 2, static_cast<uint16_t>(k));
      memcpy(buf + 4, key, k);
      memcpy(buf + 4 + k, value, static_cast<size_t>(len));
    }
    if (!buf || !PutData(out, buf)) {
      reportWriteError(name);
      result = 0;
    }
  }
  return update.commit(result);
}

namespace {

// Deletes the records matching key (exact when prefixLen is 0); -1 when a
// file cannot be opened, else 1 when the purge and the move succeeded.
int deleteMatching(const char *name, const char *key, int prefixLen) {
  FILE *cur = nullptr;
  if (!openForUpdate(name, &cur)) return 0;
  if (!cur) return -1;
  FileHandle curCloser(cur);
  if (isHeaderedFile(cur)) {
    reportWriteError(name);
    return 0;
  }
  DbmUpdate update(name);
  if (!update.file()) return -1;
  return update.commit(PurgeRecord(name, cur, update.file(), key, prefixLen));
}

}  // namespace

int DbmDeleteRecord(const char *name, const char *key) {
  if (!name || !key) return 0;
  return deleteMatching(name, key, 0) == 1;
}

// Returns 1 also when nothing matched; 0 when the rewrite failed.
int DbmDeleteRecords(const char *name, const char *prefix) {
  if (!name || !prefix || !*prefix) return 0;
  return deleteMatching(name, prefix, static_cast<int>(strlen(prefix))) == 1;
}

int DbmGetRecord(const char *name, const char *key, void *dst) {
  if (!name || !key || !dst) return 0;
  RecordReader reader(name);
  int n = reader.ok() ? reader.find(key, dst) : -1;
  return n > 0 ? n : 0;
}

int DbmGetNextRecord(const char *name, void *dst) {
  if (!name || !dst) return 0;
  RecordReader reader(name);
  if (!reader.ok()) return 0;
  char *buf = reader.buf();
  for (int i = 0; reader.next(); ++i) {
    if (i < Ent2Get) continue;
    int n = recValueLen(buf);
    memcpy(dst, recValue(buf), static_cast<size_t>(n));
    ++Ent2Get;
    return n;
  }
  return 0;
}

int DbmGetRecordSize(const char *name, const char *key) {
  if (!name || !key) return 0;
  RecordReader reader(name);
  int n = reader.ok() ? reader.find(key, nullptr) : -1;
  return n > 0 ? n : 0;
}

char *DbmGetRecordList(const char *name, const char *sep, const char *close) {
  if (!name) return nullptr;
  RecordReader reader(name);
  if (!reader.ok()) return nullptr;
  char *buf = reader.buf();
  TextBuf text(TextBuf::OnFail::Null);
  bool seen = false;
  while (reader.next()) {
    seen = true;
    if (sep) text.append(sep);
    text.append(recKey(buf), strnlen(recKey(buf), static_cast<size_t>(recKeyLen(buf))));
  }
  if (!seen) return nullptr;
  if (close) text.append(close);
  return text.take();
}

void DumpDbm(const char *name) {
  if (!name) return;
  char path[PATH_BUF];
  if (snprintf(path, sizeof path, "%s.db", name) >= static_cast<int>(sizeof path)) return;
  // Only a regular file, and a FIFO does not block the dump.
  FdHandle fd(OpenCheckedFile(path, O_RDONLY, 0, 0));
  FILE *in = fd ? fdopen(fd.get(), "rb") : nullptr;
  if (!in) {
    fprintf(stderr, "ERROR: can't open file, %s\n", path);
    return;
  }
  fd.release();
  FileHandle closer(in);
  RecordBuffer rb;
  char *buf = rb.buf();
  if (!buf) return;
  while (GetData(in, buf)) {
    int len = recLen(buf);
    printf("%i %i ==>{", len, recKeyLen(buf));
    for (int i = 0; i < len - 2; ++i) {
      unsigned char c = static_cast<unsigned char>(buf[4 + i]);
      putchar(c >= 0x20 && c < 0x7f ? c : '.');
    }
    printf("}\n");
  }
}

char *DbmGetDbList(int flag) {
  MemHolder listing(GetDirFileList("db"));
  if (!listing.get()) return nullptr;
  size_t size = strlen(listing.str()) + 1;
  MemHolder token(GetMem(size));
  if (!token.get()) return nullptr;
  TextBuf text(TextBuf::OnFail::Null);
  bool any = false;
  const char *cursor = nullptr;
  for (const char *t = GetTokenD(listing.str(), " ", &cursor, token.str()); t;
       t = GetTokenD(nullptr, " ", &cursor, token.str())) {
    const char *dot = strchr(t, '.');
    if (!dot || strcmp(dot, ".tdb") != 0) continue;
    if (flag)
      text.append(" ");
    else if (any)
      text.append(",");
    text.append(t, static_cast<size_t>(dot - t));
    any = true;
  }
  if (!any) text.append(flag ? " " : "");
  return text.take();
}

int DbmCopyRecord(const char *name, const char *srcKey, const char *dstKey) {
  if (!name || !srcKey || !dstKey) return 0;
  RecordBuffer rb;
  char *buf = rb.buf();
  if (!buf) return 0;
  int n = DbmGetRecord(name, srcKey, buf);
  return n ? DbmPutRecord(name, dstKey, buf, n) : 0;
}

DbmLink *DbmGetDbLinkList(const char *name, const char *substr) {
  if (!name || !substr) return nullptr;
  RecordReader reader(name);
  if (!reader.ok()) return nullptr;
  char *buf = reader.buf();
  DbmLinkList links;
  size_t subLen = strlen(substr);
  while (reader.next()) {
    int k = recKeyLen(buf);
    size_t keyText = strnlen(recKey(buf), static_cast<size_t>(k));
    if (subLen && !memmem(recKey(buf), keyText, substr, subLen)) continue;
    int payload = recLen(buf) - 2;
    char *copy = static_cast<char *>(GetMem(static_cast<size_t>(payload) + 1));
    if (!copy) continue;
    memcpy(copy, recKey(buf), static_cast<size_t>(payload));
    links.add(copy, k, payload);
  }
  return links.take();
}

void DbmLinkList::add(char *copy, int keyLen, int payload) {
  auto *node = static_cast<DbmLink *>(GetMem(sizeof(DbmLink)));
  if (!node) {
    PutMem(copy);
    return;
  }
  node->pKey = copy;
  node->pValue = copy + keyLen;
  node->iValueLen = payload - keyLen;
  if (last_)
    last_->pNext = node;
  else
    first_ = node;
  last_ = node;
}

void DbmFreeDbLinkList(DbmLink *first) {
  while (first) {
    DbmLink *next = first->pNext;
    PutMem(first->pKey);
    PutMem(first);
    first = next;
  }
}

void UpdateHeader(DbTHandle *h) {
  if (!h || !h->pImage || h->imageSize < DBM_HEADER_SIZE) return;
  char count[32], header[DBM_HEADER_SIZE + 1];
  snprintf(count, sizeof count, "%li", h->count);
  count[9] = 0;
  int n = snprintf(header, sizeof header, "TTDBAA%s", count);
  memcpy(h->pImage, header, static_cast<size_t>(n) + 1);
  for (int i = n + 1; i < DBM_HEADER_SIZE; ++i) h->pImage[i] = static_cast<char>(rand() & 0xff);
}
