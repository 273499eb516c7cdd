// The record database: small keyed record files, and a typed layer that
// keeps one file in memory behind a handle.
//
// A database N lives in "<pToolPath>/db/N.tdb" (or at the path N itself in
// path mode). Every change writes a complete new file "N.tdb_new" beside the
// current one, flushes it to disk and then moves it over the current file, so
// a reader sees either the old file or the new one, never a partial file.
// Two formats are read: the legacy format (host-order records, no header)
// and the headered format ("TTDBAA", the record count, big-endian records).
// The plain operations write legacy files; the typed layer keeps the format
// of the file it loaded and writes headered files for new databases.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <sys/types.h>

// ------------------------------------------------------------ shared state --
// Base directory of the embedding tool, no trailing slash; the databases live
// in its subdirectory "db". Defined here, set by the embedding application.
extern char *pToolPath;
// Path mode: 1 when database names are full paths of the current file.
// Set by DbmSetV4DriverPathHandling, cleared by DbTClose.
extern unsigned char DbmV4DriverPathHandling;
// Record counter of DbmGetNextRecord: starts at 0 and is never reset.
extern int Ent2Get;
// The bytes 01 02 03 04 00: read as a 32-bit integer they give 0x01020304
// only on a big-endian machine.
extern const unsigned char TLBuf[5];
// Attempts, one second apart, to open or read an existing database file
// before it is taken as unreadable (10; tools and tests may lower it).
extern int DbmOpenAttempts;

// ------------------------------------------------------------- constants --
constexpr int DBM_REC_BUF_SIZE = 65536;     // the record buffer of GetData/PutData
constexpr int DBM_MAX_PAYLOAD = 0xFFF7;     // most payload bytes GetData reads (65,527)
constexpr int DBM_HEADER_SIZE = 16;         // header of the headered format
constexpr int DBT_KEY_BUF_SIZE = 4096;      // key buffer: keys up to 4,095 characters
constexpr int DBT_SCRATCH_SIZE = 65535;     // size of the scratch buffer pMem
// A legacy record whose length field is len, with left bytes after the
// field, is whole and readable: it holds at least its key field, no more
// than GetData reads, and lies within the bytes (left may be negative).
constexpr bool DbmRecordFits(size_t len, ptrdiff_t left) {
  return len - 2 <= static_cast<size_t>(DBM_MAX_PAYLOAD - 2) && static_cast<ptrdiff_t>(len) <= left;
}
constexpr int DBT_NO_REFRESH = 2;           // open flag: never re-read the file
constexpr int DBT_NO_WRITE = 4;             // open flag: never write after a change
constexpr int DBT_TYPE_NONE = 0;            // nothing loaded yet (written headered)
constexpr int DBT_TYPE_LEGACY = 1;          // legacy file, host-order records
constexpr int DBT_TYPE_HEADERED = 2;        // "TTDBAA" file, big-endian records
constexpr int DBM_PATH_SIZE = 256;          // a database file's path: at most 255 characters
// What keeps a database file from being rewritten (DbTHandle.fault); a
// positive fault is the errno of a file that could not be read.
constexpr int DBM_FAULT_NONE = 0;
constexpr int DBM_FAULT_DAMAGED = -1;       // records that do not fit, or not a record file
constexpr int DBM_FAULT_NOT_REGULAR = -2;   // a FIFO, a device or a socket at the path

// One node of a record link list (DbmGetDbLinkList, DbmTGetDbLinkList).
struct DbmLink {
  DbmLink *pNext;       // next node, null at the end
  char *pKey;           // allocated copy of key, NUL and value
  char *pValue;         // the value inside that copy (pKey + K)
  int32_t iValueLen;    // value length, L - K - 2
};

struct DbTIndex;

// The typed database handle: one database file held in memory.
struct DbTHandle {
  char *pName;              // private copy of the name given to DbTOpen
  unsigned char swap;       // 1: 16-bit record fields are swapped file <-> memory
  int flags;                // DBT_NO_REFRESH | DBT_NO_WRITE
  char *pImage;             // the whole file (header included); null if none loaded
  int length;               // valid bytes in the image
  time_t mtime;             // file time when loaded; 0 if not loaded from a file
  int cursor;               // image position of the next encode or decode step
  int next;                 // image position of the next record during a walk
  long count;               // number of records, kept for the header
  unsigned char changed;    // 1 whenever the image is loaded or modified
  int type;                 // DBT_TYPE_NONE, DBT_TYPE_LEGACY or DBT_TYPE_HEADERED
  // Added behind the classic fields: the allocated size of the image, and
  // the rest of the file's identity when it was loaded, so that a change
  // within the same second (or a file moved in place) is seen as well.
  int imageSize;
  long mtimeNsec;
  unsigned long inode;
  // Why the file at the handle's path must not be replaced by the image
  // (DBM_FAULT_*, or the errno of a failed read); set at every load.
  int fault;
  // The lookup index of the image (each key's first record), built at the
  // first keyed operation after a load; null when there is none.
  DbTIndex *pIndex;
};

