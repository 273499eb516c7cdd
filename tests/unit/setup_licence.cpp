// Tests of the licence dialogue and the message tables: the target language
// from LANG through the alias table, the choice of message table, the
// completeness of the six tables (same placeholders in the same order as
// English), the fifteen licence texts and the reading of the answer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Dbm.h"
#include "NlsUtils.h"
#include "embedded.h"
#include "setup.h"

namespace {

void setLang(const char *value) {
  if (value == nullptr) unsetenv("LANG");
  else setenv("LANG", value, 1);
  ResetSetupLanguage();
}

// The printf conversions of a text, in order ("%%" is not one).
std::vector<std::string> conversions(const char *text) {
  std::vector<std::string> out;
  for (const char *p = text; *p; ++p) {
    if (*p != '%') continue;
    if (p[1] == '%') {
      ++p;
      continue;
    }
    std::string conv = "%";
    ++p;
    while (*p && std::string("-+ #0123456789.*hlLqjzt").find(*p) != std::string::npos) conv += *p++;
    if (*p) conv += *p;
    out.push_back(conv);
    if (!*p) break;
  }
  return out;
}

TEST(SetupLicence, TargetLanguageFromLang) {
  struct Case {
    const char *lang;      // null: unset
    const char *code;      // GetTargetNLSLang
    const char *envAfter;  // LANG as the environment holds it afterwards
  };
  const Case cases[] = {
      {nullptr, "en_US", nullptr},
      {"de_DE.UTF-8", "ge_GE", "de_DE"},
      {"ge_GE", "ge_GE", "ge_GE"},
      {"sv_FI", "fi_FI", "sv_FI"},  // first occurrence lies in the fi_FI entry
      {"sv_SE.ISO-8859-1", "sv_SE", "sv_SE"},
      {"en_ZW", "en_US", "en_ZW"},  // continuation line of the first entry
      {"en_GB.UTF-8", "en_US", "en_GB"},
      {"da_DK", "da_DK", "da_DK"},
      {"POSIX", "en_US", "POSIX"},
      {"C.UTF-8", "en_US", "C"},
      {"", "en_US", ""},
      {"pt_PT", "pr_BR", "pt_PT"},
      {"nn_NO", "no_NO", "nn_NO"},
      {"es_MX", "es_ES", "es_MX"},
      {"es", "pr_BR", "es"},  // plain substring search: "portuguese" comes first
      {"fr", "fr_FR", "fr"},
      {"français", "fr_FR", "français"},
      {"ru_UA", "ru_RU", "ru_UA"},
      {"tr_TR", "tr_TR", "tr_TR"},
      {"De_DE", "ge_GE", "De_DE"},
      {"xx_YY", "en_US", "xx_YY"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.lang ? c.lang : "(unset)");
    setLang(c.lang);
    EXPECT_STREQ(GetTargetNLSLang(), c.code);
    const char *env = getenv("LANG");
    if (c.envAfter == nullptr) EXPECT_EQ(env, nullptr);
    else EXPECT_STREQ(env, c.envAfter);
  }
}

TEST(SetupLicence, TargetLanguageIsCached) {
  setLang("ge_GE");
  EXPECT_STREQ(GetTargetNLSLang(), "ge_GE");
  setenv("LANG", "fr_FR", 1);
  EXPECT_STREQ(GetTargetNLSLang(), "ge_GE");
  setLang(nullptr);
}

TEST(SetupLicence, MessageTableFromLang) {
  struct Case {
    const char *lang;
    int table;  // 0 English .. 5 Portuguese
  };
  const Case cases[] = {
      {nullptr, 0},       {"en_US", 0},       {"es_ES.UTF-8", 1}, {"it_IT", 2},
      {"fr_FR", 3},       {"ge_GE", 4},       {"pr_BR", 5},       {"de_DE.UTF-8", 0},
      {"pt_BR", 0},       {"fr_FR@euro", 0},  {"es", 0},          {"POSIX", 0},
      {"", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.lang ? c.lang : "(unset)");
    setLang(c.lang);
    EXPECT_EQ(nlsSetupStrCvt(63), GetSetupMessageTable(c.table)[63]);
    EXPECT_EQ(pCurLang, GetSetupMessageTable(c.table));
  }
  setLang(nullptr);
  EXPECT_STREQ(nlsSetupStrCvt(71), "");
  EXPECT_STREQ(nlsSetupStrCvt(-1), "");
  EXPECT_STREQ(nlsSetupStrCvt(21), "can't open file, %sInstall/disks");
}

TEST(SetupLicence, EveryTableIsCompleteWithTheEnglishPlaceholders) {
  const char *const *english = GetSetupMessageTable(0);
  ASSERT_NE(english, nullptr);
  EXPECT_EQ(GetSetupMessageTable(6), nullptr);
  for (int t = 1; t <= 5; ++t) {
    const char *const *table = GetSetupMessageTable(t);
    ASSERT_NE(table, nullptr);
    for (int m = 0; m < kSetupMessages; ++m) {
      SCOPED_TRACE("table " + std::to_string(t) + " message " + std::to_string(m));
      ASSERT_NE(table[m], nullptr);
      EXPECT_EQ(conversions(table[m]), conversions(english[m]));
    }
    for (int same : {15, 16, 57}) EXPECT_STREQ(table[same], english[same]) << same;
  }
  EXPECT_STREQ(NLS_SPANISH[58], NLS_ENGLISH[58]);
  EXPECT_STREQ(NLS_PORTUGUESE[59], NLS_ENGLISH[59]);
  // Translated tables are translations, not copies (a sample of texts).
  for (int t = 1; t <= 5; ++t)
    for (int m : {3, 35, 49, 63, 66, 69})
      EXPECT_STRNE(GetSetupMessageTable(t)[m], english[m]) << t << " " << m;
}

TEST(SetupLicence, QuestionShowsTheLanguagesLetters) {
  const char *letters[] = {"[yn]", "[sn]", "[sn]", "[on]", "[jn]", "[sn]"};
  for (int t = 0; t <= 5; ++t) {
    SCOPED_TRACE(t);
    EXPECT_NE(std::string(GetSetupMessageTable(t)[63]).find(letters[t]), std::string::npos);
  }
}

TEST(SetupLicence, FifteenLicenceTexts) {
  const char *codes[] = {"en_US", "es_ES", "it_IT", "fr_FR", "ge_GE", "pr_BR", "cs_CZ", "fi_FI",
                         "hu_HU", "nl_NL", "no_NO", "pl_PL", "ru_RU", "sv_SE", "tr_TR"};
  std::vector<std::string> seen;
  for (const char *code : codes) {
    SCOPED_TRACE(code);
    std::string text = GetEULAText(code);
    ASSERT_GT(text.size(), 200u);
    EXPECT_NE(text.back(), '\n');
    std::string last = text.substr(text.rfind('\n') + 1);
    EXPECT_NE(last.find('y'), std::string::npos);
    EXPECT_NE(last.find('n'), std::string::npos);
    EXPECT_NE(text.find("Tarnu"), std::string::npos);
    for (const auto &s : seen) EXPECT_NE(s, text);
    seen.push_back(text);
  }
  EXPECT_EQ(GetEULAText("ge_GE"), std::string(FindEmbedded(LicenceTexts, "de_DE.txt")->data));
  EXPECT_EQ(GetEULAText("da_DK"), GetEULAText("en_US"));
  EXPECT_EQ(GetEULAText("xx"), GetEULAText("en_US"));
  EXPECT_EQ(pGermanEULA, GetEULAText("ge_GE"));
  EXPECT_EQ(pTurkishEULA, GetEULAText("tr_TR"));
}

// Runs UserAcceptedEULA on the given standard input; returns its result and
// what it printed, and the next line of input left over.
struct Answer {
  int accepted;
  std::string shown;
  std::string rest;
};
Answer answer(const std::string &input) {
  char path[] = "/tmp/tarnu-test-eula.XXXXXX";
  int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
  close(fd);
  EXPECT_NE(freopen(path, "r", stdin), nullptr);
  testing::internal::CaptureStdout();
  Answer a;
  a.accepted = UserAcceptedEULA(nullptr);
  a.shown = testing::internal::GetCapturedStdout();
  char buf[64];
  a.rest = Gets(buf, sizeof buf) ? buf : "(end)";
  unlink(path);
  return a;
}

TEST(SetupLicence, AnswerToTheLicence) {
  setLang(nullptr);
  struct Case {
    const char *input;
    int accepted;
    const char *rest;
  };
  const Case cases[] = {
      {"y\n", 1, "(end)"},       {"Y\n", 1, "(end)"},         {"yes\n", 1, "(end)"},
      {"Yes\nnext\n", 1, "next"}, {"yessir\nnext\n", 1, "next"}, {"n\n", 0, "(end)"},
      {"\n", 0, "(end)"},        {"", 0, "(end)"},            {"no\n", 0, "(end)"},
      {" y\n", 0, "(end)"},      {"y", 1, "(end)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.input)));
    Answer a = answer(c.input);
    EXPECT_EQ(a.accepted, c.accepted);
    EXPECT_EQ(a.shown, std::string(GetEULAText("en_US")) + " ");
    EXPECT_EQ(a.rest, c.rest);
  }
}

TEST(SetupLicence, LicenceInTheUsersLanguage) {
  setLang("de_DE.UTF-8");
  Answer a = answer("n\n");
  EXPECT_EQ(a.accepted, 0);
  EXPECT_EQ(a.shown, std::string(FindEmbedded(LicenceTexts, "de_DE.txt")->data) + " ");
  setLang(nullptr);
}


// The installer and the translation catalogue each cache a language of their
// own; one program holds both without either seeing the other's choice.
TEST(SetupLicence, InstallerAndCatalogueKeepTheirOwnLanguage) {
  char base[] = "/tmp/tarnu-lang-XXXXXX";
  ASSERT_NE(mkdtemp(base), nullptr);
  char *savedToolPath = pToolPath;
  pToolPath = base;
  setLang("de_DE");
  NlsResetLanguage();
  EXPECT_STREQ(GetTargetNLSLang(), "ge_GE");
  EXPECT_STREQ(GetDesiredNLSLang(), "en_US");   // no language map under base
  EXPECT_STREQ(GetTargetNLSLang(), "ge_GE");
  NlsResetLanguage();
  pToolPath = savedToolPath;
  setLang(nullptr);
  EXPECT_EQ(system((std::string("rm -rf ") + base).c_str()), 0);
}

}  // namespace
