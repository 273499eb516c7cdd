// Tests of the catalogue language: normalising the language map, choosing
// the language from LANG with and without "trans.conf", opening catalogues,
// and the catalogues the build ships.
#include <string>

#include "nls_fixture.h"

namespace {

using nlstest::NlsTest;
using nlstest::Records;
using nlstest::text;

class LangTest : public NlsTest {};

// -------------------------------------------------------- the language map --

TEST_F(LangTest, ParseTransFileNormalises) {
  struct Case {
    const char *in;
    const char *want;
  } cases[] = {
      {"fr_FR = fr_FR fr_CA fr\n", "fr_FR = fr_FR fr_CA fr \n"},
      {"Default de_DE\n", "Default de_DE \n"},
      {"Default de_DE en_US\n", "Default de_DE \nen_US \n"},
      {"# comment\nen_US=en\n", "en_US=en \n"},
      {"  de_DE\t=\tde  # de_AT\nfr = fr\n", "de_DE = de \nfr = fr \n"},
      {"de#x = y\n", "de#x = y \n"},
      {"a\r\nb\r\n", "a b "},
      {"a = b\n# no line end", "a = b \n"},
      {"last", "last "},
      {"Default en_US", "Default en_US \n"},
      {"x\vy\fz\n", "x y z \n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.in);
    writeFile("map.conf", c.in);
    char *r = ParseTransFile("map.conf");
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r, c.want);
    PutMem(r);
  }
}

TEST_F(LangTest, ParseTransFileMissingEmptyAndLong) {
  EXPECT_EQ(ParseTransFile("absent.conf"), nullptr);
  writeFile("empty.conf", "");
  EXPECT_EQ(ParseTransFile("empty.conf"), nullptr);
  EXPECT_EQ(ParseTransFile(nullptr), nullptr);

  // A map longer than the normalised text's limit is cut there.
  std::string big;
  while (big.size() < 20000) big += "ab_CD = ab_CD ab\n";
  writeFile("big.conf", big);
  char *r = ParseTransFile("big.conf");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(strlen(r), static_cast<size_t>(NLS_TRANS_SIZE - 1));
  EXPECT_EQ(std::string(r, 18), "ab_CD = ab_CD ab \n");
  PutMem(r);
}

// -------------------------------------------------- choosing the language --

TEST_F(LangTest, LanguageFromLangAndMap) {
  struct Case {
    const char *name;
    const char *lang;       // null: LANG unset
    const char *transConf;  // null: no trans.conf
    const char *map999;     // null: no English core catalogue
    const char *want;
  } cases[] = {
      {"nothing at all", nullptr, nullptr, nullptr, "en_US"},
      {"codeset cut, listed", "fr_CA.ISO8859-1", "fr_FR = fr_FR fr_CA fr\n", nullptr, "fr_FR"},
      {"not listed, default", "xx_YY", "Default de_DE\nfr_FR = fr_FR\n", nullptr, "de_DE"},
      {"not listed, no default", "xx_YY", "fr_FR = fr_FR\n", nullptr, "en_US"},
      {"whole word without codeset", "fr", "fr_FR = fr_FR fr_CA\n", nullptr, "en_US"},
      {"prefix with codeset", "fr_FR.UTF-8", "xx_XX = fr_FRx\n", nullptr, "xx_XX"},
      {"second line", "de_AT", "en_US = en_US\nde_DE = de_DE de_AT\n", nullptr, "de_DE"},
      {"comments ignored", "de", "# de_XX = de\nde_DE = de # de_XX\n", nullptr, "de_DE"},
      {"comment ends its line", "fr", "de_DE = de # German\nfr_FR = fr\n", nullptr, "fr_FR"},
      {"name at line start", "de_DE", "de_DE = de\n", nullptr, "en_US"},
      {"default word decides by earlier =", "de_DE", "Default de_DE\nfr_FR = fr\n", nullptr,
       "en_US"},
      {"empty LANG as unset", "", "Default de_DE\nen_US = ___LANG_NOT_SET___\n", nullptr,
       "en_US"},
      {"codeset alone as unset", ".UTF-8", "Default de_DE\nfr_FR = fr\n", nullptr, "de_DE"},
      {"nothing on the line of the =", "f", "= # c\ne f\n", nullptr, "en_US"},
      {"unset, fallback map", nullptr, nullptr, "de_DE = ___LANG_NOT_SET___ \n", "de_DE"},
      {"unset, fallback lacks it", nullptr, nullptr, "de_DE = de \n", "en_US"},
      {"fallback default", "pt_BR", nullptr, "Default fr_FR \nde_DE = de \n", "fr_FR"},
      {"trans.conf before fallback", "de", "it_IT = de\n", "de_DE = de \n", "it_IT"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    resetLanguage();
    unlink(path("trans.conf").c_str());
    unlink(path("db/en_US/CoreString.tdb").c_str());
    if (c.transConf != nullptr) writeFile("trans.conf", c.transConf);
    if (c.map999 != nullptr)
      writeCatalogue("en_US", "CoreString", {{"25_1", text("x")}, {"999_1", text(c.map999)}});
    setLang(c.lang);
    // The fallback catalogue is opened by its name under the tool's "db".
    char *lang = GetDesiredNLSLang();
    ASSERT_NE(lang, nullptr);
    EXPECT_STREQ(lang, c.want);
    EXPECT_EQ(pTransBuf != nullptr, c.transConf != nullptr);
  }
}

TEST_F(LangTest, LanguageIsChosenOnce) {
  writeFile("trans.conf", "de_DE = de_DE\nfr_FR = fr_FR\n");
  setLang("de_DE");
  char *first = GetDesiredNLSLang();
  EXPECT_STREQ(first, "de_DE");
  setLang("fr_FR");
  EXPECT_EQ(GetDesiredNLSLang(), first);
  EXPECT_STREQ(GetDesiredNLSLang(), "de_DE");
}

// -------------------------------------------------------- opening catalogues --

TEST_F(LangTest, OpenEnglishAndOtherCatalogues) {
  writeCatalogue("en_US", "Core", {{"25_1", text("English")}});
  writeCatalogue("de_DE", "Core", {{"25_1", text("Deutsch")}});
  writeFile("trans.conf", "de_DE = de_DE\n");
  struct Case {
    const char *lang;
    const char *topic;
    const char *want;  // text of 25_1; null: no handle
    const char *err;
  } cases[] = {
      {"de_DE.UTF-8", "Core", "Deutsch", ""},
      {"en_US", "Core", "English", ""},
      {"de_DE", "Missing", "25_1", ""},
      {"en_US", "Missing", nullptr, "ERROR:  Could not open English database:  "},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.lang) + " " + c.topic);
    resetLanguage();
    setLang(c.lang);
    testing::internal::CaptureStderr();
    DbTHandle *db = NlsOpenDB(c.topic, 0);
    std::string err = testing::internal::GetCapturedStderr();
    if (c.want == nullptr) {
      EXPECT_EQ(db, nullptr);
      std::string file = dir_ + "/db/en_US/" + c.topic + ".tdb";
      EXPECT_EQ(err, std::string(c.err) + file + "\n");
      continue;
    }
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(err, "");
    char *s = NlsFetchString(db, nullptr, 0, 25, 1);
    EXPECT_STREQ(s, c.want);
    if (strcmp(s, "25_1") != 0) PutMem(s);
    DbTClose(db);
  }
}

