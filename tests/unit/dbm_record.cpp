// Tests of the record database file: the legacy format to the byte, the
// plain operations, damaged files and the safety of the new file.
#include "dbm_fixture.h"

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <set>
#include <vector>

namespace {

using RecordTest = DbmTest;

// The values of every record in file order, read with the plain reader.
std::vector<std::pair<std::string, std::string>> records(const std::string &path) {
  std::vector<std::pair<std::string, std::string>> out;
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return out;
  MemHolder buf(GetMem(DBM_REC_BUF_SIZE));
  char *b = buf.str();
  while (GetData(f, b)) {
    uint16_t l, k;
    memcpy(&l, b, 2);
    memcpy(&k, b + 2, 2);
    out.emplace_back(std::string(b + 4, k - 1), std::string(b + 4 + k, l - k - 2));
  }
  fclose(f);
  return out;
}

TEST(DbmChain, EncodesNeighbours) {
  struct Case {
    std::string plain, coded;
  } cases[] = {
      {"a", "a"},
      {"abc", std::string("\x03\x01\x63", 3)},
      {std::string("\x02\x00k\x00v", 5), std::string("\x02\x6b\x6b\x76\x76", 5)},
      {std::string("\xff\x00", 2), std::string("\xff\x00", 2)},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.plain);
    std::string s = c.plain;
    DbmEncodeChain(s.data(), static_cast<int>(s.size()));
    EXPECT_EQ(s, c.coded);
    DbmDecodeChain(s.data(), static_cast<int>(s.size()));
    EXPECT_EQ(s, c.plain);
  }
}

TEST_F(RecordTest, LegacyRecordIsSevenBytes) {
  if (DbmIsBigEndian()) GTEST_SKIP() << "little-endian layout";
  ASSERT_EQ(DbmPutRecord("que", "k", "v", 1), 1);
  EXPECT_EQ(readFile(dbPath("que")), B({0x05, 0x00, 0x02, 0x6B, 0x6B, 0x76, 0x76}));
  EXPECT_FALSE(exists(dbPath("que", "tdb_new")));
  struct stat st;
  ASSERT_EQ(stat(dbPath("que").c_str(), &st), 0);
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);
}

TEST_F(RecordTest, PutTwiceKeepsOneRecordAtTheEnd) {
  ASSERT_EQ(DbmPutRecord("q", "k", "one", 3), 1);
  ASSERT_EQ(DbmPutRecord("q", "j", "two", 3), 1);
  ASSERT_EQ(DbmPutRecord("q", "k", "three", 5), 1);
  using R = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(records(dbPath("q")), (R{{"j", "two"}, {"k", "three"}}));
  EXPECT_EQ(readFile(dbPath("q")), legacyRecord("j", "two") + legacyRecord("k", "three"));
}

TEST_F(RecordTest, RefusedPutsLeaveTheFile) {
  ASSERT_EQ(DbmPutRecord("q", "k", "v", 1), 1);
  std::string before = readFile(dbPath("q"));
  std::string big(DBM_MAX_PAYLOAD, 'x');
  struct Case {
    const char *name, *key;
    const void *value;
    int len;
  } cases[] = {
      {"q", "k", "w", 0},                                   // empty value
      {"q", "k", nullptr, 1},                               // no value
      {"q", nullptr, "w", 1},                               // no key
      {nullptr, "k", "w", 1},                               // no name
      {"q", "k", big.data(), DBM_MAX_PAYLOAD - 3},          // K + value + 2 = 65,528
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.len);
    EXPECT_EQ(DbmPutRecord(c.name, c.key, c.value, c.len), 0);
    EXPECT_TRUE(readFile(dbPath("q")) == before);
  }
  // The largest record GetData can read is accepted and read back whole.
  ASSERT_EQ(DbmPutRecord("q", "k", big.data(), DBM_MAX_PAYLOAD - 4), 1);
  EXPECT_EQ(DbmGetRecordSize("q", "k"), DBM_MAX_PAYLOAD - 4);
}

