// The typed-record database: one database file held in memory behind a
// handle, answered from that image and written back whole through the
// update protocol of the record file.
//
// The image is the file byte for byte. Records start at 16 in a headered
// image (types 0 and 2, big-endian fields, key and value as two chains) and
// at 0 in a legacy image (type 1, host-order fields, one chain per payload).
// Before each operation the file is re-read when its identity (time, inode)
// changed; when it did not, that check costs one stat. A walk never looks
// past `length`: the first record that does not fit wholly cuts the image
// there. Keyed operations go through the lookup index (index.h), which every
// change of the image updates or drops.
#include "Dbm.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Handles.h"
#include "MemMgr.h"
#include "index.h"
#include "utils.h"

char *pMem = nullptr;

namespace {


constexpr int PATH_BUF = 4096;
constexpr int MAX_KEY_TEXT = DBT_KEY_BUF_SIZE - 1;

using dbtindex::load16;

void store16(char *p, uint16_t v, unsigned char swap) {
  if (swap) v = static_cast<uint16_t>((v >> 8) | (v << 8));
  memcpy(p, &v, 2);
}

int firstRecord(const DbTHandle *h) { return h->type == DBT_TYPE_LEGACY ? 0 : DBM_HEADER_SIZE; }

// The record count at offset 6 of a headered image: at most 9 digits within
// the image; anything else counts as 0.
long parseCount(const char *image, int length) {
  long count = 0;
  for (int i = 6; i < length && i < 15 && image[i] >= '0' && image[i] <= '9'; ++i)
    count = count * 10 + (image[i] - '0');
  return count;
}

// Decodes the key of the current walk entry into dst (size bytes) and
// returns it; legacy entries point into pMem already. Null when it does not
// fit. Leaves a headered image's cursor at the value's chain.
const char *entryKey(DbTHandle *h, const DbTWalk *e, char *dst, int size) {
  if (h->type == DBT_TYPE_LEGACY) return e->pKey;
  if (e->keyLen > size) return nullptr;
  DbmTGetData(h, dst, e->keyLen);
  return dst;
}

// The key of the current entry compared on its first m bytes (m <= K).
bool entryKeyStartsWith(DbTHandle *h, const DbTWalk *e, const char *key, int m) {
  if (h->type == DBT_TYPE_LEGACY) return memcmp(e->pKey, key, static_cast<size_t>(m)) == 0;
  char buf[DBT_KEY_BUF_SIZE];
  DbmDecodeChainPrefix(h->pImage + h->cursor, e->keyLen, buf, m);
  return memcmp(buf, key, static_cast<size_t>(m)) == 0;
}

void refresh(DbTHandle *h) {
  if (!(h->flags & DBT_NO_REFRESH)) DbTUpDate(h);
}

// Copies the value of the entry FindTRecord left behind into dst.
void copyValue(DbTHandle *h, const DbTWalk *e, void *dst, int n) {
  if (h->type == DBT_TYPE_LEGACY)
    memcpy(dst, e->pKey + e->keyLen, static_cast<size_t>(n));
  else
    DbmTGetData(h, dst, n);
}

int valueLen(const DbTWalk *e) { return e->recLen - e->keyLen - 2; }

// The key list of DbmTGetRecordList and DbmTGetRecordListS; prefixes null
// accepts every key.
char *recordList(DbTHandle *h, const char *prefixes, const char *sep, const char *close) {
  refresh(h);
  MemHolder keyBuf(GetMem(DBM_REC_BUF_SIZE));
  if (!keyBuf.get()) return nullptr;
  TextBuf text(TextBuf::OnFail::Null);
  bool seen = false;
  DbTWalk e;
  for (int step = 0; WalkDbTRecords(h, &e, step); ++step) {
    const char *key = entryKey(h, &e, keyBuf.str(), DBM_REC_BUF_SIZE);
    if (!key) continue;
    size_t n = strnlen(key, e.keyLen);
    if (prefixes) {
      char text1[DBT_KEY_BUF_SIZE];
      if (n >= sizeof text1) continue;
      memcpy(text1, key, n);
      text1[n] = 0;
      if (!TestKeyName(text1, prefixes)) continue;
    }
    seen = true;
    text.append(sep);
    text.append(key, n);
  }
  if (!seen) return nullptr;
  text.append(close);
  return text.take();
}

}  // namespace

