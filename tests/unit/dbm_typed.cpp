// Tests of the typed-record database: headered and legacy images, flags 2
// and 4, the refresh after another writer's change, damaged images and the
// list functions.
#include "dbm_fixture.h"

#include <sys/wait.h>

#include <algorithm>
#include <vector>

namespace {

using TypedTest = DbmTest;

// Opens a handle and closes it at the end of the scope.
struct Handle {
  DbTHandle *h;
  Handle(const char *name, int flags = 0) : h(DbTOpen(name, flags)) {}
  ~Handle() { DbTClose(h); }
  operator DbTHandle *() const { return h; }
  DbTHandle *operator->() const { return h; }
};

std::string get(DbTHandle *h, const char *key) {
  int n = DbmTGetRecordSize(h, key);
  std::string v(static_cast<size_t>(n), '\0');
  if (n) {
    EXPECT_EQ(DbmTGetRecord(h, key, v.data()), n);
  }
  return v;
}

// Every key of the image in order, from a walk.
std::string keys(DbTHandle *h) {
  MemHolder list(DbmTGetRecordList(h, " ", ""));
  return list.get() ? list.str() : "<none>";
}

TEST_F(TypedTest, NewDatabaseIsHeadered) {
  {
    Handle h("que");
    ASSERT_NE(h.h, nullptr);
    EXPECT_EQ(h->type, DBT_TYPE_NONE);
    EXPECT_EQ(h->pImage, nullptr);
    EXPECT_EQ(DbmTPutRecord(h, "k", "v", 1), 1);
    EXPECT_EQ(h->type, DBT_TYPE_HEADERED);
  }
  std::string f = readFile(dbPath("que"));
  ASSERT_EQ(f.size(), 23u);
  EXPECT_EQ(f.substr(0, 8), std::string("TTDBAA1\0", 8));
  EXPECT_EQ(f.substr(16), B({0x00, 0x05, 0x00, 0x02, 0x6B, 0x00, 0x76}));
  EXPECT_FALSE(exists(dbPath("que", "tdb_new")));
  Handle again("que");
  EXPECT_EQ(again->type, DBT_TYPE_HEADERED);
  EXPECT_EQ(again->count, 1);
  EXPECT_EQ(get(again, "k"), "v");
}

TEST_F(TypedTest, HeaderCountsRecords) {
  Handle h("q");
  for (const char *k : {"a", "b", "c"}) ASSERT_EQ(DbmTPutRecord(h, k, k, 1), 1);
  ASSERT_EQ(DbmTPutRecord(h, "b", "B", 1), 1);
  std::string f = readFile(dbPath("q"));
  EXPECT_EQ(f.substr(0, 8), std::string("TTDBAA3\0", 8));
  EXPECT_EQ(f.substr(16), headeredRecord("a", "a") + headeredRecord("c", "c") + headeredRecord("b", "B"));
  ASSERT_EQ(DbmTDeleteRecords(h, "a"), 1);
  ASSERT_EQ(DbmTDeleteRecord(h, "b"), 1);
  ASSERT_EQ(DbmTDeleteRecord(h, "c"), 1);
  f = readFile(dbPath("q"));
  ASSERT_EQ(f.size(), 16u);
  EXPECT_EQ(f.substr(0, 8), std::string("TTDBAA0\0", 8));
  EXPECT_EQ(DbmTDeleteRecord(h, "c"), 0);
  EXPECT_EQ(DbmTDeleteRecords(h, "zz"), 1);
}

// A file of a big-endian machine is the same file: fields are big-endian.
TEST_F(TypedTest, ReadsHeaderedFilesOfEitherByteOrder) {
  std::string value(300, 'x');
  value[0] = '\0';
  writeFile(dbPath("be"), header(2) + headeredRecord("key", value) + headeredRecord("k2", "v2"));
  Handle h("be");
  EXPECT_EQ(h->type, DBT_TYPE_HEADERED);
  EXPECT_EQ(h->swap, DbmIsBigEndian() ? 0 : 1);
  EXPECT_EQ(get(h, "key"), value);
  EXPECT_EQ(get(h, "k2"), "v2");
  EXPECT_EQ(keys(h), " key k2");
}

TEST_F(TypedTest, LegacyStaysLegacy) {
  ASSERT_EQ(DbmPutRecord("old", "first", "1", 1), 1);
  ASSERT_EQ(DbmPutRecord("old", "second", "22", 2), 1);
  Handle h("old");
  EXPECT_EQ(h->type, DBT_TYPE_LEGACY);
  EXPECT_EQ(h->swap, 0);
  ASSERT_EQ(DbmTPutRecord(h, "third", "333", 3), 1);
  EXPECT_EQ(readFile(dbPath("old")),
            legacyRecord("first", "1") + legacyRecord("second", "22") + legacyRecord("third", "333"));
  char out[4] = {};
  EXPECT_EQ(DbmGetRecord("old", "third", out), 3);  // the plain reader agrees
  // Removing the first record leaves the rest intact from position 0.
  ASSERT_EQ(DbmTDeleteRecord(h, "first"), 1);
  EXPECT_EQ(readFile(dbPath("old")), legacyRecord("second", "22") + legacyRecord("third", "333"));
  // Removing the last records leaves an empty file, reported as written.
  ASSERT_EQ(DbmTDeleteRecords(h, "s"), 1);
  ASSERT_EQ(DbmTDeleteRecord(h, "third"), 1);
  EXPECT_EQ(readFile(dbPath("old")), "");
  Handle fresh("old");
  EXPECT_EQ(get(fresh, "third"), "");
  EXPECT_EQ(keys(fresh), "<none>");
}

TEST_F(TypedTest, NoWriteFlagKeepsChangesInTheImage) {
  ASSERT_EQ(DbmPutRecord("q", "a", "1", 1), 1);
  std::string before = readFile(dbPath("q"));
  Handle h("q", DBT_NO_WRITE);
  EXPECT_EQ(DbmTPutRecord(h, "b", "2", 1), 1);
  EXPECT_EQ(DbmTDeleteRecord(h, "a"), 1);
  EXPECT_EQ(readFile(dbPath("q")), before);
  EXPECT_EQ(get(h, "b"), "2");
  EXPECT_EQ(get(h, "a"), "");
  ASSERT_EQ(DbmTArchiveDb(h), 1);
  EXPECT_EQ(readFile(dbPath("q")), legacyRecord("b", "2"));
}

TEST_F(TypedTest, NoWriteFlagOnAnEmptyFileKeepsEveryPut) {
  writeFile(dbPath("e"), "");
  Handle h("e", DBT_NO_WRITE);
  EXPECT_EQ(h->type, DBT_TYPE_NONE);
  ASSERT_EQ(DbmTPutRecord(h, "a", "1", 1), 1);
  ASSERT_EQ(DbmTPutRecord(h, "b", "2", 1), 1);
  EXPECT_EQ(keys(h), " a b");
  ASSERT_EQ(DbmTArchiveDb(h), 1);
  EXPECT_EQ(readFile(dbPath("e")).substr(0, 8), std::string("TTDBAA2\0", 8));
}

// Another process rewrites the file; a handle sees it at its next call,
// also within the same second, unless it was opened with flag 2.
TEST_F(TypedTest, RefreshSeesAnotherWriter) {
  Handle plain("q");
  Handle frozen("q", DBT_NO_REFRESH);
  ASSERT_EQ(DbmTPutRecord(plain, "a", "1", 1), 1);
  Handle seen("q");
  Handle frozenLoaded("q", DBT_NO_REFRESH);
  EXPECT_EQ(get(seen, "a"), "1");
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    std::string value = "v" + std::to_string(round);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      DbTHandle *other = DbTOpen("q", 0);
      _exit(DbmTPutRecord(other, "a", value.c_str(), static_cast<int>(value.size())) == 1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(get(seen, "a"), value);
    EXPECT_EQ(get(frozenLoaded, "a"), "1");
    EXPECT_EQ(get(frozen, "a"), "");
  }
}

// A handle opened before the file existed does not overwrite what another
// writer created meanwhile.
TEST_F(TypedTest, FirstPutMergesAFileCreatedMeanwhile) {
  Handle early("q");
  Handle other("q");
  ASSERT_EQ(DbmTPutRecord(other, "theirs", "1", 1), 1);
  ASSERT_EQ(DbmTPutRecord(early, "mine", "2", 1), 1);
  Handle check("q");
  EXPECT_EQ(keys(check), " theirs mine");
}

TEST_F(TypedTest, GetRecordVAllocatesForLargeValues) {
  Handle h("q");
  std::string big(3000, 'b'), small(100, 's');
  ASSERT_EQ(DbmTPutRecord(h, "big", big.data(), 3000), 1);
  ASSERT_EQ(DbmTPutRecord(h, "small", small.data(), 100), 1);
  char buf[2048];
  char *p = buf;
  EXPECT_EQ(DbmTGetRecordV(h, "small", &p, sizeof buf), 100);
  EXPECT_EQ(p, buf);
  EXPECT_EQ(std::string(p, 100), small);
  EXPECT_EQ(DbmTGetRecordV(h, "big", &p, sizeof buf), 3000);
  ASSERT_NE(p, buf);
  EXPECT_EQ(std::string(p, 3000), big);
  EXPECT_EQ(buf[0], 's');  // the caller's buffer is not used
  PutMem(p);
  p = buf;
  EXPECT_EQ(DbmTGetRecordV(h, "none", &p, sizeof buf), 0);
  EXPECT_EQ(p, buf);
}

TEST_F(TypedTest, ListsAndPrefixes) {
  Handle h("q");
  for (const char *k : {"ax", "bx", "cx"}) ASSERT_EQ(DbmTPutRecord(h, k, k, 2), 1);
  MemHolder s(DbmTGetRecordListS(h, "a,b", " ", "!"));
  EXPECT_STREQ(s.str(), " ax bx!");
  MemHolder all(DbmTGetRecordList(h, ",", ";"));
  EXPECT_STREQ(all.str(), ",ax,bx,cx;");
  EXPECT_EQ(DbmTGetRecordListS(h, "z", " ", "!"), nullptr);
  EXPECT_EQ(DbmTGetRecordListS(h, "", " ", "!"), nullptr);
  EXPECT_EQ(DbmTGetRecordList(h, nullptr, ";"), nullptr);

  DbmLink *first = DbmTGetDbLinkList(h, "x");
  std::string seen;
  for (DbmLink *n = first; n; n = n->pNext) seen += std::string(n->pKey) + "=" + std::string(n->pValue, n->iValueLen) + ";";
  DbmFreeDbLinkList(first);
  EXPECT_EQ(seen, "ax=ax;bx=bx;cx=cx;");
  DbmLink *one = DbmTGetDbLinkList(h, "b");
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one->pNext, nullptr);
  DbmFreeDbLinkList(one);