// A missing English catalogue gives null and leaves the record files' path
// mode as the application set it.
TEST_F(LangTest, MissingEnglishCatalogueKeepsPathMode) {
  setLang("en_US");
  for (unsigned char mode : {0, 1}) {
    SCOPED_TRACE(static_cast<int>(mode));
    DbmV4DriverPathHandling = mode;
    testing::internal::CaptureStderr();
    EXPECT_EQ(NlsOpenDB("Missing", 0), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(DbmV4DriverPathHandling, mode);
  }
  DbmV4DriverPathHandling = 0;
}

// A relative base directory is still taken as a directory, not as a name
// under it.
TEST_F(LangTest, OpenWithRelativeToolPath) {
  writeCatalogue("en_US", "Core", {{"25_1", text("English")}});
  char cwd[1024];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir("/tmp"), 0);
  char rel[256];
  snprintf(rel, sizeof rel, "%s", dir_.c_str() + strlen("/tmp/"));
  pToolPath = rel;
  setLang("en_US");
  testing::internal::CaptureStderr();
  DbTHandle *db = NlsOpenDB("Core", 0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "");
  ASSERT_NE(db, nullptr);
  char out[32];
  EXPECT_STREQ(NlsFetchString(db, out, 0, 25, 1), "English");
  DbTClose(db);
  pToolPath = toolPath_;
  ASSERT_EQ(chdir(cwd), 0);
}

// ------------------------------------------------- the shipped catalogues --

