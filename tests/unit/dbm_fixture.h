// Test fixture of the record database: a fresh temporary tool directory that
// is also the working directory, pToolPath pointing at it, and helpers to
// read and write the database files byte for byte.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

#include "Dbm.h"
#include "MemMgr.h"
#include "utils.h"

class DbmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tarnu-dbm-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    oldCwd_ = cwd;
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    logName_ = "tarnu-test-" + std::to_string(getpid());
    oldName_ = my_name;
    my_name = logName_.data();
    oldToolPath_ = pToolPath;
    pToolPath = dir_.data();
    DbmV4DriverPathHandling = 0;
  }
  void TearDown() override {
    DbmV4DriverPathHandling = 0;
    pToolPath = oldToolPath_;
    my_name = oldName_;
    if (chdir(oldCwd_.c_str()) != 0) ADD_FAILURE() << "chdir back";
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    std::filesystem::remove("/tmp/" + logName_ + ".log", ec);
  }


 public:
  std::string dbPath(const std::string &name, const char *ext = "tdb") const {
    return dir_ + "/db/" + name + "." + ext;
  }
  static std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static void writeFile(const std::string &path, const std::string &bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  static bool exists(const std::string &path) {
    std::error_code ec;
    return std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found;
  }
  // Bytes from a list of small numbers: B({0x05, 0x00, 'k'}).
  static std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s.push_back(static_cast<char>(b));
    return s;
  }
  // The XOR chain of a run, as the files store it.
  static std::string chain(std::string run) {
    DbmEncodeChain(run.data(), static_cast<int>(run.size()));
    return run;
  }
  // A legacy record as this (little-endian) machine writes it.
  static std::string legacyRecord(const std::string &key, const std::string &value) {
    std::string payload;
    uint16_t k = static_cast<uint16_t>(key.size() + 1);
    payload.append(reinterpret_cast<const char *>(&k), 2);
    payload += key;
    payload.push_back('\0');
    payload += value;
    uint16_t l = static_cast<uint16_t>(payload.size());
    return std::string(reinterpret_cast<const char *>(&l), 2) + chain(payload);
  }
  // A headered record: big-endian fields, key and value chained apart.
  static std::string headeredRecord(const std::string &key, const std::string &value) {
    size_t k = key.size() + 1, l = k + value.size() + 2;
    std::string r = B({static_cast<int>(l >> 8), static_cast<int>(l & 0xff),
                       static_cast<int>(k >> 8), static_cast<int>(k & 0xff)});
    return r + chain(key + std::string(1, '\0')) + (value.empty() ? "" : chain(value));
  }
  // Bytes that are not a record file: a text, and pseudo-random bytes.
  static std::string textBytes() { return "hello, world\nsecond line\n"; }
  static std::string randomBytes() {
    std::string s;
    for (uint32_t x = 12345; s.size() < 4096;) {
      x = x * 1103515245u + 12345u;
      s.push_back(static_cast<char>(x >> 16));
    }
    return s;
  }
  // The stderr line of a refused rewrite.
  static std::string refusal(const std::string &why, const std::string &path) {
    return "ERROR: " + why + ", not written: " + path + "\n";
  }
  static std::string header(int count) {
    std::string h = "TTDBAA" + std::to_string(count);
    h.push_back('\0');
    h.resize(16, 'x');
    return h;
  }


 protected:
  std::string dir_;
  std::string oldCwd_;
  std::string logName_;
  char *oldName_ = nullptr;
  char *oldToolPath_ = nullptr;
};