TEST_F(RecordTest, LookupsMatchWholeKeys) {
  ASSERT_EQ(DbmPutRecord("q", "ab", "AB", 2), 1);
  ASSERT_EQ(DbmPutRecord("q", "abc", "ABC", 3), 1);
  ASSERT_EQ(DbmPutRecord("q", "empty", "\0", 1), 1);
  struct Case {
    const char *key;
    std::string value;
  } cases[] = {{"ab", "AB"}, {"abc", "ABC"}, {"a", ""}, {"abcd", ""}, {"AB", ""},
               {"empty", std::string(1, '\0')}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.key);
    char out[16] = {};
    EXPECT_EQ(DbmGetRecord("q", c.key, out), static_cast<int>(c.value.size()));
    EXPECT_EQ(std::string(out, c.value.size()), c.value);
    EXPECT_EQ(DbmGetRecordSize("q", c.key), static_cast<int>(c.value.size()));
  }
  char out[4];
  EXPECT_EQ(DbmGetRecord("missing", "ab", out), 0);
  EXPECT_EQ(DbmGetRecord("q", "ab", nullptr), 0);
}

TEST_F(RecordTest, DeletesExactAndByPrefix) {
  for (const char *k : {"pr", "apr", "print", "x", "prx"}) ASSERT_EQ(DbmPutRecord("q", k, k, 1), 1);
  std::string before = readFile(dbPath("q"));
  EXPECT_EQ(DbmDeleteRecord("q", "absent"), 1);
  EXPECT_EQ(readFile(dbPath("q")), before);
  EXPECT_EQ(DbmDeleteRecord("q", "p"), 1);  // exact: "pr" and "print" stay
  EXPECT_EQ(readFile(dbPath("q")), before);
  EXPECT_EQ(DbmDeleteRecords("q", "pr"), 1);
  MemHolder list(DbmGetRecordList("q", ",", ";"));
  ASSERT_NE(list.get(), nullptr);
  EXPECT_STREQ(list.str(), ",apr,x;");
  EXPECT_EQ(DbmDeleteRecord("q", "x"), 1);
  MemHolder list2(DbmGetRecordList("q", " ", ""));
  EXPECT_STREQ(list2.str(), " apr");
  EXPECT_EQ(DbmDeleteRecords("q", ""), 0);
  EXPECT_EQ(DbmDeleteRecord("missing", "x"), 0);
  EXPECT_EQ(DbmDeleteRecords("missing", "x"), 0);
}

TEST_F(RecordTest, GetNextRecordWalksOnce) {
  Ent2Get = 0;
  for (const char *k : {"a", "b", "c"}) ASSERT_EQ(DbmPutRecord("q", k, k, 1), 1);
  std::string seen;
  char out[4];
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(DbmGetNextRecord("q", out), 1);
    seen.push_back(out[0]);
  }
  EXPECT_EQ(seen, "abc");
  EXPECT_EQ(DbmGetNextRecord("q", out), 0);
  EXPECT_EQ(Ent2Get, 3);
  // The counter stays where it stopped: a record added later is the next one.
  ASSERT_EQ(DbmPutRecord("q", "d", "d", 1), 1);
  EXPECT_EQ(DbmGetNextRecord("q", out), 1);
  EXPECT_EQ(out[0], 'd');
  EXPECT_EQ(DbmGetNextRecord("q", out), 0);
  EXPECT_EQ(Ent2Get, 4);
}

TEST_F(RecordTest, RecordListAndLinkList) {
  EXPECT_EQ(DbmGetRecordList("q", ",", ";"), nullptr);
  writeFile(dbPath("q"), "");
  EXPECT_EQ(DbmGetRecordList("q", ",", ";"), nullptr);
  ASSERT_EQ(DbmPutRecord("q", "alpha", "1", 1), 1);
  ASSERT_EQ(DbmPutRecord("q", "beta", std::string("2\0" "2", 3).data(), 3), 1);
  ASSERT_EQ(DbmPutRecord("q", "alphabet", "33", 2), 1);
  MemHolder list(DbmGetRecordList("q", "<", ">"));
  EXPECT_STREQ(list.str(), "<alpha<beta<alphabet>");

  DbmLink *first = DbmGetDbLinkList("q", "pha");
  std::vector<std::pair<std::string, std::string>> got;
  for (DbmLink *n = first; n; n = n->pNext) {
    got.emplace_back(n->pKey, std::string(n->pValue, n->iValueLen));
    EXPECT_EQ(n->pValue, n->pKey + strlen(n->pKey) + 1);
  }
  DbmFreeDbLinkList(first);
  using R = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(got, (R{{"alpha", "1"}, {"alphabet", "33"}}));
  DbmLink *all = DbmGetDbLinkList("q", "");
  ASSERT_NE(all, nullptr);
  EXPECT_EQ(std::string(all->pNext->pValue, all->pNext->iValueLen), std::string("2\0" "2", 3));
  DbmFreeDbLinkList(all);
  EXPECT_EQ(DbmGetDbLinkList("q", "zzz"), nullptr);
  EXPECT_EQ(DbmGetDbLinkList("missing", ""), nullptr);
}

