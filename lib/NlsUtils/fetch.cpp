// Message lookup in the translation catalogue and formatted output of
// catalogue messages.
//
// A value is read into StrBuf (2,048 bytes) through the sized fetch of the
// typed-record layer, so a catalogue text longer than StrBuf is cut there
// instead of overrunning it; the long-text mode 3 returns a block of any
// length. A missing text is answered with its key text, an invalid fetch
// with the shared "Error".
#include "NlsUtils.h"

#include <strings.h>

#include <cstdint>
#include <cstring>

#include "Handles.h"
#include "MemMgr.h"
#include "TextMenuTypes.h"

namespace {

char errorText[] = "Error";
// Key text of the last numeric fetch: the result for a missing message,
// valid until the next fetch.
char numberKey[32];

// Reads the value of key into StrBuf, always terminated and cut at
// NLS_STRBUF_SIZE - 1 characters. Returns its length in StrBuf (the stored
// length, NUL included, when it fitted), or 0 when it is missing or empty.
int readValue(DbTHandle *db, const char *key) {
  if (db == nullptr) return 0;
  char *buf = StrBuf;
  int len = DbmTGetRecordV(db, key, &buf, NLS_STRBUF_SIZE);
  if (len <= 0) return 0;
  if (buf != StrBuf) {
    // Longer than StrBuf: the layer handed over a block of its own.
    memcpy(StrBuf, buf, NLS_STRBUF_SIZE - 1);
    StrBuf[NLS_STRBUF_SIZE - 1] = '\0';
    PutMem(buf);
    return NLS_STRBUF_SIZE - 1;
  }
  StrBuf[len < NLS_STRBUF_SIZE ? len : NLS_STRBUF_SIZE - 1] = '\0';
  return len < NLS_STRBUF_SIZE ? len : NLS_STRBUF_SIZE - 1;
}

// The key text as the answer for a missing message; out gets a copy.
char *answerMissing(char *out, const char *key) {
  if (out != nullptr && out != key) memmove(out, key, strlen(key) + 1);
  return const_cast<char *>(key);
}

// Message set_number of db without allocation: StrBuf when found, the key
// text when missing, "Error" when invalid.
const char *lookupNumber(DbTHandle *db, int set, int number) {
  if (db == nullptr && (set == 0 || number == 0)) return pErrBuf;
  snprintf(numberKey, sizeof numberKey, "%d_%d", set, number);
  return readValue(db, numberKey) > 0 ? StrBuf : numberKey;
}

// Writes into sig what the conversions of a printf format take from the
// arguments, in order: "*" for a width or precision, then the length
// modifier and the kind of value ("i" integer, "f" floating, "s" string,
// "p" pointer), each closed by ",". False for a text that is no format we
// use: an unfinished or unknown conversion, a positional argument, or %n,
// which would write into the caller's memory.
bool readConversions(const char *text, BoundedBuf &sig) {
  for (const char *p = strchr(text, '%'); p != nullptr; p = strchr(p, '%')) {
    ++p;
    if (*p == '%') {
      ++p;
      continue;
    }
    p += strspn(p, "-+ #0'I");
    if (*p == '*') {
      sig.append('*');
      ++p;
    }
    const char *digits = p;
    p += strspn(p, "0123456789");
    if (*p == '$' && p != digits) return false;
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        sig.append('*');
        ++p;
      }
      p += strspn(p, "0123456789");
    }
    size_t len = strspn(p, "hlLqjzt");
    if (len > 2) return false;
    sig.append(p, len);
    p += len;
    if (*p == '\0') return false;
    const char *kind;
    if (strchr("diouxXc", *p) != nullptr) kind = "i";
    else if (strchr("eEfFgGaA", *p) != nullptr) kind = "f";
    else if (*p == 's') kind = "s";
    else if (*p == 'p') kind = "p";
    else if (*p == 'C') kind = "li";
    else if (*p == 'S') kind = "ls";
    else if (*p == 'm') kind = "";   // the text of errno: takes no argument
    else return false;                // %n among them
    sig.append(kind);
    sig.append(',');
    ++p;
  }
  return !sig.cut();
}