  EXPECT_EQ(DbmTCopyRecord(h, "ax", "dx"), 1);
  EXPECT_EQ(get(h, "dx"), "ax");
  EXPECT_EQ(DbmTCopyRecord(h, "zz", "ex"), 0);
}

// PurgeTRecord in prefix mode compares the first p key bytes; a p that
// reaches the given key's NUL removes that key alone, however large p is.
TEST_F(TypedTest, PurgeTRecordPrefixLengths) {
  struct Case {
    int prefixLen, removed;
    std::string kept;
  } cases[] = {
      {0, 1, " abc b"}, {1, 1, " b"}, {2, 1, " b"}, {3, 1, " abc b"}, {9, 1, " abc b"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.prefixLen);
    Handle h("q", DBT_NO_WRITE);
    for (const char *k : {"ab", "abc", "b"}) ASSERT_EQ(DbmTPutRecord(h, k, k, 1), 1);
    EXPECT_EQ(PurgeTRecord(h, "ab", c.prefixLen), c.removed);
    EXPECT_EQ(keys(h), c.kept);
    EXPECT_EQ(h->count, static_cast<long>(std::count(c.kept.begin(), c.kept.end(), ' ')));
  }
}

TEST_F(TypedTest, TestKeyNameTable) {
  struct Case {
    const char *key, *prefixes;
    int accepted;
  } cases[] = {
      {"ax", "a,b", 1}, {"bx", "a,b", 1}, {"cx", "a,b", 0}, {"a", "ab,a", 1},
      {"a", "ab", 0},   {"x,y", "x\\,", 1}, {"", "a", 0},    {"abc", ",,abc,,", 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.key) + " in " + c.prefixes);
    EXPECT_EQ(TestKeyName(c.key, c.prefixes), c.accepted);
  }
  // A scan of the caller's own goes on where it was.
  ASSERT_STREQ(GetToken("one two", " "), "one");
  TestKeyName("ax", "a,b");
  EXPECT_STREQ(GetToken(nullptr, " "), "two");
}