TEST_F(RecordTest, CopyRecord) {
  ASSERT_EQ(DbmPutRecord("q", "src", "value", 5), 1);
  EXPECT_EQ(DbmCopyRecord("q", "src", "dst"), 1);
  char out[8] = {};
  EXPECT_EQ(DbmGetRecord("q", "dst", out), 5);
  EXPECT_STREQ(out, "value");
  EXPECT_EQ(DbmCopyRecord("q", "absent", "dst2"), 0);
  EXPECT_EQ(DbmGetRecordSize("q", "dst2"), 0);
  EXPECT_EQ(DbmCopyRecord("q", nullptr, "dst2"), 0);
}

TEST_F(RecordTest, DbListKeepsOnlyTdb) {
  writeFile(dir_ + "/db/a.tdb", "");
  writeFile(dir_ + "/db/b.tdb_new", "");
  writeFile(dir_ + "/db/c.x.tdb", "");
  MemHolder spaced(DbmGetDbList(1));
  EXPECT_STREQ(spaced.str(), " a");
  MemHolder commas(DbmGetDbList(0));
  EXPECT_STREQ(commas.str(), "a");
  writeFile(dir_ + "/db/que.tdb", "");
  MemHolder two(DbmGetDbList(0));
  std::string s = two.str();
  EXPECT_TRUE(s == "a,que" || s == "que,a") << s;
  // ".tdb" is the file of the database with the empty name: it is listed.
  std::filesystem::remove(dir_ + "/db/que.tdb");
  writeFile(dir_ + "/db/.tdb", "");
  MemHolder withEmpty1(DbmGetDbList(1)), withEmpty0(DbmGetDbList(0));
  std::string e1 = withEmpty1.str(), e0 = withEmpty0.str();
  EXPECT_TRUE(e1 == " a " || e1 == "  a") << e1;
  EXPECT_TRUE(e0 == "a," || e0 == ",a") << e0;
  std::filesystem::remove_all(dir_ + "/db");
  EXPECT_EQ(DbmGetDbList(1), nullptr);
  std::filesystem::create_directory(dir_ + "/db");
  MemHolder none1(DbmGetDbList(1)), none0(DbmGetDbList(0));
  EXPECT_STREQ(none1.str(), " ");
  EXPECT_STREQ(none0.str(), "");
}

// PurgeRecord compares the first p bytes of the keys; a p that reaches the
// given key's NUL matches that key alone, however large p is.
TEST_F(RecordTest, PurgeRecordPrefixLengths) {
  for (const char *k : {"ab", "abc", "b"}) ASSERT_EQ(DbmPutRecord("q", k, k, 1), 1);
  struct Case {
    int prefixLen;
    std::string kept;
  } cases[] = {
      {0, ",abc,b"}, {1, ",b"}, {2, ",b"}, {3, ",abc,b"}, {9, ",abc,b"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.prefixLen);
    FILE *in = fopen(dbPath("q").c_str(), "rb");
    FILE *out = fopen(dbPath("p").c_str(), "wb");
    ASSERT_TRUE(in && out);
    EXPECT_EQ(PurgeRecord("q", in, out, "ab", c.prefixLen), 1);
    fclose(in);
    fclose(out);
    MemHolder list(DbmGetRecordList("p", ",", ""));
    ASSERT_NE(list.get(), nullptr);
    EXPECT_EQ(std::string(list.str()), c.kept);
  }
}