// ------------------------------------------------------------- handles --

DbTHandle *DbTOpen(const char *name, int flags) {
  if (!name) return nullptr;
  auto *h = static_cast<DbTHandle *>(GetMem(sizeof(DbTHandle)));
  if (!h) return nullptr;
  size_t n = strlen(name) + 1;
  h->pName = static_cast<char *>(GetMem(n));
  if (!h->pName) {
    PutMem(h);
    return nullptr;
  }
  memcpy(h->pName, name, n);
  h->flags = flags;
  h->changed = 0;
  DbTSetDbType(h, DBT_TYPE_NONE);
  DbTUpDate(h);
  return h;
}

void DbTClose(DbTHandle *h) {
  DbmV4DriverPathHandling = 0;
  if (!h) return;
  dbtindex::drop(h);
  PutMem(h->pImage);
  PutMem(h->pName);
  PutMem(h);
}

void DbTSetDbType(DbTHandle *h, int type) {
  if (!h) return;
  dbtindex::drop(h);
  h->type = type;
  h->swap = type != DBT_TYPE_LEGACY && !DbmIsBigEndian();
}

int DbTPath(const char *name, char *out, size_t size) {
  if (!name || !out) return 0;
  int n;
  if (name[0] == '/')
    n = snprintf(out, size, strchr(name, '.') ? "%s" : "%s.tdb", name);
  else if (name[0] == '.')
    n = snprintf(out, size, "%s", name);
  else
    n = snprintf(out, size, "%s/db/%s.%s", pToolPath ? pToolPath : ".", name, "tdb");
  return n >= 0 && static_cast<size_t>(n) < size && n < DBM_PATH_SIZE;
}

int DbTWritable(DbTHandle *h) {
  if (!h) return 0;
  if (h->fault == DBM_FAULT_NONE) return 1;
  char path[PATH_BUF];
  DbmReportRefusal(DbTPath(h->pName, path, sizeof path) ? path : h->pName, h->fault);
  return 0;
}

namespace {

// Loads the regular file at path into a new block: the block (null for an
// empty file) with *fault 0, or null with the reason it cannot be read. A
// failure that may pass is tried DbmOpenAttempts times, one second apart.
char *loadFile(const char *path, struct stat *st, int *fault) {
  for (int attempt = 1;; ++attempt) {
    FdHandle fd(OpenCheckedFile(path, O_RDONLY, 0, 0));
    int err = errno;
    if (fd && fstat(fd.get(), st) == 0) {
      if (st->st_size == 0) {
        *fault = DBM_FAULT_NONE;
        return nullptr;
      }
      if (st->st_size > 0x7fffff00) {
        *fault = EFBIG;
        return nullptr;
      }
      char *content = DbmReadWhole(fd.get(), st->st_size);
      if (content) return content;
      err = errno ? errno : EIO;
    }
    *fault = err == EINVAL ? DBM_FAULT_NOT_REGULAR : err;
    if (err == ENOENT || err == EISDIR || err == EINVAL || attempt >= DbmOpenAttempts) return nullptr;
    sleep(1);
  }
}

// Walks a freshly loaded image once: a record that does not fit cuts it and
// marks it damaged, and so does a headered file without its whole header.
void checkImage(DbTHandle *h) {
  if (h->type == DBT_TYPE_HEADERED && h->length < DBM_HEADER_SIZE) h->fault = DBM_FAULT_DAMAGED;
  DbTWalk e;
  for (int step = 0; WalkDbTRecords(h, &e, step); ++step) {
  }
}

}  // namespace

