// The installer's package list: ProcessPkgList carries out pkg/pkg.list line
// by line (copies, modes, owners, links, renames, stream edits, wrappers in
// /usr/bin). Every file-system change goes through the command table.
#pragma once

#include "MemMgr.h"

// ------------------------------------------------------------ package list --

// Carries out "<work area>/<pkgDir>/pkg.list". 0 when the whole list was
// processed, 1 when the user chose to quit at a "checkps" line. A missing
// list ends the process with status 0; a failing mode-2 attribute command
// ends it with status 1.
int ProcessPkgList(const char *pkgDir);

// The condition of a "v" line: 1 when the release compares to word (byte by
// byte) as op ("<", "<=", "=", ">", ">=") says, 0 otherwise or for any
// other operator.
int TestReleaseCondition(const char *op, const char *word, const char *release);

// Applies the attribute pairs of text ("mode 755 owner root ...") to the
// entry in the application directory. A first key "sed" takes the rest of
// the text as its value. Returns the number of pairs applied.
int ApplyPkgAttributes(const char *entry, const char *text);

// ------------------------------------------------------------- line record --

// The command words of a line, numbered as in the command list
// ",dir,dirto,t,c,m,#,v,s,newdir,checkps"; PKG_OTHER for any other word.
enum PkgCommand {
  PKG_OTHER = 0, PKG_DIR, PKG_DIRTO, PKG_TOUCH, PKG_COPY, PKG_MODIFY, PKG_COMMENT, PKG_RELEASE,
  PKG_SAME, PKG_NEWDIR, PKG_CHECKPS,
};

// One word of a line as the tokenizer took it (blanks, "\n" and "\r" end a
// word; a backslash escapes the next character).
struct PkgWord {
  const char *text;   // escapes decoded; at most TOKEN_BUF_SIZE - 1 characters
  const char *rest;   // the line as written after the word and the blank that ended it
  bool cut;           // the word was longer: text holds its head
};

// The attribute pairs of a line: key, value, key, value ... in words; a key
// without a value may end them. A first key "sed" takes the rest of the line
// as written for its value instead, and then nothing follows it.
struct PkgPairs {
  const PkgWord *words = nullptr;
  int size = 0;                    // words used: keys and values
  const char *sedText = nullptr;   // the value of a first "sed"; null when blank or no such key
  bool cut = false;                // one of those words was cut
};

// A line taken apart once: the "v" conditions in front, then the command
// that runs when they hold, its operands and the attribute pairs. The words
// that the line uses are words[0] to words[used - 1]; the words after a
// comment mark, the program list of "checkps" or a first "sed" are read
// only when the release cannot be read and the pairs start at the release
// word of a condition. Owns its copy of the line and its words.
struct PkgLine {
  const char *text = nullptr;       // the line, continuations joined, line end dropped
  const PkgWord *words = nullptr;
  int wordCount = 0;
  int used = 0;
  int conditions = 0;               // condition i: words[3i] "v", then operator and release
  const PkgWord *command = nullptr; // the word after the conditions; null when the line ends
  PkgCommand kind = PKG_OTHER;
  const PkgWord *entry = nullptr;        // null when the line ends before it
  const PkgWord *destination = nullptr;  // of "dirto"
  PkgPairs pairs;
  bool cut = false;                 // a word that the line uses was cut
  MemHolder store;                  // the block behind text and words
};

// Takes a line of the list apart into rec, replacing what it held. A line
// that ends in the middle of its command is recorded as far as it goes.
void ParsePkgLine(const char *line, PkgLine &rec);
// The attribute pairs of a line from words[first] on (none past the end).
PkgPairs PkgPairsFrom(const PkgLine &line, int first);
