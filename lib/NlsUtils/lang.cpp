// Choice of the catalogue language and opening of catalogues.
//
// The language comes from LANG through the language map "trans.conf" in the
// tool's base directory (or, without one, from message 999_1 of the English
// core catalogue), and is chosen once per process. In the normalised map
// every word is followed by one blank and every line ends with " \n", so the
// environment name, searched with a blank on both sides, matches whole words
// listed after an "=".
#include "NlsUtils.h"

#include <cstdlib>
#include <cstring>

#include "Handles.h"
#include "MemMgr.h"

namespace {

constexpr int LANG_SIZE = 256;

bool isWordEnd(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The first token of text with the given delimiters, cut to size - 1
// characters; empty when there is none. Unlike GetToken it leaves the
// caller's scan alone.
void copyFirstToken(const char *text, const char *delims, char *out, size_t size) {
  text += strspn(text, delims);
  size_t n = strcspn(text, delims);
  if (n > size - 1) n = size - 1;
  memcpy(out, text, n);
  out[n] = '\0';
}

// The language that the map text gives for the environment name want (" %s"
// with its closing blank unless a codeset was cut off).
void chooseFromMap(const char *map, const char *want, char *lang, size_t size) {
  char def[LANG_SIZE] = "";
  const char *d = strstr(map, "Default");
  if (d != nullptr && d[7] != '\n') {
    const char *q = strchr(d + 7, ' ');
    if (q != nullptr) {
      q += strspn(q, " \t");
      if (*q != '\n' && *q != '\r' && *q != '\0')
        copyFirstToken(q, " \t\r\n", def, sizeof def);
    }
  }

  const char *match = strstr(map, want);
  if (match == nullptr) {
    CopyStr(lang, size, def[0] != '\0' ? def : "en_US");
    return;
  }
  const char *eq = match;
  while (eq > map && *eq != '=') eq--;
  if (*eq != '=') {
    CopyStr(lang, size, "en_US");
    return;
  }
  const char *line = eq;
  while (line > map && line[-1] != '\n') line--;
  copyFirstToken(line, " =", lang, size);
  // The language is a word of that line: a line with nothing before its
  // "=" gives none, rather than a word that runs into the next line.
  lang[strcspn(lang, "\t\r\n")] = '\0';
  if (lang[0] == '\0') CopyStr(lang, size, "en_US");
}

}  // namespace

char *pNLSLang = nullptr;
char *pTransBuf = nullptr;

char *ParseTransFile(const char *name) {
  if (name == nullptr || pToolPath == nullptr) return nullptr;
  MemHolder text(GetSavedFileContent(pToolPath, name));
  const char *t = text.str();
  if (t == nullptr || *t == '\0') return nullptr;

  char out[NLS_TRANS_SIZE];
  BoundedBuf b(out);
  bool prevDefault = false;
  size_t i = 0;
  size_t n = strlen(t);
  while (i < n) {
    char c = t[i];
    if (c == '#') {
      size_t end = strcspn(t + i, "\r\n");
      if (t[i + end] == '\0') break;
      i += end;
      // A comment after the words of a line still ends that line; without
      // the line end the next line's names would count for this language.
      if (t[i] == '\n' && b.size() > 0 && out[b.size() - 1] != '\n') b.append("\n");
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      i++;
    } else if (c == '=') {
      b.append("= ");
      i++;
    } else {
      size_t start = i;
      while (i < n && !isWordEnd(t[i])) i++;
      size_t len = i - start;
      bool atEnd = i >= n;
      char term = atEnd ? '\0' : t[i++];
      b.append(t + start, len);
      b.append(term == '\n' || prevDefault ? " \n" : " ");
      prevDefault = len == 7 && strncmp(t + start, "Default", 7) == 0;
      if (atEnd) break;
    }
  }
  return SaveStr_(out);
}

char *GetDesiredNLSLang() {
  if (pNLSLang != nullptr) return pNLSLang;

  // An empty LANG, or one with a codeset but no language (".UTF-8"), counts
  // as unset, as it does for the C library's locale choice: searched as a
  // blank or two it would match between any two words of the map and pick
  // a language at random.
  const char *env = getenv("LANG");
  if (env == nullptr || *env == '\0' || *env == '.') env = "___LANG_NOT_SET___";
  char want[LANG_SIZE];
  snprintf(want, sizeof want, " %s ", env);
  if (char *dot = strchr(want, '.')) *dot = '\0';

  if (pTransBuf == nullptr) pTransBuf = ParseTransFile("trans.conf");
  const char *map = pTransBuf;
  MemHolder fallback;
  if (map == nullptr) {
    if (pDrvCoreDB == nullptr) pDrvCoreDB = DbTOpen("en_US/CoreString", 0);
    if (pDrvCoreDB != nullptr) {
      char *text = NlsFetchString(pDrvCoreDB, nullptr, NLS_BY_NUMBER, 999, 1);
      if (text != pErrBuf && strcmp(text, "999_1") != 0) {
        fallback.reset(text);
        map = text;
      }
    }
  }

  char lang[LANG_SIZE];
  if (map != nullptr)
    chooseFromMap(map, want, lang, sizeof lang);
  else
    CopyStr(lang, sizeof lang, "en_US");
  pNLSLang = SaveStr_(lang);
  return pNLSLang;
}

void NlsResetLanguage() {
  PutMem(pNLSLang);
  pNLSLang = nullptr;
  PutMem(pTransBuf);
  pTransBuf = nullptr;
}

DbTHandle *NlsOpenDB(const char *topic, int flags) {
  if (topic == nullptr) return nullptr;
  MemHolder lang(SaveStr_(GetDesiredNLSLang()));
  // The typed layer takes a name that begins with "/" or "." as a path and
  // any other as a database name under <pToolPath>/db, so a relative base
  // directory is given a leading "./".
  const char *base = pToolPath != nullptr ? pToolPath : ".";
  const char *lead = (base[0] == '/' || base[0] == '.') ? "" : "./";
  MemHolder path(SaveStr("%s%s/db/%s/%s.tdb", lead, base, lang.str(), topic));
  DbTHandle *db = DbTOpen(path.str(), flags);
  if (db == nullptr) return nullptr;
  if (db->type == DBT_TYPE_NONE && strncmp(lang.str(), "en_US", 5) == 0) {
    fprintf(stderr, "ERROR:  Could not open English database:  %s\n", path.str());
    // Released by hand: DbTClose would also switch off the record files'
    // path mode, which this failed open has no business changing.
    PutMem(db->pImage);
    PutMem(db->pName);
    PutMem(db);
    return nullptr;
  }
  return db;
}