TEST_F(RecordTest, DbListLeavesTheTokenScan) {
  writeFile(dir_ + "/db/a.tdb", "");
  const char *text = "one two three";
  ASSERT_STREQ(GetToken(text, " "), "one");
  MemHolder list(DbmGetDbList(1));
  EXPECT_STREQ(GetToken(nullptr, " "), "two");
}

TEST_F(RecordTest, DumpShowsRecords) {
  writeFile(dir_ + "/que.db", legacyRecord("k", std::string("v\001", 2)) + legacyRecord("key", "val"));
  testing::internal::CaptureStdout();
  DumpDbm("que");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "6 2 ==>{k.v.}\n9 4 ==>{key.val}\n");
}

// Each damage: the records before it are read, the reader stops there and
// never decodes past the bytes of the file.
TEST_F(RecordTest, DamagedFilesStopTheScan) {
  std::string good = legacyRecord("a", "1");
  std::string later = legacyRecord("z", "9");
  struct Case {
    const char *what;
    std::string tail;
  } cases[] = {
      {"length beyond the file", B({0x40, 0x00}) + chain(std::string("\x02\x00q\x00", 4))},
      {"length beyond 65527", B({0xF8, 0xFF}) + std::string(70000, 'x')},
      {"key beyond its record", B({0x05, 0x00}) + chain(std::string("\x09\x00q\x00v", 5)) + later},
      {"length below the key field", B({0x01, 0x00, 0x00}) + later},
      {"half a length field", B({0x05})},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(dbPath("d"), good + c.tail);
    char out[8] = {};
    EXPECT_EQ(DbmGetRecord("d", "a", out), 1);
    EXPECT_EQ(DbmGetRecord("d", "z", out), 0);
    EXPECT_EQ(DbmGetRecord("d", "q", out), 0);
    MemHolder list(DbmGetRecordList("d", ",", ""));
    ASSERT_NE(list.get(), nullptr);
    EXPECT_STREQ(list.str(), ",a");
    DbmFreeDbLinkList(DbmGetDbLinkList("d", ""));
  }
  // A key without its NUL is read within its K bytes and matches nothing.
  writeFile(dbPath("d"), good + B({0x04, 0x00}) + chain(std::string("\x02\x00qq", 4)) + later);
  MemHolder list(DbmGetRecordList("d", ",", ""));
  EXPECT_STREQ(list.str(), ",a,qq,z");
  char out[4];
  EXPECT_EQ(DbmGetRecord("d", "qq", out), 0);
  EXPECT_EQ(DbmGetRecord("d", "z", out), 1);
}

TEST_F(RecordTest, ForeignByteOrderLegacyIsReadSafely) {
  // A legacy file of a big-endian machine: its fields read as huge lengths.
  std::string payload = std::string("\x00\x02k\x00v", 5);
  writeFile(dbPath("be"), B({0x00, 0x05}) + chain(payload));
  char out[4];
  EXPECT_EQ(DbmGetRecord("be", "k", out), 0);
  EXPECT_EQ(DbmGetRecordList("be", ",", ""), nullptr);
}

// A damaged (also a file that is no record file at all) or non-regular
// current file is never replaced, by the plain or the typed layer: each
// change is refused with the reason and the path, the file unchanged. A
// FIFO does not block the reader.
TEST_F(RecordTest, DamagedOrUnusableFilesAreNotRewritten) {
  std::string damaged;
  for (int i = 0; i < 300; ++i) damaged += legacyRecord("k" + std::to_string(1000 + i), "v");
  damaged[11 * 150 + 1] = static_cast<char>(0xFF);  // record 150's length beyond any record
  struct Case {
    std::string bytes;  // empty: a FIFO, or a directory
    std::string why;
    int keys;           // what the typed layer still reads
  } cases[] = {
      {damaged, "damaged record file", 150},          {textBytes(), "damaged record file", 0},
      {randomBytes(), "damaged record file", 0},      {"", "not a regular file", 0},
      {"", "Is a directory", 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why + " " + std::to_string(c.bytes.size()));
    std::filesystem::remove_all(dir_ + "/db");
    writeFile(dbPath("d"), c.bytes);
    if (c.bytes.empty()) std::filesystem::remove(dbPath("d"));
    if (c.why == "not a regular file") {
      ASSERT_EQ(mkfifo(dbPath("d").c_str(), 0600), 0);
    }
    if (c.why == "Is a directory") std::filesystem::create_directory(dbPath("d"));
    DbTHandle *h = DbTOpen("d", 0);
    MemHolder list(DbmTGetRecordList(h, " ", ""));
    EXPECT_EQ(list.get() ? std::count(list.str(), list.str() + strlen(list.str()), ' ') : 0, c.keys);
    testing::internal::CaptureStderr();
    EXPECT_EQ(DbmPutRecord("d", "new", "x", 1) + DbmDeleteRecords("d", "k") + DbmTPutRecord(h, "new", "x", 1), 0);
    DbTClose(h);
    std::string line = refusal(c.why, dbPath("d"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), line + line + line);
    if (!c.bytes.empty()) {
      EXPECT_EQ(readFile(dbPath("d")), c.bytes);
    }
  }
}

