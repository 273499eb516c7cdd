// Tests of the plain lookup's pass over a record file: every pass this
// processor has answers as a reader that decodes record by record does, on
// random files with and without a damaged record.
#include "dbm_fixture.h"

#include <random>
#include <vector>

namespace {

class ScanTest : public DbmTest {
 protected:
  void TearDown() override {
    DbmScanPass = -1;
    DbmTest::TearDown();
  }
};

// key's first record as GetData reads them, which stops at a damaged one.
bool readByRecords(const std::string &path, const std::string &key, std::string *value) {
  FILE *f = fopen(path.c_str(), "rb");
  MemHolder buf(GetMem(DBM_REC_BUF_SIZE));
  char *b = buf.str();
  bool found = false;
  while (f && !found && GetData(f, b)) {
    uint16_t l, k;
    memcpy(&l, b, 2);
    memcpy(&k, b + 2, 2);
    found = k == key.size() + 1 && memcmp(b + 4, key.c_str(), k) == 0;
    if (found) *value = std::string(b + 4 + k, l - k - 2);
  }
  if (f) fclose(f);
  return found;
}

// Keys that repeat and begin one another, some longer than the 32 chain
// bytes compared at once or than 255 bytes (K's second byte set); values of
// 0 to 300 bytes, so records fall on both sides of 64 bytes.
std::string randomKey(std::mt19937 &rng) {
  std::string key(rng() % 4, 'a');
  for (char &c : key) c = static_cast<char>('a' + rng() % 2);
  int kind = static_cast<int>(rng() % 8);
  if (kind == 0) return std::string(40, 'L') + key;
  if (kind == 1) return std::string(260, 'V') + key;
  return key;
}

// A record file of up to 30 records with one damage or none: a byte
// flipped, the file cut short, or a record put among the others whose
// length field is out of range or whose key field is longer than the
// record, or just fits it ("xy" with an empty value).
std::string randomFile(std::mt19937 &rng, std::vector<std::string> *keys) {
  std::vector<std::string> records;
  for (int n = static_cast<int>(rng() % 30); n > 0; --n) {
    keys->push_back(randomKey(rng));
    std::string value(rng() % 300, '\0');
    for (char &c : value) c = static_cast<char>(rng());
    records.push_back(DbmTest::legacyRecord(keys->back(), value));
  }
  std::string odd;
  int damage = static_cast<int>(rng() % 4);
  if (damage == 2) {
    const uint16_t lengths[] = {0, 1, 0xfff8, 0xffff};
    odd = std::string(reinterpret_cast<const char *>(&lengths[rng() % 4]), 2);
  } else if (damage == 3) {
    std::string payload("\x00\x00xy\x00", 5);
    payload[0] = static_cast<char>(3 + rng() % 3);
    odd = std::string("\x05\x00", 2) + DbmTest::chain(payload);
  }
  records.insert(records.begin() + static_cast<long>(rng() % (records.size() + 1)), odd);
  std::string file;
  for (const std::string &r : records) file += r;
  size_t at = file.empty() ? 0 : rng() % file.size();
  if (damage == 0 && !file.empty()) file[at] = static_cast<char>(file[at] ^ (1 + rng() % 255));
  if (damage == 1) file.resize(at);
  return file;
}

TEST_F(ScanTest, EveryPassAnswersAsTheRecordReader) {
  if (DbmIsBigEndian()) GTEST_SKIP() << "little-endian files";
  std::mt19937 rng(14);
  std::vector<char> dst(DBM_REC_BUF_SIZE + 1);
  for (int round = 0; round < 300; ++round) {
    std::vector<std::string> keys;
    writeFile(dbPath("r"), randomFile(rng, &keys));
    for (int i = 0; i < 4; ++i) keys.push_back(randomKey(rng));
    keys.push_back("xy");
    for (const std::string &key : keys) {
      std::string value;
      bool found = readByRecords(dbPath("r"), key, &value);
      for (int pass = DBM_SCAN_PORTABLE; pass <= DbmScanWidest(); ++pass) {
        SCOPED_TRACE("round " + std::to_string(round) + ", pass " + std::to_string(pass) + ", key " + key);
        DbmScanPass = pass;
        std::fill(dst.begin(), dst.end(), '#');
        int n = DbmGetRecord("r", key.c_str(), dst.data());
        ASSERT_EQ(n, found ? static_cast<int>(value.size()) : 0);
        EXPECT_EQ(std::string(dst.data(), static_cast<size_t>(n)), value.substr(0, static_cast<size_t>(n)));
        EXPECT_EQ(dst[static_cast<size_t>(n)], '#');
        EXPECT_EQ(DbmGetRecordSize("r", key.c_str()), n);
      }
    }
  }
}

}  // namespace