// The image and the identity it is compared by come from the same open
// file, so a move of a new file in between cannot pair the new time with
// the old content. Writers never change a file in place, so one read of an
// open file is always one whole version of it. A file that exists but
// cannot be read, or is not a record file, leaves the handle with its fault
// set, so that it is never replaced by the image.
void DbTUpDate(DbTHandle *h) {
  if (!h || !h->pName) return;
  char path[PATH_BUF];
  if (!DbTPath(h->pName, path, sizeof path)) {
    h->fault = ENAMETOOLONG;
    return;
  }
  // An unchanged file costs this one stat. A name without any entry (not
  // even a dangling link) is a missing file.
  struct stat st;
  if (stat(path, &st) != 0) {
    if (lstat(path, &st) != 0) h->fault = DBM_FAULT_NONE;
    return;
  }
  if (h->pImage && h->mtime == st.st_mtime && h->mtimeNsec == st.st_mtim.tv_nsec &&
      h->inode == static_cast<unsigned long>(st.st_ino))
    return;
  dbtindex::drop(h);
  PutMem(h->pImage);
  h->pImage = nullptr;
  h->imageSize = 0;
  h->changed = 1;

  int fault = DBM_FAULT_NONE;
  char *content = loadFile(path, &st, &fault);
  h->fault = fault;
  if (!content) {
    h->length = 0;
    h->cursor = h->next = 0;
    h->count = 0;
    h->changed = 0;
    // The empty image stands for this version of the file: it is not
    // re-read (and changes kept under flag 4 are not dropped) until the
    // file changes.
    h->mtime = st.st_mtime;
    h->mtimeNsec = st.st_mtim.tv_nsec;
    h->inode = static_cast<unsigned long>(st.st_ino);
    DbTSetDbType(h, DBT_TYPE_NONE);
    h->pImage = static_cast<char *>(GetMem(DBM_HEADER_SIZE));
    if (!h->pImage) return;
    h->imageSize = DBM_HEADER_SIZE;
    UpdateHeader(h);
    h->length = DBM_HEADER_SIZE;
    return;
  }
  h->pImage = content;
  h->imageSize = static_cast<int>(st.st_size) + 1;
  h->length = static_cast<int>(st.st_size);
  h->mtime = st.st_mtime;
  h->mtimeNsec = st.st_mtim.tv_nsec;
  h->inode = static_cast<unsigned long>(st.st_ino);
  h->cursor = h->next = 0;
  if (h->length >= 5 && memcmp(content, "TTDBA", 5) == 0) {
    h->count = parseCount(content, h->length);
    DbTSetDbType(h, DBT_TYPE_HEADERED);
  } else {
    h->count = 0;
    DbTSetDbType(h, DBT_TYPE_LEGACY);
  }
  checkImage(h);
}

// ------------------------------------------------------- chain steps --

namespace {

// DbmTPutData for a caller that tells the index itself.
void putChain(DbTHandle *h, const void *src, int n) {
  if (!h || !h->pImage || !src || n < 1) return;
  if (h->cursor < 0 || h->cursor > h->imageSize - n) return;
  const auto *p = static_cast<const unsigned char *>(src);
  char *e = h->pImage + h->cursor;
  for (int i = 0; i < n - 1; ++i) e[i] = static_cast<char>(p[i] ^ p[i + 1]);
  e[n - 1] = static_cast<char>(p[n - 1]);
  h->cursor += n;
}

}  // namespace

// Bytes written anywhere may change any record: the index goes.
void DbmTPutData(DbTHandle *h, const void *src, int n) {
  if (h) dbtindex::drop(h);
  putChain(h, src, n);
}

// A run outside the image decodes to zeros; the cursor still advances.
void DbmTGetData(DbTHandle *h, void *dst, int n) {
  if (!h || !dst || n < 1) return;
  auto *p = static_cast<char *>(dst);
  if (!h->pImage || h->cursor < 0 || h->cursor > h->length - n) {
    memset(p, 0, static_cast<size_t>(n));
  } else {
    DbmDecodeChainCopy(h->pImage + h->cursor, p, n);
  }
  h->cursor += n;
}

// ---------------------------------------------------------------- walks --

