// The typed layer's lookup index: after random puts and removals, on images
// loaded with repeated keys, every lookup answers what the walk from the
// first record answers; and a batch of changes written once reads back whole.
#include "dbm_fixture.h"

#include <map>
#include <random>

namespace {

class IndexTest : public DbmTest {
 protected:
  // The first record of key found by walking the image, as FindTRecord's
  // walk does; "" when none.
  static std::string walkValue(DbTHandle *h, const std::string &key) {
    DbTWalk e;
    for (int step = 0; WalkDbTRecords(h, &e, step); ++step) {
      std::string payload(e.recLen - 2, '\0');
      if (h->type == DBT_TYPE_LEGACY) {
        payload.assign(e.pKey, payload.size());
      } else {
        DbmTGetData(h, payload.data(), e.keyLen);
        DbmTGetData(h, payload.data() + e.keyLen, static_cast<int>(payload.size()) - e.keyLen);
      }
      if (payload.compare(0, e.keyLen, key.c_str(), key.size() + 1) == 0) return payload.substr(e.keyLen);
    }
    return "";
  }
  static std::string indexValue(DbTHandle *h, const std::string &key) {
    std::string v(DBM_REC_BUF_SIZE, '\0');
    v.resize(static_cast<size_t>(DbmTGetRecord(h, key.c_str(), v.data())));
    return v;
  }
};

TEST_F(IndexTest, AgreesWithTheWalkAfterRandomChanges) {
  const std::vector<std::string> keys = {"k", "k1", "k10", "k2", "k20", "a", "ab", "abc", "b", "q7"};
  for (int type : {DBT_TYPE_LEGACY, DBT_TYPE_HEADERED}) {
    SCOPED_TRACE(type);
    // A file where "k1" and "ab" occur twice: the first record must win.
    bool legacy = type == DBT_TYPE_LEGACY;
    auto rec = legacy ? legacyRecord : headeredRecord;
    writeFile(dbPath("r"), (legacy ? "" : header(4)) + rec("k1", "first") + rec("ab", "x") + rec("k1", "second") +
                               rec("ab", "y"));
    DbTHandle *h = DbTOpen("r", DBT_NO_WRITE);
    ASSERT_NE(h, nullptr);
    std::mt19937 random(14);
    for (int op = 0; op < 600; ++op) {
      const std::string &key = keys[random() % keys.size()];
      switch (random() % 8) {
        case 0: DbmTDeleteRecord(h, key.c_str()); break;
        case 1: DbmTDeleteRecords(h, key.substr(0, 1 + random() % key.size()).c_str()); break;
        default: {
          std::string value(1 + random() % 40, static_cast<char>('a' + op % 26));
          DbmTPutRecord(h, key.c_str(), value.data(), static_cast<int>(value.size()));
        }
      }
      for (const auto &k : keys) ASSERT_EQ(indexValue(h, k), walkValue(h, k)) << "op " << op << " key " << k;
    }
    EXPECT_NE(h->pIndex, nullptr);
    DbTClose(h);
    std::filesystem::remove(dbPath("r"));
  }
}

TEST_F(IndexTest, BatchWrittenOnceReadsBackWhole) {
  constexpr int N = 5000;
  DbTHandle *h = DbTOpen("batch", DBT_NO_REFRESH | DBT_NO_WRITE);
  std::map<std::string, std::string> want;
  for (int i = 0; i < N; ++i) {
    std::string key = std::to_string(i % 1000) + "_" + std::to_string(i / 1000);
    std::string value = "text " + std::to_string(i * 7);
    ASSERT_EQ(DbmTPutRecord(h, key.c_str(), value.data(), static_cast<int>(value.size())), 1);
    want[key] = value;
  }
  ASSERT_EQ(DbmTPutRecord(h, "0_0", "again", 5), 1);
  want["0_0"] = "again";
  EXPECT_FALSE(exists(dbPath("batch")));
  ASSERT_EQ(DbmTArchiveDb(h), 1);
  DbTClose(h);

  DbTHandle *r = DbTOpen("batch", 0);
  EXPECT_EQ(r->count, N);
  int records = 0;
  DbTWalk e;
  for (int step = 0; WalkDbTRecords(r, &e, step); ++step) ++records;
  EXPECT_EQ(records, N);
  for (const auto &[key, value] : want) ASSERT_EQ(indexValue(r, key), value) << key;
  DbTClose(r);
}

}  // namespace