// A file the user may not read is not taken as empty and replaced, even in
// a directory everyone may write.
TEST_F(RecordTest, UnreadableFileIsNotReplaced) {
  if (geteuid() != 0) GTEST_SKIP() << "needs a second user";
  std::string bytes = legacyRecord("a", "1");
  writeFile(dbPath("d"), bytes);
  ASSERT_EQ(chmod(dbPath("d").c_str(), 0600) + chmod(dir_.c_str(), 0755) + chmod((dir_ + "/db").c_str(), 0777), 0);
  EXPECT_EXIT(
      {
        DbmOpenAttempts = 1;
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(9);
        _exit(DbmPutRecord("d", "c", "3", 1) + DbmTPutRecord(DbTOpen("d", 0), "c", "3", 1));
      },
      testing::ExitedWithCode(0), "ERROR: Permission denied, not written: .*/db/d.tdb\n(.|\n)*Permission denied");
  EXPECT_EQ(readFile(dbPath("d")), bytes);
}

// A path longer than the file queries take would make the file look
// missing; it is refused and nothing is written.
TEST_F(RecordTest, OverlongPathIsRefused) {
  std::string base = dir_;
  while (base.size() < DBM_PATH_SIZE) base += "/" + std::string(60, 'p');
  std::string bytes = legacyRecord("a", "1");
  writeFile(base + "/db/q.tdb", bytes);
  pToolPath = base.data();
  testing::internal::CaptureStderr();
  EXPECT_EQ(DbmPutRecord("q", "c", "3", 1), 0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("File name too long, not written"), std::string::npos);
  EXPECT_EQ(readFile(base + "/db/q.tdb"), bytes);
}