DbTWalk *WalkDbTRecords(DbTHandle *h, DbTWalk *entry, int step) {
  if (!h || !h->pImage || !entry) return nullptr;
  if (step == 0) {
    h->next = firstRecord(h);
    if (h->type == DBT_TYPE_LEGACY && !pMem) pMem = static_cast<char *>(GetMem(DBT_SCRATCH_SIZE));
  }
  if (h->type == DBT_TYPE_LEGACY && !pMem) return nullptr;
  if (h->next < 0 || h->next >= h->length) return nullptr;
  int start = h->next;
  // The length field itself, the record, and (inside it) the key field and
  // the key must all lie within the image; otherwise cut before the record.
  auto cut = [h, start]() -> DbTWalk * {
    h->length = start;
    h->fault = DBM_FAULT_DAMAGED;
    return nullptr;
  };
  if (start + 2 > h->length) return cut();
  int len = load16(h->pImage + start, h->swap);
  if (start + 2 + len > h->length || len < 2) return cut();
  h->cursor = start + 2;
  int keyLen;
  if (h->type == DBT_TYPE_LEGACY) {
    DbmDecodeChainCopy(h->pImage + h->cursor, pMem, len);
    h->cursor += len;
    keyLen = load16(pMem, 0);
    if (keyLen + 2 > len) return cut();
    entry->pKey = pMem + 2;
  } else {
    keyLen = load16(h->pImage + h->cursor, h->swap);
    h->cursor += 2;
    if (keyLen + 2 > len) return cut();
    entry->pKey = nullptr;
  }
  entry->recLen = static_cast<uint16_t>(len);
  entry->keyLen = static_cast<uint16_t>(keyLen);
  h->next = start + 2 + len;
  return entry;
}

int FindTRecord(DbTHandle *h, const char *key, DbTWalk *entry) {
  if (!h || !h->pImage || !key || !*key || !entry) return 0;
  size_t keyLen = strlen(key);
  if (keyLen > MAX_KEY_TEXT) return 0;
  int found = dbtindex::find(h, key, keyLen, entry);
  if (found >= 0) return found;
  char buf[DBT_KEY_BUF_SIZE];
  for (int step = 0; WalkDbTRecords(h, entry, step); ++step) {
    if (entry->keyLen != keyLen + 1) continue;
    const char *k = entryKey(h, entry, buf, sizeof buf);
    if (k && memcmp(k, key, keyLen + 1) == 0) return 1;
  }
  return 0;
}

namespace {

// After a removal: the image block shrinks to the image, which changed.
void shrinkImage(DbTHandle *h) {
  if (h->length > 0) {
    char *q = static_cast<char *>(AdjustMem(h->pImage, static_cast<size_t>(h->length)));
    if (q) {
      h->pImage = q;
      h->imageSize = h->length;
    }
  }
  h->changed = 1;
}

// The exact removal when no key occurs twice: the one record the index
// names goes, and the index follows.
int purgeFirst(DbTHandle *h, const char *key) {
  DbTWalk e;
  size_t keyLen = strlen(key);
  if (dbtindex::find(h, key, keyLen, &e) != 1) return 0;
  const char *oldImage = h->pImage;
  int oldLength = h->length;
  int size = e.recLen + 2;
  int start = h->next - size;
  memmove(h->pImage + start, h->pImage + h->next, static_cast<size_t>(h->length - h->next));
  h->length -= size;
  h->next = start;
  if (h->count > 0) --h->count;
  shrinkImage(h);
  dbtindex::noteRemoved(h, key, keyLen, start, size, oldImage, oldLength);
  return 1;
}

}  // namespace

int PurgeTRecord(DbTHandle *h, const char *key, int prefixLen) {
  if (!h || !key || !*key) return 0;
  // Refreshed also when no image is loaded yet, so that a file another
  // process created meanwhile is not overwritten by this handle's first put.
  refresh(h);
  if (!h->pImage) return 0;
  int keyLen = static_cast<int>(strlen(key));
  // Compared on at most the key's own bytes and its NUL: a prefix that
  // reaches the NUL removes only records of exactly that key.
  int p = prefixLen > keyLen + 1 ? keyLen + 1 : prefixLen;
  if (p < 0 || (p == 0 && keyLen > MAX_KEY_TEXT) || p > DBT_KEY_BUF_SIZE) return 0;
  if (p == 0 && dbtindex::unique(h)) return purgeFirst(h, key);
  bool removed = false;
  DbTWalk e;
  for (int step = 0; WalkDbTRecords(h, &e, step); ++step) {
    bool match;
    if (p == 0)
      match = e.keyLen == keyLen + 1 && entryKeyStartsWith(h, &e, key, keyLen + 1);
    else
      match = e.keyLen >= p && entryKeyStartsWith(h, &e, key, p);
    if (!match) continue;
    int start = h->next - (e.recLen + 2);
    memmove(h->pImage + start, h->pImage + h->next, static_cast<size_t>(h->length - h->next));
    h->length -= e.recLen + 2;
    h->next = start;
    removed = true;
    if (h->count > 0) --h->count;
  }
  if (!removed) return 0;
  dbtindex::drop(h);
  shrinkImage(h);
  return 1;
}

