// The licence dialogue: the target language from LANG through the alias
// table, the licence text of that language (fifteen texts embedded from
// setup/licence/<code>.txt), and the question that must be answered "y".
//
// The language code is computed once and cached; LANG is cut at its first
// "." in the environment itself, so commands started later see it shortened.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "embedded.h"
#include "MemMgr.h"
#include "setup.h"

const char *pEnglishEULA = nullptr, *pSpanishEULA = nullptr, *pItalianEULA = nullptr,
           *pFrenchEULA = nullptr, *pGermanEULA = nullptr, *pPortugueseEULA = nullptr,
           *pCzechEULA = nullptr, *pFinnishEULA = nullptr, *pHungarianEULA = nullptr,
           *pDutchEULA = nullptr, *pNorwegianEULA = nullptr, *pPolishEULA = nullptr,
           *pRussianEULA = nullptr, *pSwedishEULA = nullptr, *pTurkishEULA = nullptr;

namespace {

// The chosen target code, null until first use. Internal to the installer:
// the translation catalogue caches its own language under the same name.
char *pNLSLang = nullptr;

// The alias table: a line "code = alias..." opens an entry, a line without
// "=" continues the entry above it. Internal to the installer (the
// translation catalogue has a language map of its own).
const char pTransBuf[] =
    "en_US = en_US en english en_AU en_BW en_CA\n"
    "en_DK en_GB en_IE en_NZ en_SE en_ZA en_ZW\n"
    "pr_BR = pr_BR pt portuguese pt_BR pt_PT\n"
    "fr_FR = fr_FR fr français french fr_BE fr_CA fr_CH fr\n"
    "it_IT = it_IT it italian\n"
    "ge_GE = ge_GE ge german de de_AT de_CH De_DE de_DE\n"
    "es_ES = es_ES es spanish español es_AR es_BO es_CL es_CO es_CR es_EC es_GT es_MX es_NI "
    "es_PA es_PE es_PY es_SV es_UY es_VE\n"
    "cs_CZ = cs_CZ\n"
    "fi_FI = fi_FI finnish sv_FI\n"
    "hu_HU = hu_HU hungarian\n"
    "nl_NL = nl_NL nl_BE\n"
    "no_NO = nb_NO nn_NO no_NO norwegian nynorsk se_NO\n"
    "pl_PL = pl_PL\n"
    "ru_RU = ru_RU russian ru_UA\n"
    "sv_SE = sv_FI sv_SE\n"
    "tr_TR = tr_TR\n"
    "da_DK = da_DK danish dansk\n";

constexpr char kTargetCodes[] =
    ",en_US,es_ES,it_IT,fr_FR,ge_GE,pr_BR,cs_CZ,fi_FI,hu_HU,nl_NL,no_NO,pl_PL,ru_RU,sv_SE,tr_TR,";

// The licence of each target code, in the order of kTargetCodes: the
// embedded file and the pointer it is kept in.
struct LicenceSlot {
  const char *file;
  const char **text;
};
const LicenceSlot kLicences[] = {
    {"en_US.txt", &pEnglishEULA},   {"es_ES.txt", &pSpanishEULA},
    {"it_IT.txt", &pItalianEULA},   {"fr_FR.txt", &pFrenchEULA},
    {"de_DE.txt", &pGermanEULA},    {"pt_BR.txt", &pPortugueseEULA},
    {"cs_CZ.txt", &pCzechEULA},     {"fi_FI.txt", &pFinnishEULA},
    {"hu_HU.txt", &pHungarianEULA}, {"nl_NL.txt", &pDutchEULA},
    {"no_NO.txt", &pNorwegianEULA}, {"pl_PL.txt", &pPolishEULA},
    {"ru_RU.txt", &pRussianEULA},   {"sv_SE.txt", &pSwedishEULA},
    {"tr_TR.txt", &pTurkishEULA},
};

void loadLicences() {
  if (pEnglishEULA != nullptr) return;
  for (const LicenceSlot &slot : kLicences) {
    const EmbeddedText *t = FindEmbedded(LicenceTexts, slot.file);
    *slot.text = t != nullptr ? t->data : nullptr;
  }
  if (pEnglishEULA == nullptr) pEnglishEULA = "";
  for (const LicenceSlot &slot : kLicences)
    if (*slot.text == nullptr) *slot.text = pEnglishEULA;
}

// The value of LANG cut at its first "." in place; null when unset.
char *shortenedLang() {
  char *lang = getenv("LANG");
  if (lang != nullptr)
    if (char *dot = strchr(lang, '.')) *dot = '\0';
  return lang;
}

}  // namespace

const char *GetTargetNLSLang() {
  if (pNLSLang != nullptr) return pNLSLang;
  const char *value = shortenedLang();
  if (value == nullptr) value = "en_US";
  const char *hit = strstr(pTransBuf, value);
  if (hit == nullptr) {
    pNLSLang = SaveStr("en_US");
    return pNLSLang;
  }
  // The entry is the nearest line at or above the occurrence that holds "=".
  const char *line = hit;
  for (;;) {
    while (line > pTransBuf && line[-1] != '\n') --line;
    size_t len = strcspn(line, "\n");
    if (memchr(line, '=', len) != nullptr || line == pTransBuf) break;
    --line;  // onto the line end of the line above
  }
  size_t word = strcspn(line, " =\n");
  pNLSLang = SaveStr("%.*s", static_cast<int>(word), line);
  return pNLSLang;
}

const char *GetEULAText(const char *code) {
  loadLicences();
  int pos = FindToken(code, kTargetCodes);
  if (pos >= 1 && pos <= static_cast<int>(sizeof kLicences / sizeof kLicences[0]))
    return *kLicences[pos - 1].text;
  return pEnglishEULA;
}

int UserAcceptedEULA(const char * /*arg*/) {
  printf("%s ", GetEULAText(GetTargetNLSLang()));
  fflush(stdout);
  char answer[4];
  if (Gets(answer, sizeof answer) == nullptr) return 0;
  // Only three characters are looked at; the rest of a longer answer ("yes"
  // and its line end) is not left over for the next question.
  if (strlen(answer) == sizeof answer - 1) {
    int c;
    do c = getchar();
    while (c != '\n' && c != EOF);
  }
  return answer[0] == 'y' || answer[0] == 'Y';
}

void ResetSetupLanguage() {
  PutMem(pNLSLang);
  pNLSLang = nullptr;
  pCurLang = nullptr;
}
