// Test fixture of the text-menu engine: the English core catalogue built
// from its source text into a temporary directory, standard input fed from
// a text, standard output (with the output of the commands the engine runs)
// captured, "clear" replaced by a stand-in that prints "[clear]", and the
// pick screen fixed at 80 x 24.
#pragma once
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>

#include "NlsUtils.h"
#include "SysCmd.h"
#include "TextMenu.h"
#include "nls_fixture.h"

namespace menutest {

// The records of a catalogue source: "key<TAB>text" lines, \n \t \0 \\.
inline nlstest::Records readCatalogueSource(const std::string &path) {
  nlstest::Records records;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    size_t tab = line.find('\t');
    if (line.empty() || line[0] == '#' || tab == std::string::npos) continue;
    std::string value;
    for (size_t i = tab + 1; i < line.size(); i++) {
      if (line[i] != '\\' || i + 1 == line.size()) {
        value += line[i];
        continue;
      }
      char c = line[++i];
      value += c == 'n' ? '\n' : c == 't' ? '\t' : c == '0' ? '\0' : c;
    }
    records.emplace_back(line.substr(0, tab), value);
  }
  return records;
}

inline std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::string sourceDir() {
  std::string file = __FILE__;
  return file.substr(0, file.rfind("/tests/"));
}

class MenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tarnu-menu-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    std::string db = dir_ + "/CoreString.tdb";
    std::ofstream(db, std::ios::binary)
        << nlstest::headeredImage(readCatalogueSource(sourceDir() + "/catalogues/en_US/CoreString.txt"));
    savedDb_ = pDrvCoreDB;
    pDrvCoreDB = DbTOpen(db.c_str(), 0);
    std::ofstream(dir_ + "/clear") << "#!/bin/sh\nprintf '[clear]'\n";
    chmod((dir_ + "/clear").c_str(), 0755);
    savedClear_ = ComList[CMD_CLEAR].pPath;
    savedSh_ = ComList[CMD_SH].pPath;
    savedInit_ = flInitSysCmd;
    ComList[CMD_CLEAR].pPath = const_cast<char *>(dir_.c_str());
    ComList[CMD_SH].pPath = const_cast<char *>("/bin");
    flInitSysCmd = 0;
    savedName_ = my_name;
    my_name = const_cast<char *>("tpmenu");
    SetTermSize(80, 24);
  }
  void TearDown() override {
    restoreInput();
    DbTClose(pDrvCoreDB);
    pDrvCoreDB = savedDb_;
    ComList[CMD_CLEAR].pPath = savedClear_;
    ComList[CMD_SH].pPath = savedSh_;
    flInitSysCmd = savedInit_;
    my_name = savedName_;
    SetTermSize(0, 0);
    nftw(dir_.c_str(), nlstest::removeEntry, 8, FTW_DEPTH | FTW_PHYS);
  }

  // Standard input reads text from now on.
  void feed(const std::string &text) {
    restoreInput();
    FILE *f = tmpfile();
    fwrite(text.data(), 1, text.size(), f);
    rewind(f);
    savedStdin_ = stdin;
    stdin = f;
  }
  void restoreInput() {
    if (savedStdin_ == nullptr) return;
    fclose(stdin);
    stdin = savedStdin_;
    savedStdin_ = nullptr;
  }

  // Everything written to standard output while fn runs.
  template <typename Fn>
  std::string capture(Fn fn) {
    fflush(stdout);
    std::string out = dir_ + "/stdout";
    int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int saved = dup(1);
    dup2(fd, 1);
    close(fd);
    fn();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    return readFile(out);
  }

  std::string path(const std::string &name) const { return dir_ + "/" + name; }

  std::string dir_;

 private:
  DbTHandle *savedDb_ = nullptr;
  char *savedClear_ = nullptr;
  char *savedSh_ = nullptr;
  unsigned char savedInit_ = 0;
  char *savedName_ = nullptr;
  FILE *savedStdin_ = nullptr;
};

// A writable choice list (the engine writes the markers).
struct Choices {
  explicit Choices(const char *text) { CopyStr(buf, sizeof buf, text); }
  char buf[256];
};

// Item builders for the tables of the tests.
inline TextMenuItem item(const char *label, uint32_t type, intptr_t def = 0, char *choices = nullptr,
                         const char *rule = nullptr) {
  TextMenuItem it{};
  it.label = label;
  it.type = type;
  it.defaultValue = def;
  it.choices = choices;
  it.rule = rule;
  it.prompt = "Value";
  return it;
}

}  // namespace menutest