#ifdef TARNU_CATALOGUE_DIR
constexpr const char *kKeys[] = {
    "25_201",  "25_202",  "25_203",  "25_204",  "25_205",  "25_206",  "25_207",  "25_208",
    "25_230",  "25_231",  "25_232",  "25_270",  "25_271",  "25_510",  "25_1000", "25_1001",
    "25_1002", "25_1003", "25_1004", "25_1005", "25_1006", "25_1007", "25_1008", "25_1009",
    "25_1010", "25_1011", "25_1012", "25_1013", "25_1014", "25_1015", "25_1016", "25_1017",
    "25_1018", "25_1019", "25_1020", "25_1021", "25_1022", "25_1023", "25_1024", "30_22",
    "30_42",   "30_44",   "20_150",  "20_151",  "20_152",  "999_1"};

// The printf conversions of a text in order ("%i%s", "%Lf%Lf").
std::string conversions(const char *s) {
  std::string out;
  for (const char *p = strchr(s, '%'); p != nullptr; p = strchr(p, '%')) {
    size_t n = 1 + strspn(p + 1, "Ll");
    out.append(p, n + 1);
    p += n + (p[n] != '\0');
  }
  return out;
}

class ShippedTest : public NlsTest {
 protected:
  void SetUp() override {
    NlsTest::SetUp();
    snprintf(shipped_, sizeof shipped_, "%s", TARNU_CATALOGUE_DIR);
    pToolPath = shipped_;
  }
  char shipped_[1024];
};

TEST_F(ShippedTest, EveryLanguageHasEveryKeyWithTheSameArguments) {
  setLang("en_US");
  DbTHandle *en = NlsOpenDB("CoreString", 0);
  ASSERT_NE(en, nullptr);
  DbTHandle *de = DbTOpen((std::string(shipped_) + "/db/de_DE/CoreString.tdb").c_str(), 0);
  ASSERT_NE(de, nullptr);
  ASSERT_NE(de->type, DBT_TYPE_NONE);
  for (const char *key : kKeys) {
    SCOPED_TRACE(key);
    char e[NLS_STRBUF_SIZE], g[NLS_STRBUF_SIZE];
    EXPECT_EQ(NlsFetchString(en, e, 1, key), e);
    EXPECT_EQ(NlsFetchString(de, g, 1, key), g);
    EXPECT_EQ(conversions(e), conversions(g));
  }
  DbTClose(en);
  DbTClose(de);
}

// The built catalogues are not writable by others, whatever the umask.
TEST_F(ShippedTest, CataloguesAreReadOnlyForOthers) {
  for (const char *lang : {"en_US", "de_DE"}) {
    SCOPED_TRACE(lang);
    struct stat st;
    ASSERT_EQ(stat((std::string(shipped_) + "/db/" + lang + "/CoreString.tdb").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
  }
}

TEST_F(ShippedTest, EnglishWording) {
  setLang("C");
  pDrvCoreDB = NlsOpenDB("CoreString", 0);
  ASSERT_NE(pDrvCoreDB, nullptr);
  struct Case {
    int set, number;
    const char *want;
  } cases[] = {
      {25, 1011, "\nAll names must be set before applying setup.\nPress <Return> to continue"},
      {25, 1016, "reading from standard input"},
      {25, 1017, "\nDo you want to return to %s menu"},
      {25, 1018, "\nDo you want to exit %s"},
      {25, 1000, "\nPress <Return> to continue "},
      {25, 230, " or s for store settings in a file"},
      {25, 231, " or h for help"},
      {25, 232, " or <Return> to exit"},
      {25, 1003, "This number must be between %i to %i."},
      {25, 1020, "Only one '.' may be entered."},
      {30, 42, "This text length must be from %i to %i characters long."},
      {20, 150, "~e Exit Help"},
      {20, 151, "~c Contents"},
      {20, 152, "~b Back"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.want);
    char out[NLS_STRBUF_SIZE];
    EXPECT_STREQ(NlsFetchString(pDrvCoreDB, out, 0, c.set, c.number), c.want);
  }
  Nlssprintf(NlsBuf, pDrvCoreDB, 30, 42, 3, 8);
  EXPECT_STREQ(NlsBuf, "This text length must be from 3 to 8 characters long.");
}

TEST_F(ShippedTest, LanguageMapOfTheBuild) {
  struct Case {
    const char *lang;
    const char *want;
  } cases[] = {
      {"de_AT.UTF-8", "de_DE"}, {"de", "de_DE"},    {"en_GB.UTF-8", "en_US"},
      {"C", "en_US"},           {"ja_JP", "en_US"}, {nullptr, "en_US"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.lang ? c.lang : "(unset)");
    resetLanguage();
    setLang(c.lang);
    EXPECT_STREQ(GetDesiredNLSLang(), c.want);
  }
}
#endif

}  // namespace