// The English catalogue of the same topic as db: for a catalogue
// ".../db/<language>/<topic>.tdb" the file ".../db/en_US/<topic>.tdb". Null
// for the English catalogue itself and for a database that is no catalogue
// of a language. The handle is kept for the next call; one for another
// topic replaces it.
DbTHandle *englishOf(DbTHandle *db) {
  static DbTHandle *english = nullptr;
  static char englishPath[DBM_PATH_SIZE];
  char path[DBM_PATH_SIZE];
  if (db == nullptr || !DbTPath(db->pName, path, sizeof path)) return nullptr;
  char *file = strrchr(path, '/');
  if (file == nullptr) return nullptr;
  *file++ = '\0';
  char *lang = strrchr(path, '/');
  if (lang == nullptr) return nullptr;
  *lang++ = '\0';
  const char *parent = strrchr(path, '/');
  parent = parent != nullptr ? parent + 1 : path;
  if (strcmp(parent, "db") != 0 || strcmp(lang, "en_US") == 0) return nullptr;
  // A relative path is given a leading "./", so that the typed layer takes
  // it as a path and not as a database name.
  const char *lead = (path[0] == '/' || path[0] == '.') ? "" : "./";
  char want[DBM_PATH_SIZE];
  int n = snprintf(want, sizeof want, "%s%s/en_US/%s", lead, path, file);
  if (n < 0 || static_cast<size_t>(n) >= sizeof want) return nullptr;
  if (english != nullptr && strcmp(want, englishPath) == 0) return english;
  // Closing a handle also switches off the record files' path mode, which
  // is not ours to change here.
  unsigned char pathMode = DbmV4DriverPathHandling;
  DbTClose(english);
  DbmV4DriverPathHandling = pathMode;
  english = DbTOpen(want, 0);
  CopyStr(englishPath, sizeof englishPath, want);
  return english;
}

// The text to use as the format of message key of db, text being what db
// holds: text when its conversions are those of the English text of the
// same key, otherwise the English text; null when neither can be used.
// A replacement is handed to hold, which frees it.
const char *checkedFormat(DbTHandle *db, const char *key, const char *text, MemHolder &hold) {
  char mine[256];
  char theirs[256];
  BoundedBuf mineSig(mine);
  BoundedBuf theirSig(theirs);
  bool usable = readConversions(text, mineSig);
  DbTHandle *english = englishOf(db);
  if (english == nullptr) return usable ? text : nullptr;
  char *reference = NlsFetchString(english, nullptr, NLS_BY_KEY, key);
  if (reference == key || reference == pErrBuf) return nullptr;
  hold.reset(reference);
  if (!readConversions(reference, theirSig)) return nullptr;
  return usable && strcmp(mine, theirs) == 0 ? text : reference;
}

enum class ItemField { Label, Choices, Prompt };

// Stores a new copy of message 25_(first + i), cut at 127 characters, in
// the chosen field of each item.
int fillItems(TextMenuItem *items, int first, int count, ItemField field) {
  if (items == nullptr) return 0;
  for (int i = 0; i < count; i++) {
    char work[NLS_ITEM_WORK_SIZE];
    CopyStr(work, sizeof work, lookupNumber(pDrvCoreDB, 25, first + i));
    char *copy = SaveStr_(work);
    if (field == ItemField::Label)
      items[i].label = copy;
    else if (field == ItemField::Choices)
      items[i].choices = copy;
    else
      items[i].prompt = copy;
  }
  return count;
}

}  // namespace

char *pErrBuf = errorText;
char StrBuf[NLS_STRBUF_SIZE];
char TmpKey[NLS_TMPKEY_SIZE];
char StrVal[NLS_STRVAL_SIZE];
char NlsBuf[NLS_BUF_SIZE];
DbTHandle *pDrvCoreDB = nullptr;
DbTHandle *pPrtCoreDB = nullptr;
DbTHandle *pPrtHelpDB = nullptr;