TEST_F(TypedTest, KeysLongerThanTheKeyBufferAreRefused) {
  Handle h("q");
  std::string longest(DBT_KEY_BUF_SIZE - 1, 'k'), tooLong(DBT_KEY_BUF_SIZE, 'k');
  EXPECT_EQ(DbmTPutRecord(h, tooLong.c_str(), "v", 1), 0);
  EXPECT_EQ(DbmTPutRecord(h, longest.c_str(), "v", 1), 1);
  EXPECT_EQ(get(h, longest.c_str()), "v");
  EXPECT_EQ(DbmTGetRecordSize(h, tooLong.c_str()), 0);
  EXPECT_EQ(DbmTDeleteRecord(h, tooLong.c_str()), 0);
  EXPECT_EQ(DbmTDeleteRecords(h, longest.c_str()), 1);
  EXPECT_EQ(get(h, longest.c_str()), "");
  std::string huge(DBM_MAX_PAYLOAD, 'v');
  EXPECT_EQ(DbmTPutRecord(h, "k", huge.data(), DBM_MAX_PAYLOAD - 3), 0);
  EXPECT_EQ(DbmTPutRecord(h, "k", huge.data(), DBM_MAX_PAYLOAD - 4), 1);
}

// Each damage: the image is cut before the damaged record; the records in
// front are read, nothing behind it is decoded.
TEST_F(TypedTest, DamagedImagesAreCut) {
  std::string hGood = headeredRecord("a", "1"), later = headeredRecord("z", "9");
  std::string lGood = legacyRecord("a", "1"), lLater = legacyRecord("z", "9");
  struct Case {
    const char *what;
    std::string file;
    int type, cutAt;
    std::string keys;
  } cases[] = {
      {"headered: length beyond the file", header(2) + hGood + B({0x00, 0x40, 0x00, 0x02}), 2, 23, " a"},
      {"headered: key beyond its record", header(2) + hGood + B({0x00, 0x04, 0x00, 0x09, 1, 2}) + later, 2, 23, " a"},
      {"headered: record shorter than its key field", header(2) + hGood + B({0x00, 0x01, 0x00}) + later, 2, 23, " a"},
      {"headered: half a length field", header(2) + hGood + B({0x00}), 2, 23, " a"},
      {"headered: count that does not parse", std::string("TTDBAAxyz\0abcdef", 16) + hGood, 2, 23, " a"},
      {"headered: header cut short", std::string("TTDBAA1\0", 8), 2, 8, "<none>"},
      {"legacy: length beyond the file", lGood + B({0x40, 0x00, 1, 2}), 1, 7, " a"},
      {"legacy: key beyond its record", lGood + B({0x05, 0x00}) + chain(std::string("\x09\x00q\x00v", 5)) + lLater, 1, 7, " a"},
      {"legacy: record shorter than its key field", lGood + B({0x01, 0x00, 0x00}) + lLater, 1, 7, " a"},
      {"legacy: a single byte", std::string("\x05", 1), 1, 0, "<none>"},
      {"legacy: big-endian fields", B({0x00, 0x05}) + chain(std::string("\x00\x02k\x00v", 5)), 1, 0, "<none>"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(dbPath("d"), c.file);
    Handle h("d");
    ASSERT_NE(h->pImage, nullptr);
    EXPECT_EQ(h->type, c.type);
    EXPECT_EQ(keys(h), c.keys);
    EXPECT_EQ(h->length, c.cutAt);
    EXPECT_EQ(get(h, "z"), "");
    if (c.keys == " a") {
      EXPECT_EQ(get(h, "a"), "1");
    }
  }
  // The count is read from at most nine digits inside the header.
  struct Count {
    std::string head;
    long count;
  } counts[] = {{std::string("TTDBAAxyz\0abcdef", 16), 0},
                {std::string("TTDBAA12\0abcdefg", 16), 12},
                {std::string("TTDBAA1234567890", 16), 123456789}};
  for (const auto &c : counts) {
    SCOPED_TRACE(c.head);
    writeFile(dbPath("d"), c.head);
    Handle h("d");
    EXPECT_EQ(h->count, c.count);
  }
}

// A headered file cut inside its header is damaged: a put is refused and
// the file stays as it is.
TEST_F(TypedTest, PutAfterACutHeader) {
  std::string cut("TTDBAA1\0", 8);
  writeFile(dbPath("d"), cut);
  {
    Handle h("d");
    EXPECT_EQ(h->fault, DBM_FAULT_DAMAGED);
    testing::internal::CaptureStderr();
    EXPECT_EQ(DbmTPutRecord(h, "k", "v", 1), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: damaged record file, not written: " + dbPath("d") + "\n");
  }
  EXPECT_EQ(readFile(dbPath("d")), cut);
}

TEST_F(TypedTest, PathResolution) {
  std::string full = dir_ + "/abs/jobs";
  writeFile(full + ".tdb", header(1) + headeredRecord("k", "abs"));
  writeFile(dir_ + "/db/en_US/CoreString.tdb", header(1) + headeredRecord("k", "sub"));
  writeFile(dir_ + "/rel.tdb", header(1) + headeredRecord("k", "dot"));
  struct Case {
    std::string name, value;
  } cases[] = {{full, "abs"}, {full + ".tdb", "abs"}, {"en_US/CoreString", "sub"}, {"./rel.tdb", "dot"},
               {"missing", ""}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Handle h(c.name.c_str());
    EXPECT_EQ(get(h, "k"), c.value);
  }
  // In path mode the image is written back to the path it came from.
  DbmSetV4DriverPathHandling();
  {
    Handle h((full + ".tdb").c_str());
    ASSERT_EQ(DbmTPutRecord(h, "k2", "v2", 2), 1);
  }
  EXPECT_EQ(DbmV4DriverPathHandling, 0);
  Handle again((full + ".tdb").c_str());
  EXPECT_EQ(get(again, "k2"), "v2");
}

TEST_F(TypedTest, ChainStepsStayInsideTheImage) {
  Handle h("q");
  ASSERT_EQ(DbmTPutRecord(h, "k", "value", 5), 1);
  char out[8] = "zzzzzzz";
  h->cursor = h->length - 2;
  DbmTGetData(h, out, 5);
  EXPECT_EQ(std::string(out, 5), std::string(5, '\0'));
  h->cursor = h->imageSize - 1;
  DbmTPutData(h, "abc", 3);
  EXPECT_EQ(h->cursor, h->imageSize - 1);
  DbTWalk e;
  EXPECT_EQ(WalkDbTRecords(nullptr, &e, 0), nullptr);
  EXPECT_EQ(FindTRecord(h, "", &e), 0);
}

}  // namespace