// One step of a walk over a typed image (WalkDbTRecords).
struct DbTWalk {
  uint16_t recLen;      // L: bytes after the length field
  uint16_t keyLen;      // K: key length with its NUL
  char *pKey;           // legacy images only: the decoded key (in pMem)
};

// Scratch buffer of DBT_SCRATCH_SIZE bytes for legacy records, allocated on
// the first walk of a legacy image and kept; a walk entry's key points into
// it and is valid until the next step of any walk.
extern char *pMem;

// ------------------------------------------------------- record files --
void DbmSetV4DriverPathHandling();
// Opens N.ext ("tdb" or "tdb_new") with up to DbmOpenAttempts attempts one
// second apart, never blocked by a FIFO and only a regular file; null at
// once when the file does not exist.
FILE *OpenDataBase(const char *name, const char *ext, const char *mode, int errMode);
// Creates the new file "N.tdb_new" afresh and opens it for writing. It gets
// the mode, owner and group of the current file, or 0666 less the umask
// when there is none.
FILE *OpenNewDataBase(const char *name);
// Flushes the file N.fromExt to disk and moves it over N.toExt; 1 on success.
int RenameDataBase(const char *name, const char *fromExt, const char *toExt);
// One update of a record file: the new file "N.tdb_new" from
// OpenNewDataBase, then either committed or discarded. commit() closes it
// with every write checked and moves it over "N.tdb" (RenameDataBase:
// fsync, rename, directory fsync); a holder that is not committed closes
// the new file and leaves the current one as it was.
class DbmUpdate {
 public:
  explicit DbmUpdate(const char *name) : name_(name), out_(OpenNewDataBase(name)) {}
  ~DbmUpdate() { discard(); }
  DbmUpdate(const DbmUpdate &) = delete;
  DbmUpdate &operator=(const DbmUpdate &) = delete;

  // The new file to write into; null when it could not be made.
  FILE *file() const { return out_; }
  // Commits when result is set; "ERROR: Can't write to <name>" when the
  // close or the move fails. Returns result, or 0 after such a failure.
  int commit(int result);
  void discard() {
    if (out_ != nullptr) fclose(out_);
    out_ = nullptr;
  }

 private:
  const char *name_;
  FILE *out_;
};

// Encodes the record in buf (length field, payload) in place and writes it.
int PutData(FILE *out, char *buf);
// Reads one record into buf (DBM_REC_BUF_SIZE bytes) and decodes it; 0 at the
// end of the file and at a damaged record.
int GetData(FILE *in, char *buf);
// Copies the records that do not match; 0 after a write error and at a
// damaged record, which stops the copy.
int PurgeRecord(const char *name, FILE *in, FILE *out, const char *key, int prefixLen);
int DbmPutRecord(const char *name, const char *key, const void *value, int len);
void DbmCreate();
void DbmDelete();
int DbmDeleteRecord(const char *name, const char *key);
int DbmDeleteRecords(const char *name, const char *prefix);
// Copies the value into dst, which the caller sizes (DbmGetRecordSize).
int DbmGetRecord(const char *name, const char *key, void *dst);
int DbmGetNextRecord(const char *name, void *dst);
int DbmGetRecordSize(const char *name, const char *key);
// Separator and key of every record, then the closing text; the caller frees
// the result (PutMem); null for no record.
char *DbmGetRecordList(const char *name, const char *sep, const char *close);
void DumpDbm(const char *name);
// Databases in "./db": " a b" with a non-zero flag, "a,b" with 0; caller frees.
char *DbmGetDbList(int flag);
int DbmCopyRecord(const char *name, const char *srcKey, const char *dstKey);
// Records whose key contains the substring; release with DbmFreeDbLinkList.
DbmLink *DbmGetDbLinkList(const char *name, const char *substr);
void DbmFreeDbLinkList(DbmLink *first);
// Builds a link list in record order (DbmGetDbLinkList, DbmTGetDbLinkList): add()
// takes over copy (a block holding the key with its NUL, then the value;
// payload bytes) and links a node for it, or releases it when no node can be
// had. take() hands the list over; a list not taken is released.
class DbmLinkList {
 public:
  DbmLinkList() = default;
  ~DbmLinkList() { DbmFreeDbLinkList(first_); }
  DbmLinkList(const DbmLinkList &) = delete;
  DbmLinkList &operator=(const DbmLinkList &) = delete;
  void add(char *copy, int keyLen, int payload);
  DbmLink *take() {
    DbmLink *list = first_;
    first_ = last_ = nullptr;
    return list;
  }