char *NlsFetchString(DbTHandle *db, char *out, int mode, ...) {
  va_list ap;
  va_start(ap, mode);
  char *s = NlsFetchStringV(db, out, mode, ap);
  va_end(ap);
  return s;
}

char *NlsFetchStringV(DbTHandle *db, char *out, int mode, va_list ap) {
  const char *key;
  if (mode == NLS_BY_NUMBER || mode == NLS_BY_NUMBER_LONG) {
    int set = va_arg(ap, int);
    int number = va_arg(ap, int);
    if (db == nullptr && (set == 0 || number == 0)) return pErrBuf;
    snprintf(numberKey, sizeof numberKey, "%d_%d", set, number);
    key = numberKey;
  } else if (mode == NLS_BY_KEY || mode == NLS_BY_KEY2) {
    key = va_arg(ap, const char *);
    if (db == nullptr || key == nullptr) return pErrBuf;
  } else {
    return pErrBuf;
  }

  if (mode == NLS_BY_NUMBER_LONG) {
    // A found text never touches out; a missing one is copied into it as in
    // the other modes.
    if (db == nullptr) return answerMissing(out, key);
    char *buf = StrBuf;
    int len = DbmTGetRecordV(db, key, &buf, NLS_STRBUF_SIZE);
    if (len <= 0) return answerMissing(out, key);
    if (buf != StrBuf) return buf;   // a block of its own, terminated by GetMem
    auto *copy = static_cast<char *>(GetMem(static_cast<size_t>(len) + 1));
    if (copy == nullptr) return answerMissing(out, key);
    memcpy(copy, StrBuf, static_cast<size_t>(len));
    return copy;
  }

  int len = readValue(db, key);
  if (len == 0) return answerMissing(out, key);
  if (out == nullptr) return SaveStr_(StrBuf);
  // As strncpy with the value length as the limit; StrBuf is terminated
  // within NLS_STRBUF_SIZE, so out never receives more than that.
  size_t n = strnlen(StrBuf, static_cast<size_t>(len));
  memcpy(out, StrBuf, n);
  if (n < static_cast<size_t>(len))
    memset(out + n, 0, static_cast<size_t>(len) - n);
  else
    out[n] = '\0';
  return out;
}

void Nlsfprintf(FILE *stream, DbTHandle *db, int set, int number, ...) {
  va_list ap;
  va_start(ap, number);
  NlsfprintfV(stream, db, set, number, ap);
  va_end(ap);
}

void NlsfprintfV(FILE *stream, DbTHandle *db, int set, int number, va_list ap) {
  if (stream == nullptr) return;
  char key[32];
  snprintf(key, sizeof key, "%d_%d", set, number);
  char *text = NlsFetchString(db, nullptr, NLS_BY_KEY, key);
  if (text == key || text == pErrBuf) {
    fputs("Error", stream);
    return;
  }
  MemHolder hold(text);
  MemHolder holdEnglish;
  const char *format = checkedFormat(db, key, text, holdEnglish);
  if (format == nullptr) {
    fputs("Error", stream);
    return;
  }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  vfprintf(stream, format, ap);
#pragma GCC diagnostic pop
}

void Nlssprintf(char *dst, DbTHandle *db, int set, int number, ...) {
  va_list ap;
  va_start(ap, number);
  NlssnprintfV(dst, NLS_BUF_SIZE, db, set, number, ap);
  va_end(ap);
}

void NlssprintfV(char *dst, DbTHandle *db, int set, int number, va_list ap) {
  NlssnprintfV(dst, NLS_BUF_SIZE, db, set, number, ap);
}

void Nlssnprintf(char *dst, size_t size, DbTHandle *db, int set, int number, ...) {
  va_list ap;
  va_start(ap, number);
  NlssnprintfV(dst, size, db, set, number, ap);
  va_end(ap);
}

