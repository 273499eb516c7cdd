// Fuzz target of the record database: arbitrary bytes as a record file, read
// by the plain record reader (as a stream and as a database file) and loaded
// into a typed image that is walked, searched, listed, purged and extended.
// Every reader must stay within the bytes it was given.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "Dbm.h"
#include "MemMgr.h"
#include "utils.h"

namespace {

std::string workDir;
std::string dbFile;

void removeWorkDir() {
  std::error_code ec;
  std::filesystem::remove_all(workDir, ec);
}

void writeInput(const uint8_t *data, size_t size) {
  int fd = open(dbFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) abort();
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) abort();
    done += static_cast<size_t>(n);
  }
  close(fd);
}

// The plain reader over a memory stream of the bytes.
void readPlainStream(const uint8_t *data, size_t size) {
  if (size == 0) return;
  FILE *f = fmemopen(const_cast<uint8_t *>(data), size, "rb");
  if (!f) return;
  MemHolder buf(GetMem(DBM_REC_BUF_SIZE));
  while (buf.get() && GetData(f, buf.str())) {
    uint16_t l, k;
    memcpy(&l, buf.str(), 2);
    memcpy(&k, buf.str() + 2, 2);
    if (k + 2 > l) abort();  // GetData must have refused it
  }
  fclose(f);
}

void readPlainFile(const std::string &key) {
  MemHolder list(DbmGetRecordList("f", ",", ";"));
  DbmFreeDbLinkList(DbmGetDbLinkList("f", "a"));
  int n = DbmGetRecordSize("f", key.c_str());
  MemHolder value(GetMem(DBM_REC_BUF_SIZE));
  if (value.get() && DbmGetRecord("f", key.c_str(), value.get()) != n) abort();
  Ent2Get = 0;
  if (value.get()) DbmGetNextRecord("f", value.get());
}

void readTyped(const std::string &key) {
  DbTHandle *h = DbTOpen("f", DBT_NO_WRITE);
  if (!h) return;
  DbTWalk e;
  std::string firstKey;
  for (int step = 0; WalkDbTRecords(h, &e, step); ++step) {
    if (e.keyLen + 2 > e.recLen || h->next > h->length) abort();
    if (step == 0 && e.keyLen > 1 && e.keyLen < DBT_KEY_BUF_SIZE) {
      char kb[DBT_KEY_BUF_SIZE];
      if (h->type == DBT_TYPE_LEGACY)
        memcpy(kb, e.pKey, e.keyLen);
      else
        DbmTGetData(h, kb, e.keyLen);
      firstKey.assign(kb, strnlen(kb, e.keyLen));
    }
  }
  // A sound image is the whole file: no damage is cut away unnoticed.
  if (h->fault == DBM_FAULT_NONE && h->type != DBT_TYPE_NONE &&
      h->length != static_cast<int>(std::filesystem::file_size(dbFile)))
    abort();
  MemHolder all(DbmTGetRecordList(h, ",", ";"));
  MemHolder some(DbmTGetRecordListS(h, "a,k", " ", "."));
  DbmFreeDbLinkList(DbmTGetDbLinkList(h, ""));
  for (const std::string &k : {key, firstKey}) {
    if (k.empty()) continue;
    char small[16];
    char *p = small;
    int n = DbmTGetRecordV(h, k.c_str(), &p, sizeof small);
    if (n != DbmTGetRecordSize(h, k.c_str())) abort();
    if (p != small) PutMem(p);
  }
  PurgeTRecord(h, "k", 1);
  DbmTPutRecord(h, "key", "value", 5);
  char v[8];
  if (DbmTGetRecord(h, "key", v) != 5 || memcmp(v, "value", 5) != 0) abort();
  if (!firstKey.empty()) DbmTDeleteRecord(h, firstKey.c_str());
  DbTClose(h);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  char tmpl[] = "/tmp/tarnu-dbm-fuzz-XXXXXX";
  if (!mkdtemp(tmpl)) abort();
  workDir = tmpl;
  std::filesystem::create_directory(workDir + "/db");
  dbFile = workDir + "/db/f.tdb";
  pToolPath = workDir.data();
  static std::string logName = "tarnu-fuzz-" + std::to_string(getpid());
  my_name = logName.data();
  atexit(removeWorkDir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  readPlainStream(data, size);
  writeInput(data, size);
  // A key from the input's first bytes, so that lookups sometimes match.
  std::string key(reinterpret_cast<const char *>(data), strnlen(reinterpret_cast<const char *>(data), size < 8 ? size : 8));
  readPlainFile(key);
  readTyped(key);
  return 0;
}
