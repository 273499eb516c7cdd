// Test fixture of the translation catalogue: a temporary tool base directory
// with small catalogues written in the headered record format, and the
// process-wide language state reset around every test.
#pragma once
#include <gtest/gtest.h>

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "Dbm.h"
#include "MemMgr.h"
#include "NlsUtils.h"
#include "utils.h"

namespace nlstest {

using Records = std::vector<std::pair<std::string, std::string>>;

inline int removeEntry(const char *path, const struct stat *, int, struct FTW *) {
  return remove(path);
}

// The XOR chain of the record format: e[i] = p[i] ^ p[i+1], last byte plain.
inline std::string chain(const std::string &p) {
  std::string e = p;
  for (size_t i = 0; i + 1 < p.size(); i++) e[i] = static_cast<char>(p[i] ^ p[i + 1]);
  return e;
}

inline void putBE16(std::string &out, size_t v) {
  out += static_cast<char>((v >> 8) & 0xFF);
  out += static_cast<char>(v & 0xFF);
}

// A headered record file: "TTDBAA<count>", NUL, filler to 16 bytes, then per
// record L and K big-endian, the key with its NUL and the value as chains.
// Values are stored as given; callers add the NUL of a text themselves.
inline std::string headeredImage(const Records &records) {
  std::string out = "TTDBAA" + std::to_string(records.size());
  out += '\0';
  out.resize(16, 'x');
  for (const auto &[key, value] : records) {
    std::string k = key + std::string(1, '\0');
    putBE16(out, k.size() + value.size() + 2);
    putBE16(out, k.size());
    out += chain(k);
    out += chain(value);
  }
  return out;
}

// A text value as the catalogue stores it: with its terminating NUL.
inline std::string text(const std::string &s) { return s + std::string(1, '\0'); }

class NlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    snprintf(name_, sizeof name_, "tarnu-test-%d", static_cast<int>(getpid()));
    my_name = name_;
    flUseLog = 0;
    char tmpl[] = "/tmp/tarnu-nls-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    snprintf(toolPath_, sizeof toolPath_, "%s", dir_.c_str());
    savedToolPath_ = pToolPath;
    pToolPath = toolPath_;
    const char *lang = getenv("LANG");
    hadLang_ = lang != nullptr;
    if (hadLang_) savedLang_ = lang;
    resetLanguage();
  }
  void TearDown() override {
    resetLanguage();
    pToolPath = savedToolPath_;
    if (hadLang_)
      setenv("LANG", savedLang_.c_str(), 1);
    else
      unsetenv("LANG");
    nftw(dir_.c_str(), removeEntry, 8, FTW_DEPTH | FTW_PHYS);
    std::string log = "/tmp/" + std::string(name_) + ".log";
    unlink(log.c_str());
  }

  // Forgets the chosen language, the map and the process-wide catalogues.
  static void resetLanguage() {
    NlsResetLanguage();
    for (DbTHandle **h : {&pDrvCoreDB, &pPrtCoreDB, &pPrtHelpDB}) {
      if (*h != nullptr) DbTClose(*h);
      *h = nullptr;
    }
  }

  static void setLang(const char *lang) {
    if (lang == nullptr)
      unsetenv("LANG");
    else
      setenv("LANG", lang, 1);
  }

  std::string path(const std::string &name) const { return dir_ + "/" + name; }

  void writeFile(const std::string &name, const std::string &content) const {
    std::string p = path(name);
    for (size_t i = dir_.size() + 1; (i = p.find('/', i)) != std::string::npos; i++)
      mkdir(p.substr(0, i).c_str(), 0755);
    std::ofstream(p, std::ios::binary) << content;
  }

  // Writes <tool>/db/<lang>/<topic>.tdb and returns its path.
  std::string writeCatalogue(const std::string &lang, const std::string &topic,
                             const Records &records) const {
    std::string name = "db/" + lang + "/" + topic + ".tdb";
    writeFile(name, headeredImage(records));
    return path(name);
  }

  // Opens a catalogue file by its full path.
  static DbTHandle *open(const std::string &file) { return DbTOpen(file.c_str(), 0); }

  char name_[64];
  char toolPath_[256];
  char *savedToolPath_ = nullptr;
  std::string dir_;
  bool hadLang_ = false;
  std::string savedLang_;
};

}  // namespace nlstest