void NlssnprintfV(char *dst, size_t size, DbTHandle *db, int set, int number, va_list ap) {
  if (dst == nullptr || size == 0) return;
  char *text = NlsFetchString(db, nullptr, NLS_BY_NUMBER, set, number);
  if (text == numberKey || text == pErrBuf) {
    CopyStr(dst, size, "Error");
    return;
  }
  MemHolder hold(text);
  char key[sizeof numberKey];
  CopyStr(key, sizeof key, numberKey);
  MemHolder holdEnglish;
  const char *format = checkedFormat(db, key, text, holdEnglish);
  if (format == nullptr) {
    CopyStr(dst, size, "Error");
    return;
  }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  vsnprintf(dst, size, format, ap);
#pragma GCC diagnostic pop
}

char *NlsGuiStrCvt(const char *tmpl, int set, char *out, int size) {
  if (out == nullptr || size <= 0) return out;
  memset(out, 0, static_cast<size_t>(size));
  if (tmpl == nullptr) return out;
  size_t cap = static_cast<size_t>(size) - 1;
  size_t used = 0;
  int k = 0;
  char work[NLS_GUI_WORK_SIZE];
  for (const char *p = tmpl; *p != '\0' && used < cap; p++) {
    if (p[0] == '%' && p[1] == 's') {
      // The text is fetched into the cleared work buffer; an invalid fetch
      // (no catalogue and set 0) leaves it empty.
      memset(work, 0, sizeof work);
      const char *text = lookupNumber(pDrvCoreDB, set, ++k);
      if (text != pErrBuf) CopyStr(work, sizeof work, text);
      size_t n = strlen(work);
      if (n > cap - used) n = cap - used;
      memcpy(out + used, work, n);
      used += n;
      p++;
    } else {
      out[used++] = *p;
    }
  }
  out[used] = '\0';
  return out;
}

void NlsTtyMenuCvt(const char **text, int number) {
  if (text == nullptr) return;
  *text = SaveStr_(lookupNumber(pDrvCoreDB, 25, number));
}

int NlsTtyMenuItemCvt(TextMenuItem *items, int first, int count) {
  return fillItems(items, first, count, ItemField::Label);
}

int NlsTtyMenuItemStateCvt(TextMenuItem *items, int first, int count) {
  return fillItems(items, first, count, ItemField::Choices);
}

int NlsTtyMenuItemPromptCvt(TextMenuItem *items, int first, int count) {
  return fillItems(items, first, count, ItemField::Prompt);
}

// sum = the bytes as signed 8-bit values, weighted = the same times the
// square of their 1-based position, both wrapping at 32 bits.
char *NlsCalcStrVal(const char *text) {
  uint32_t sum = 0;
  uint32_t weighted = 0;
  if (text != nullptr) {
    uint32_t i = 1;
    for (const char *p = text; *p != '\0'; p++, i++) {
      auto c = static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(*p)));
      sum += c;
      weighted += i * i * c;
    }
  }
  snprintf(StrVal, sizeof StrVal, "%08X%08X", static_cast<unsigned>(weighted),
           static_cast<unsigned>(sum));
  return StrVal;
}

char *FindRedirect(char *text) {
  if (text == nullptr) return nullptr;
  char *mark = strstr(text, "$$");
  if (mark == nullptr) return nullptr;
  char *dot = strchr(mark + 2, '.');
  if (dot == nullptr || strncasecmp(dot, ".redirect", 9) != 0) return nullptr;
  *dot = '\0';
  return mark + 2;
}

char *CheckForRedirect(char *text) {
  char *name = FindRedirect(text);
  if (name == nullptr) return nullptr;
  memset(TmpKey, 0, sizeof TmpKey);
  CopyStr(TmpKey, sizeof TmpKey, name);
  NlsFetchString(pPrtHelpDB, text, NLS_BY_KEY, TmpKey);
  return TmpKey;
}
