// Tests of message lookup: the four fetch modes with their "Error" and
// key-text results, formatted catalogue messages and their cut at the
// buffer size, template substitution, menu-item texts, text keys and help
// redirects.
#include <string>

#include "TextMenu.h"
#include "nls_fixture.h"

namespace {

using nlstest::NlsTest;
using nlstest::Records;
using nlstest::text;

class LookupTest : public NlsTest {
 protected:
  void SetUp() override {
    NlsTest::SetUp();
    long3000_ = std::string(3000, 'L');
    Records records = {
        {"25_1", text("Hello")},
        {"25_2", text(long3000_)},
        {"25_1001", text("Label one")},
        {"25_1002", text("Label two")},
        {"25_1003", text(std::string(200, 'w'))},
        {"30_42", text("This text length must be from %i to %i characters long.")},
        {"30_22", text("%s Help")},
        {"30_99", text("%s")},
        {"40_1", text("first")},
        {"40_2", text("second")},
        {"40_3", text(std::string(1500, 'g'))},
        {"install", text("How to install")},
    };
    db_ = open(writeCatalogue("en_US", "Test", records));
    ASSERT_NE(db_, nullptr);
    ASSERT_EQ(db_->type, DBT_TYPE_HEADERED);
  }
  void TearDown() override {
    DbTClose(db_);
    NlsTest::TearDown();
  }
  DbTHandle *db_ = nullptr;
  std::string long3000_;
};

// What Nlsfprintf prints for a message with two arguments.
template <typename A, typename B>
std::string printed(DbTHandle *db, int set, int number, A a, B b) {
  char *mem = nullptr;
  size_t len = 0;
  FILE *f = open_memstream(&mem, &len);
  if (f == nullptr) return "<no stream>";
  Nlsfprintf(f, db, set, number, a, b);
  fclose(f);
  std::string out(mem, len);
  free(mem);
  return out;
}

// ------------------------------------------------------------ fetch modes --

TEST_F(LookupTest, NumericModesWithoutOutputBuffer) {
  struct Case {
    int mode, set, number;
    std::string want;
    bool copy;  // a new block the caller frees
  } cases[] = {
      {0, 25, 1, "Hello", true},
      {0, 25, 7, "25_7", false},
      {3, 25, 1, "Hello", true},
      {3, 25, 7, "25_7", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE("mode " + std::to_string(c.mode) + " " + c.want);
    char *s = NlsFetchString(db_, nullptr, c.mode, c.set, c.number);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::string(s), c.want);
    EXPECT_NE(s, StrBuf);
    EXPECT_EQ(FindBlock(s) != nullptr, c.copy);
    if (c.copy) PutMem(s);
  }
}

TEST_F(LookupTest, NumericModeWithOutputBuffer) {
  char out[64];
  memset(out, '#', sizeof out);
  EXPECT_EQ(NlsFetchString(db_, out, 0, 25, 1), out);
  EXPECT_STREQ(out, "Hello");

  memset(out, '#', sizeof out);
  char *s = NlsFetchString(db_, out, 0, 25, 7);
  EXPECT_STREQ(s, "25_7");
  EXPECT_STREQ(out, "25_7");

  // Mode 3 leaves the output buffer alone when the text is found.
  memset(out, '#', sizeof out);
  s = NlsFetchString(db_, out, 3, 25, 1);
  EXPECT_STREQ(s, "Hello");
  EXPECT_EQ(out[0], '#');
  PutMem(s);

  // A missing text gives its key, copied into the output buffer, in every
  // numeric mode and also through a null handle.
  struct Missing {
    DbTHandle *db;
    int mode;
  } missing[] = {{db_, 0}, {db_, 3}, {nullptr, 0}, {nullptr, 3}};
  for (const auto &m : missing) {
    SCOPED_TRACE("mode " + std::to_string(m.mode) + (m.db ? "" : ", null handle"));
    memset(out, '#', sizeof out);
    s = NlsFetchString(m.db, out, m.mode, 25, 7);
    EXPECT_STREQ(s, "25_7");
    EXPECT_STREQ(out, "25_7");
  }
}

TEST_F(LookupTest, KeyTextModes) {
  for (int mode : {1, 2}) {
    SCOPED_TRACE(mode);
    char *s = NlsFetchString(db_, nullptr, mode, "install");
    EXPECT_STREQ(s, "How to install");
    PutMem(s);

    char out[64] = "";
    EXPECT_EQ(NlsFetchString(db_, out, mode, "install"), out);
    EXPECT_STREQ(out, "How to install");

    const char *missing = "no-such-topic";
    EXPECT_EQ(NlsFetchString(db_, nullptr, mode, missing), missing);
    EXPECT_EQ(NlsFetchString(db_, out, mode, missing), missing);
    EXPECT_STREQ(out, "no-such-topic");
  }
}

TEST_F(LookupTest, InvalidFetchesGiveErrorAndLeaveTheBuffer) {
  char out[16];
  struct Case {
    const char *name;
    char *result;
    std::string want;
  };
  auto numeric = [&](DbTHandle *db, int mode, int set, int number) {
    memset(out, '#', sizeof out);
    return NlsFetchString(db, out, mode, set, number);
  };
  auto keyed = [&](DbTHandle *db, int mode, const char *key) {
    memset(out, '#', sizeof out);
    return NlsFetchString(db, out, mode, key);
  };
  const char *err = pErrBuf;
  EXPECT_STREQ(err, "Error");
  Case cases[] = {
      {"null handle, mode 1", keyed(nullptr, 1, "install"), "Error"},
      {"null handle, mode 2", keyed(nullptr, 2, "install"), "Error"},
      {"null key, mode 1", keyed(db_, 1, nullptr), "Error"},
      {"null handle, set 0", numeric(nullptr, 0, 0, 5), "Error"},
      {"null handle, number 0, mode 3", numeric(nullptr, 3, 25, 0), "Error"},
      {"unknown mode", numeric(db_, 7, 25, 1), "Error"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.result, err);
  }
  EXPECT_EQ(out[0], '#');

  // A null handle with a valid key is a missing text: the key.
  EXPECT_STREQ(numeric(nullptr, 0, 25, 1), "25_1");
  EXPECT_STREQ(out, "25_1");
  EXPECT_STREQ(numeric(nullptr, 3, 25, 2), "25_2");
}

// A value longer than StrBuf is cut at its size in modes 0 to 2 rather than
// written past it; mode 3 returns the whole text.
TEST_F(LookupTest, LongValues) {
  char *s = NlsFetchString(db_, nullptr, 0, 25, 2);
  EXPECT_EQ(strlen(s), static_cast<size_t>(NLS_STRBUF_SIZE - 1));
  EXPECT_EQ(std::string(s), long3000_.substr(0, NLS_STRBUF_SIZE - 1));
  PutMem(s);

  std::string out(4000, '#');
  NlsFetchString(db_, out.data(), 0, 25, 2);
  EXPECT_EQ(strlen(out.c_str()), static_cast<size_t>(NLS_STRBUF_SIZE - 1));
  EXPECT_EQ(out[NLS_STRBUF_SIZE], '#');

  s = NlsFetchString(db_, nullptr, 3, 25, 2);
  EXPECT_EQ(std::string(s), long3000_);
  PutMem(s);
}

// ------------------------------------------------------------- formatting --

TEST_F(LookupTest, FormattedMessages) {
  struct Case {
    DbTHandle *db;
    int set, number;
    std::string want;
  } cases[] = {
      {db_, 30, 42, "This text length must be from 1 to 8 characters long."},
      {db_, 30, 41, "Error"},
      {nullptr, 30, 42, "Error"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.want);
    memset(NlsBuf, '#', 100);
    Nlssprintf(NlsBuf, c.db, c.set, c.number, 1, 8);
    EXPECT_EQ(std::string(NlsBuf), c.want);

    EXPECT_EQ(printed(c.db, c.set, c.number, 1, 8), c.want);
  }
}

// A translated text is a format only when its conversions are those of the
// English text of the same key; otherwise the English text is used, and a
// text with %n never.
TEST_F(NlsTest, TranslatedFormatsFollowTheEnglishText) {
  struct Case {
    const char *key, *english, *german, *want;
  } cases[] = {
      {"30_1", "%s has %i files", "%s hat %d Dateien", "x hat 3 Dateien"},
      {"30_2", "%s: %i", "%s%s%n", "x: 3"},
      {"30_3", "%s: %i", "%i: %s", "x: 3"},
      {"30_4", "%s: %i", "%2$i: %1$s", "x: 3"},
      {"30_5", "%s %i", "100%% %-8s %03i", "100% x        003"},
      {"30_6", "done%n", "fertig", "Error"},
      {"30_7", nullptr, "%s", "Error"},
  };
  Records english, german;
  for (const auto &c : cases) {
    if (c.english) english.emplace_back(c.key, text(c.english));
    german.emplace_back(c.key, text(c.german));
  }
  writeCatalogue("en_US", "Fmt", english);
  DbTHandle *de = open(writeCatalogue("de_DE", "Fmt", german));
  for (const auto &c : cases) {
    SCOPED_TRACE(c.key);
    int number = atoi(c.key + 3);
    Nlssprintf(NlsBuf, de, 30, number, "x", 3);
    EXPECT_STREQ(NlsBuf, c.want);
    EXPECT_EQ(printed(de, 30, number, "x", 3), c.want);
  }
  DbTClose(de);
  // The English catalogue's own %n is not honoured either.
  DbTHandle *en = open(path("db/en_US/Fmt.tdb"));
  Nlssprintf(NlsBuf, en, 30, 6);
  EXPECT_STREQ(NlsBuf, "Error");
  DbTClose(en);
}

TEST_F(LookupTest, LongFormattedTextIsCutAtTheBufferSize) {
  std::string huge(100000, 'h');
  Nlssprintf(NlsBuf, db_, 30, 99, huge.c_str());
  EXPECT_EQ(strlen(NlsBuf), static_cast<size_t>(NLS_BUF_SIZE - 1));

  char small[16];
  memset(small, '#', sizeof small);
  Nlssnprintf(small, 8, db_, 30, 22, "Tarnu");
  EXPECT_STREQ(small, "Tarnu H");
  EXPECT_EQ(small[8], '#');
  Nlssnprintf(small, 4, db_, 30, 41);
  EXPECT_STREQ(small, "Err");
}

TEST_F(LookupTest, GuiTemplateSubstitution) {
  pDrvCoreDB = db_;
  struct Case {
    const char *tmpl;
    int set, size;
    std::string want;
  } cases[] = {
      {"%s and %s", 40, 64, "first and second"},
      {"100% %d %s!", 40, 64, "100% %d first!"},
      {"%s/%s/%s/%s", 40, 64, "first/second/" + std::string(1023, 'g') + "/40_4"},
      {"%s %s %s %s", 40, 2048, "first second " + std::string(1023, 'g') + " 40_4"},
      {"%s and %s", 40, 8, "first a"},
      {"no places", 40, 64, "no places"},
      {"", 40, 64, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.tmpl);
    std::string out(static_cast<size_t>(c.size) + 8, '#');
    EXPECT_EQ(NlsGuiStrCvt(c.tmpl, c.set, out.data(), c.size), out.data());
    EXPECT_EQ(std::string(out.c_str()), c.want.substr(0, static_cast<size_t>(c.size) - 1));
    EXPECT_EQ(out[static_cast<size_t>(c.size)], '#');
  }
  pDrvCoreDB = nullptr;
  char out[32];
  EXPECT_STREQ(NlsGuiStrCvt("%s", 40, out, sizeof out), "40_1");
  // An invalid fetch writes nothing into the work buffer: the place stays empty.
  EXPECT_STREQ(NlsGuiStrCvt("<%s|%s>", 0, out, sizeof out), "<|>");
}

TEST_F(LookupTest, MenuItemTexts) {
  pDrvCoreDB = db_;
  TextMenuItem items[4] = {};
  items[3].label = "untouched";
  EXPECT_EQ(NlsTtyMenuItemCvt(items, 1001, 3), 3);
  EXPECT_STREQ(items[0].label, "Label one");
  EXPECT_STREQ(items[1].label, "Label two");
  EXPECT_EQ(std::string(items[2].label), std::string(127, 'w'));
  EXPECT_STREQ(items[3].label, "untouched");

  EXPECT_EQ(NlsTtyMenuItemStateCvt(items, 1, 2), 2);
  EXPECT_STREQ(items[0].choices, "Hello");
  EXPECT_EQ(strlen(items[1].choices), 127u);

  EXPECT_EQ(NlsTtyMenuItemPromptCvt(items + 1, 1002, 2), 2);
  EXPECT_STREQ(items[1].prompt, "Label two");
  EXPECT_EQ(std::string(items[2].prompt), std::string(127, 'w'));
  EXPECT_STREQ(items[0].prompt, nullptr);

  const char *title = "static";
  NlsTtyMenuCvt(&title, 1);
  EXPECT_STREQ(title, "Hello");
  EXPECT_NE(FindBlock(title), nullptr);
  NlsTtyMenuCvt(&title, 9999);
  EXPECT_STREQ(title, "25_9999");
  EXPECT_EQ(NlsTtyMenuItemCvt(nullptr, 1, 3), 0);

  for (auto &it : items) {
    if (FindBlock(it.label)) PutMem(const_cast<char *>(it.label));
    PutMem(it.choices);
    PutMem(const_cast<char *>(it.prompt));
  }
  pDrvCoreDB = nullptr;
}

// ---------------------------------------------------------------- text keys --

TEST(NlsCalcStrVal, Table) {
  struct Case {
    const char *in;
    const char *want;
  } cases[] = {
      {"", "0000000000000000"},
      {nullptr, "0000000000000000"},
      {"abc", "0000056400000126"},
      {"a", "0000006100000061"},
      {"\xff", "FFFFFFFFFFFFFFFF"},
      {"\xff\xff", "FFFFFFFBFFFFFFFE"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.want);
    char *r = NlsCalcStrVal(c.in);
    EXPECT_EQ(r, StrVal);
    EXPECT_STREQ(r, c.want);
  }
  // Weighted sums wrap at 32 bits: 70,000 bytes of 'z' need i^2 beyond it.
  std::string big(70000, 'z');
  EXPECT_EQ(strlen(NlsCalcStrVal(big.c_str())), 16u);
}

// ---------------------------------------------------------------- redirects --

TEST(FindRedirect, Table) {
  struct Case {
    const char *in;
    const char *name;   // null: no redirect
    const char *after;  // the text afterwards
  } cases[] = {
      {"see $$install.REDIRECT", "install", "see $$install"},
      {"see $$install.redirect more", "install", "see $$install"},
      {"$$a.Redirected", "a", "$$a"},
      {"see $$install.txt", nullptr, "see $$install.txt"},
      {"see $$install.redir", nullptr, "see $$install.redir"},
      {"see $install.redirect", nullptr, "see $install.redirect"},
      {"$$noDot", nullptr, "$$noDot"},
      {"", nullptr, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.in);
    std::string buf = c.in;
    char *r = FindRedirect(buf.data());
    if (c.name == nullptr) {
      EXPECT_EQ(r, nullptr);
    } else {
      ASSERT_NE(r, nullptr);
      EXPECT_STREQ(r, c.name);
    }
    EXPECT_STREQ(buf.c_str(), c.after);
  }
  EXPECT_EQ(FindRedirect(nullptr), nullptr);
}

TEST_F(LookupTest, CheckForRedirect) {
  pPrtHelpDB = db_;
  char buf[256];

  snprintf(buf, sizeof buf, "see $$install.REDIRECT");
  EXPECT_EQ(CheckForRedirect(buf), TmpKey);
  EXPECT_STREQ(TmpKey, "install");
  EXPECT_STREQ(buf, "How to install");

  snprintf(buf, sizeof buf, "see $$missing.redirect");
  EXPECT_EQ(CheckForRedirect(buf), TmpKey);
  EXPECT_STREQ(buf, "missing");

  snprintf(buf, sizeof buf, "see $$install.txt");
  EXPECT_EQ(CheckForRedirect(buf), nullptr);
  EXPECT_STREQ(buf, "see $$install.txt");

  // A target name longer than TmpKey is cut there.
  std::string longName = "$$" + std::string(100, 'n') + ".redirect";
  snprintf(buf, sizeof buf, "%s", longName.c_str());
  EXPECT_EQ(CheckForRedirect(buf), TmpKey);
  EXPECT_EQ(std::string(TmpKey), std::string(63, 'n'));
  EXPECT_EQ(std::string(buf), std::string(63, 'n'));

  pPrtHelpDB = nullptr;
}

}  // namespace