// ------------------------------------------------------------- changes --

int DbmTArchiveDb(DbTHandle *h) {
  if (!h || !DbTWritable(h)) return 0;
  if (h->type != DBT_TYPE_LEGACY && h->pImage && h->length >= DBM_HEADER_SIZE) UpdateHeader(h);
  DbmEnsureDbDir();
  DbmUpdate update(h->pName);
  if (!update.file()) return 0;
  // An empty legacy image is written as an empty file: the database then
  // holds no record, which is the truth.
  size_t n = h->pImage ? static_cast<size_t>(h->length) : 0;
  const int ok = n == 0 || fwrite(h->pImage, 1, n, update.file()) == n;
  if (!ok) {
    fprintf(stderr, "ERROR: Can't write to %s", h->pName);
    return 0;
  }
  return update.commit(1);
}

int DbmTPutRecord(DbTHandle *h, const char *key, const void *value, int len) {
  if (!h || !key || !value || len <= 0) return 0;
  // An empty key is refused: no lookup, delete or prefix delete takes one,
  // so its record could never be read or removed and each put would add one.
  size_t keyLen = strlen(key);
  if (keyLen == 0 || keyLen > MAX_KEY_TEXT) return 0;
  int k = static_cast<int>(keyLen) + 1;
  if (k + len + 2 > DBM_MAX_PAYLOAD) return 0;
  if (h->type == DBT_TYPE_NONE) DbTSetDbType(h, DBT_TYPE_HEADERED);
  PurgeTRecord(h, key, 0);
  if (h->type == DBT_TYPE_NONE) DbTSetDbType(h, DBT_TYPE_HEADERED);
  int l = k + len + 2;
  const char *oldImage = h->pImage;
  int oldLength = h->length;
  int base = h->length;
  // Room for the header, written when archiving (also after a cut header).
  if (h->type != DBT_TYPE_LEGACY && base < DBM_HEADER_SIZE) base = DBM_HEADER_SIZE;
  int size = base + l + 2;
  if (!h->pImage || size > h->imageSize) {
    // The block at least doubles, so a run of puts copies the image a
    // bounded number of times.
    long grown = 2L * h->imageSize;
    int want = grown > size && grown <= 0x7fffff00 ? static_cast<int>(grown) : size;
    char *q = static_cast<char *>(AdjustMem(h->pImage, static_cast<size_t>(want)));
    if (!q && want > size) {
      want = size;
      q = static_cast<char *>(AdjustMem(h->pImage, static_cast<size_t>(size)));
    }
    if (!q) return 0;
    h->pImage = q;
    h->imageSize = want;
  }
  h->cursor = base;
  store16(h->pImage + h->cursor, static_cast<uint16_t>(l), h->swap);
  h->cursor += 2;
  char *run = h->pImage + h->cursor;
  if (h->type == DBT_TYPE_LEGACY) {
    store16(run, static_cast<uint16_t>(k), 0);
    memcpy(run + 2, key, static_cast<size_t>(k));
    memcpy(run + 2 + k, value, static_cast<size_t>(len));
    DbmEncodeChain(run, l);
    h->cursor += l;
  } else {
    store16(run, static_cast<uint16_t>(k), h->swap);
    h->cursor += 2;
    putChain(h, key, k);
    putChain(h, value, len);
    ++h->count;
  }
  h->length = base + l + 2;
  h->changed = 1;
  dbtindex::noteAdded(h, key, keyLen, base, oldImage, oldLength);
  if (h->flags & DBT_NO_WRITE) return 1;
  return DbmTArchiveDb(h);
}

int DbmTDeleteRecord(DbTHandle *h, const char *key) {
  if (!h || !key || !*key) return 0;
  int removed = PurgeTRecord(h, key, 0);
  if (removed && !(h->flags & DBT_NO_WRITE)) return DbmTArchiveDb(h);
  return removed;
}

