// The translation catalogue: choice of the catalogue language, message
// lookup by set and number or by key text, and formatted output of catalogue
// messages.
//
// A catalogue is a typed-record database "<pToolPath>/db/<language>/<topic>.tdb"
// whose keys are "%d_%d" of a set and a number (or plain names for help
// topics) and whose values are texts stored with their NUL, often printf
// formats. Lookups never fail hard: a missing text is replaced by its key, so
// a screen shows "25_1002" rather than nothing.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdio>

#include "Dbm.h"
#include "TextMenuTypes.h"
#include "utils.h"

constexpr int NLS_STRBUF_SIZE = 2048;    // value buffer of NlsFetchString
constexpr int NLS_TMPKEY_SIZE = 64;      // last redirect target
constexpr int NLS_STRVAL_SIZE = 32;      // result of NlsCalcStrVal
constexpr int NLS_BUF_SIZE = 65535;      // formatted catalogue texts
constexpr int NLS_GUI_WORK_SIZE = 1024;  // one substituted text of NlsGuiStrCvt
constexpr int NLS_ITEM_WORK_SIZE = 128;  // one text of the menu-item functions
constexpr int NLS_TRANS_SIZE = 8192;     // normalised language map, with its NUL

// NlsFetchString modes
constexpr int NLS_BY_NUMBER = 0;         // set, number; value into StrBuf
constexpr int NLS_BY_KEY = 1;            // key text
constexpr int NLS_BY_KEY2 = 2;           // key text (same as 1)
constexpr int NLS_BY_NUMBER_LONG = 3;    // set, number; a new block of any length

// ----------------------------------------------------------- shared state --
extern char *pNLSLang;                   // chosen language, cached
extern char *pTransBuf;                  // normalised language map
extern char *pErrBuf;                    // "Error"; never freed by callers
extern char StrBuf[NLS_STRBUF_SIZE];
extern char TmpKey[NLS_TMPKEY_SIZE];
extern char StrVal[NLS_STRVAL_SIZE];
extern char NlsBuf[NLS_BUF_SIZE];
extern DbTHandle *pDrvCoreDB;            // core catalogue of the menu-item functions
extern DbTHandle *pPrtCoreDB;            // a second core slot for the application
extern DbTHandle *pPrtHelpDB;            // help catalogue of CheckForRedirect

// ---------------------------------------------------------------- lookup --
// Fetches a text: mode 0 and 3 take (int set, int number), modes 1 and 2 a
// key text. Results:
//  - pErrBuf ("Error") for a null handle in modes 1 and 2, a null handle
//    with a zero set or number in modes 0 and 3, or an unknown mode; out is
//    not touched;
//  - the key text when the text is missing (out, when given, gets a copy);
//    a numeric key lives in storage valid until the next fetch;
//  - modes 0 to 2, found: with out, the value copied into out (which the
//    caller sizes: at most NLS_STRBUF_SIZE bytes) and out; without, a new
//    copy the caller releases with PutMem. Longer values are cut at
//    NLS_STRBUF_SIZE - 1 characters;
//  - mode 3, found: a new block holding the whole value (caller frees); out
//    is not touched.
char *NlsFetchString(DbTHandle *db, char *out, int mode, ...);
char *NlsFetchStringV(DbTHandle *db, char *out, int mode, va_list ap);

// Prints message set_number as a printf format with the arguments, or
// "Error" when it is missing. The format comes from the catalogue, so the
// compiler cannot check it against the arguments.
void Nlsfprintf(FILE *stream, DbTHandle *db, int set, int number, ...);
void NlsfprintfV(FILE *stream, DbTHandle *db, int set, int number, va_list ap);
// Formats message set_number into dst, or writes "Error" when it is missing.
// dst must hold NLS_BUF_SIZE bytes (callers pass NlsBuf); a longer text is
// cut there.
void Nlssprintf(char *dst, DbTHandle *db, int set, int number, ...);
void NlssprintfV(char *dst, DbTHandle *db, int set, int number, va_list ap);
// The same into a destination of the given size.
void Nlssnprintf(char *dst, size_t size, DbTHandle *db, int set, int number, ...);
void NlssnprintfV(char *dst, size_t size, DbTHandle *db, int set, int number, va_list ap);

// Copies tmpl into out (size bytes, always terminated), replacing its k-th
// "%s" by message set_k of pDrvCoreDB (each at most 1,023 characters).
// Returns out.
char *NlsGuiStrCvt(const char *tmpl, int set, char *out, int size);
// Stores a new copy of message 25_number of pDrvCoreDB through text.
void NlsTtyMenuCvt(const char **text, int number);
// For i in 0..count-1 store a new copy of message 25_(first + i) of
// pDrvCoreDB (at most 127 characters) in items[i].label, .choices or
// .prompt. Return count (0 for a null item array).
int NlsTtyMenuItemCvt(TextMenuItem *items, int first, int count);
int NlsTtyMenuItemStateCvt(TextMenuItem *items, int first, int count);
int NlsTtyMenuItemPromptCvt(TextMenuItem *items, int first, int count);

// A 16-hex-digit key of a text, in StrVal (overwritten by the next call).
char *NlsCalcStrVal(const char *text);

// --------------------------------------------------------------- language --
// The normalised text of the language map <pToolPath>/name, a new saved
// string; null for a missing or empty file.
char *ParseTransFile(const char *name);
// The catalogue language chosen from LANG and "trans.conf" (or message 999_1
// of the English core catalogue); chosen once per process.
char *GetDesiredNLSLang();
// Opens the catalogue of the topic in the chosen language. A missing English
// catalogue is reported on standard error and gives null; a missing
// catalogue of another language gives an empty handle (every fetch returns
// its key).
DbTHandle *NlsOpenDB(const char *topic, int flags);
// For tests only: forgets the chosen language and the language map, so that
// the next GetDesiredNLSLang chooses again.
void NlsResetLanguage();

// --------------------------------------------------------------- redirects --
// Finds "$$name.redirect" (letter case ignored) in text, cuts text at the
// "." and returns the name inside it; null when there is none.
char *FindRedirect(char *text);
// When text holds a redirect, replaces text by the help text of the target
// from pPrtHelpDB (or by the target's name when it is missing) and returns
// TmpKey holding the name; otherwise null, text untouched. text must hold
// the target text: up to NLS_STRBUF_SIZE bytes.
char *CheckForRedirect(char *text);