// A rewrite keeps the mode, owner and group of the file it replaces; a new
// file gets 0666 less the umask.
TEST_F(RecordTest, RewriteKeepsModeAndOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "needs a second user";
  mode_t old = umask(027);
  ASSERT_EQ(DbmPutRecord("q", "a", "1", 1), 1);
  umask(old);
  struct stat st;
  ASSERT_EQ(stat(dbPath("q").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ASSERT_EQ(chmod(dbPath("q").c_str(), 0604) + chown(dbPath("q").c_str(), 65534, 65533), 0);
  ASSERT_EQ(DbmPutRecord("q", "b", "2", 1), 1);
  ASSERT_EQ(stat(dbPath("q").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65533u);
}

// A link planted at the new file's name is removed, not written through.
TEST_F(RecordTest, PlantedLinkAtNewFileIsNotFollowed) {
  std::string victim = dir_ + "/victim";
  writeFile(victim, "precious");
  std::filesystem::create_directories(dir_ + "/db");
  std::filesystem::create_symlink(victim, dbPath("q", "tdb_new"));
  ASSERT_EQ(DbmPutRecord("q", "k", "v", 1), 1);
  EXPECT_EQ(readFile(victim), "precious");
  EXPECT_EQ(records(dbPath("q")).size(), 1u);
  EXPECT_EQ(std::filesystem::symlink_status(dbPath("q")).type(), std::filesystem::file_type::regular);
  // A stale new file of an update that died is replaced as well.
  writeFile(dbPath("q", "tdb_new"), "garbage");
  ASSERT_EQ(DbmPutRecord("q", "j", "w", 1), 1);
  EXPECT_EQ(records(dbPath("q")).size(), 2u);
}

// A failed rewrite is reported as a failure and leaves the current file.
TEST_F(RecordTest, FailedRewriteIsReported) {
  std::filesystem::create_directories(dbPath("dir"));  // the "current file" is a directory
  testing::internal::CaptureStderr();
  EXPECT_EQ(DbmDeleteRecords("dir", "x"), 0);
  EXPECT_EQ(DbmDeleteRecord("dir", "x"), 0);
  EXPECT_EQ(DbmPutRecord("dir", "x", "v", 1), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(std::filesystem::is_directory(dbPath("dir")));

  // A write that fails makes PurgeRecord report and stop.
  ASSERT_EQ(DbmPutRecord("q", "k", "v", 1), 1);
  FILE *in = fopen(dbPath("q").c_str(), "rb");
  FILE *full = fopen("/dev/full", "wb");
  ASSERT_TRUE(in && full);
  setvbuf(full, nullptr, _IONBF, 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(PurgeRecord("q", in, full, "other", 0), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: Can't write to q");
  fclose(in);
  fclose(full);
}

// The plain operations know legacy records only: a headered file is left
// whole and the change is reported as failed, not rewritten without its
// records.
TEST_F(RecordTest, HeaderedFileIsNotRewrittenByPlainOperations) {
  std::string headered = header(1) + headeredRecord("k", "v");
  struct Case {
    const char *what;
    std::function<int()> change;
  } cases[] = {
      {"put", [] { return DbmPutRecord("h", "j", "w", 1); }},
      {"delete", [] { return DbmDeleteRecord("h", "k"); }},
      {"prefix delete", [] { return DbmDeleteRecords("h", "k"); }},
      {"copy", [] { return DbmCopyRecord("h", "k", "j"); }},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(dbPath("h"), headered);
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.change(), 0);
    std::string err = testing::internal::GetCapturedStderr();
    if (std::string(c.what) != "copy") {
      EXPECT_EQ(err, "ERROR: Can't write to h");
    }
    EXPECT_EQ(readFile(dbPath("h")), headered);
    EXPECT_FALSE(exists(dbPath("h", "tdb_new")));
  }
}

TEST_F(RecordTest, PathModeUsesTheGivenPath) {
  std::string path = dir_ + "/sub/jobs.tdb";
  DbmSetV4DriverPathHandling();
  ASSERT_EQ(DbmPutRecord(path.c_str(), "k", "v", 1), 1);
  EXPECT_EQ(records(path).size(), 1u);
  EXPECT_FALSE(exists(path + "_new"));
  char out[2];
  EXPECT_EQ(DbmGetRecord(path.c_str(), "k", out), 1);
  DbTClose(nullptr);
  EXPECT_EQ(DbmV4DriverPathHandling, 0);
  EXPECT_EQ(DbmGetRecord(path.c_str(), "k", out), 0);
}

TEST_F(RecordTest, OpenDataBaseOfMissingFileIsNull) {
  EXPECT_EQ(OpenDataBase("none", "tdb", "rb", 1), nullptr);
  ASSERT_EQ(DbmPutRecord("q", "k", "v", 1), 1);
  FILE *f = OpenDataBase("q", "tdb", "rb", 0);
  ASSERT_NE(f, nullptr);
  fclose(f);
}

TEST_F(RecordTest, UpdateHeaderFormatsTheCount) {
  struct Case {
    long count;
    std::string text;
  } cases[] = {{0, "TTDBAA0"}, {3, "TTDBAA3"}, {123456789, "TTDBAA123456789"},
               {12345678901L, "TTDBAA123456789"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.count);
    char image[DBM_HEADER_SIZE + 4];
    memset(image, 'Z', sizeof image);
    DbTHandle h{};
    h.pImage = image;
    h.imageSize = DBM_HEADER_SIZE;
    h.count = c.count;
    UpdateHeader(&h);
    EXPECT_EQ(std::string(image, c.text.size() + 1), c.text + std::string(1, '\0'));
    EXPECT_EQ(image[DBM_HEADER_SIZE], 'Z');
  }
}

}  // namespace