// 1 also when nothing matched; 0 when the write-back failed.
int DbmTDeleteRecords(DbTHandle *h, const char *prefix) {
  if (!h || !prefix || !*prefix) return 0;
  int removed = PurgeTRecord(h, prefix, static_cast<int>(strlen(prefix)));
  if (removed && !(h->flags & DBT_NO_WRITE)) return DbmTArchiveDb(h);
  return 1;
}

// -------------------------------------------------------------- lookups --

int DbmTGetRecord(DbTHandle *h, const char *key, void *dst) {
  if (!h || !key || !dst) return 0;
  refresh(h);
  DbTWalk e;
  if (!FindTRecord(h, key, &e)) return 0;
  int n = valueLen(&e);
  copyValue(h, &e, dst, n);
  return n;
}

int DbmTGetRecordV(DbTHandle *h, const char *key, char **buf, int size) {
  if (!h || !key || !buf) return 0;
  refresh(h);
  DbTWalk e;
  if (!FindTRecord(h, key, &e)) return 0;
  int n = valueLen(&e);
  if (n > size || !*buf) {
    char *block = static_cast<char *>(GetMem(static_cast<size_t>(n > 0 ? n : 1)));
    if (!block) return 0;
    *buf = block;
  }
  copyValue(h, &e, *buf, n);
  return n;
}

int DbmTGetRecordSize(DbTHandle *h, const char *key) {
  if (!h || !key) return 0;
  refresh(h);
  DbTWalk e;
  return FindTRecord(h, key, &e) ? valueLen(&e) : 0;
}

int DbmTCopyRecord(DbTHandle *h, const char *srcKey, const char *dstKey) {
  if (!h || !srcKey || !dstKey) return 0;
  MemHolder buf(GetMem(DBM_REC_BUF_SIZE));
  if (!buf.get()) return 0;
  int n = DbmTGetRecord(h, srcKey, buf.get());
  return n ? DbmTPutRecord(h, dstKey, buf.get(), n) : 0;
}

DbmLink *DbmTGetDbLinkList(DbTHandle *h, const char *substr) {
  if (!h || !substr) return nullptr;
  refresh(h);
  DbmLinkList links;
  size_t subLen = strlen(substr);
  DbTWalk e;
  for (int step = 0; WalkDbTRecords(h, &e, step); ++step) {
    int payload = e.recLen - 2;
    char *copy = static_cast<char *>(GetMem(static_cast<size_t>(payload) + 1));
    if (!copy) continue;
    if (h->type == DBT_TYPE_LEGACY) {
      memcpy(copy, e.pKey, static_cast<size_t>(payload));
    } else {
      DbmTGetData(h, copy, e.keyLen);
      DbmTGetData(h, copy + e.keyLen, payload - e.keyLen);
    }
    size_t keyText = strnlen(copy, e.keyLen);
    if (subLen && !memmem(copy, keyText, substr, subLen)) {
      PutMem(copy);
      continue;
    }
    links.add(copy, static_cast<int>(e.keyLen), payload);
  }
  return links.take();
}

char *DbmTGetRecordList(DbTHandle *h, const char *sep, const char *close) {
  if (!h || !sep || !close) return nullptr;
  return recordList(h, nullptr, sep, close);
}

char *DbmTGetRecordListS(DbTHandle *h, const char *prefixes, const char *sep, const char *close) {
  if (!h || !prefixes || !*prefixes || !sep || !close) return nullptr;
  return recordList(h, prefixes, sep, close);
}

// Takes the prefixes with the re-entrant tokenizer, so a caller's scan of
// GetToken in progress is neither moved nor left pointing into the list.
int TestKeyName(const char *key, const char *prefixes) {
  if (!key || !prefixes) return 0;
  MemHolder token(GetMem(strlen(prefixes) + 1));
  if (!token.get()) return 0;
  int accepted = 0;
  const char *cursor = nullptr;
  for (const char *t = GetTokenD(prefixes, ",", &cursor, token.str()); t;
       t = GetTokenD(nullptr, ",", &cursor, token.str()))
    if (strncmp(key, t, strlen(t)) == 0) accepted = 1;
  return accepted;
}