 private:
  DbmLink *first_ = nullptr;
  DbmLink *last_ = nullptr;
};

// Writes the 16-byte header of the headered format into the handle's image.
void UpdateHeader(DbTHandle *h);

// ------------------------------------------------------ typed database --
// A handle even when no file exists; null for a null name or no memory.
DbTHandle *DbTOpen(const char *name, int flags);
// Frees the handle without writing; clears path mode (also for null).
void DbTClose(DbTHandle *h);
// Re-reads the file when its modification time differs from the image's.
void DbTUpDate(DbTHandle *h);
void DbTSetDbType(DbTHandle *h, int type);
void DbmTPutData(DbTHandle *h, const void *src, int n);
void DbmTGetData(DbTHandle *h, void *dst, int n);
// Step 0 starts a walk, any other step continues it; null at the end or at a
// damaged record (the image is then cut before it and marked damaged).
DbTWalk *WalkDbTRecords(DbTHandle *h, DbTWalk *entry, int step);
int FindTRecord(DbTHandle *h, const char *key, DbTWalk *entry);
int PurgeTRecord(DbTHandle *h, const char *key, int prefixLen);
int DbmTArchiveDb(DbTHandle *h);
int DbmTPutRecord(DbTHandle *h, const char *key, const void *value, int len);
int DbmTDeleteRecord(DbTHandle *h, const char *key);
int DbmTDeleteRecords(DbTHandle *h, const char *prefix);
// Copies the value into dst, which the caller sizes (DbmTGetRecordSize).
int DbmTGetRecord(DbTHandle *h, const char *key, void *dst);
// Copies the value into *buf of size bytes; a longer value gets a new block
// of exactly its length stored through buf, which the caller then owns.
int DbmTGetRecordV(DbTHandle *h, const char *key, char **buf, int size);
int DbmTGetRecordSize(DbTHandle *h, const char *key);
int DbmTCopyRecord(DbTHandle *h, const char *srcKey, const char *dstKey);
DbmLink *DbmTGetDbLinkList(DbTHandle *h, const char *substr);
char *DbmTGetRecordList(DbTHandle *h, const char *sep, const char *close);
char *DbmTGetRecordListS(DbTHandle *h, const char *prefixes, const char *sep, const char *close);
// 1 when the key begins with one of the ","-separated prefixes.
int TestKeyName(const char *key, const char *prefixes);

// ------------------------------- internals, public for the tool and tests --
// The XOR chain of a run of n bytes, in place.
void DbmEncodeChain(char *p, int n);
void DbmDecodeChain(char *p, int n);
// Decodes the n-byte chain at src into dst (which may be src).
void DbmDecodeChainCopy(const char *src, char *dst, int n);
// Decodes the first m (<= n) bytes of the n-byte chain at src into dst.
void DbmDecodeChainPrefix(const char *src, int n, char *dst, int m);
// Reads size bytes of fd into a new block (size + 1 bytes, a NUL behind);
// null when the file gives fewer bytes or no memory is left.
char *DbmReadWhole(int fd, off_t size);
// Bytes beyond the records that DbmScanRecords may read (and ignores).
constexpr size_t DBM_SCAN_SLACK = 64;
// The offset of key's first record among the legacy records in the size
// bytes at data, or -1 when none matches before the end or the first damaged
// record. The buffer must hold DBM_SCAN_SLACK readable bytes beyond size.
long DbmScanRecords(const char *data, size_t size, const char *key);
// The passes of DbmScanRecords: the portable one, and 32-byte lanes on
// processors that have them.
constexpr int DBM_SCAN_PORTABLE = 0;
constexpr int DBM_SCAN_AVX2 = 1;
// The widest pass this processor can take.
int DbmScanWidest();
// The pass DbmScanRecords takes: -1 for the widest this processor has (the
// default); a narrower one for tests.
extern int DbmScanPass;
// 1 on a big-endian machine (the TLBuf test).
int DbmIsBigEndian();
// Creates "./db" with mode 777 when the current directory has no entry "db".
void DbmEnsureDbDir();
// The text of a fault: "damaged record file", "not a regular file" or the
// system's error text.
const char *DbmFaultText(int fault);
// Reports on standard error that the file at path was not written, and why:
// "ERROR: <fault text>, not written: <path>".
void DbmReportRefusal(const char *path, int fault);
// The path a typed handle of this name is read from; 0 when it does not fit
// DBM_PATH_SIZE.
int DbTPath(const char *name, char *out, size_t size);
// 1 when the handle's image may replace its file; otherwise reports the
// refusal and gives 0.
int DbTWritable(DbTHandle *h);
