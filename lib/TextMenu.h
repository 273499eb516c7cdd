// The text-menu engine for character terminals: declarative menus, their
// settings files, rendering and the interaction loop. The menu record itself
// is in TextMenuTypes.h.
#pragma once
#include "TextMenuTypes.h"

// When set by a caller, every running menu is left at once.
extern unsigned char flExitTextMenu;

// ---- stand-in until the interaction loop is merged: the merge keeps that
// branch's PostMsg and drops this block and lib/TextMenu/postmsg_stub.cpp.
#include "utils.h"
// Prints the message and the press-Return line, reads a line into LineBuf
// and returns it; ends the process at the end of input.
char *PostMsg(const char *fmt, ...) TARNU_PRINTF(1, 2);

// ---- entry validation
// Checks an entry against a rule of the menu notation: literal characters;
// A a p (letters and digits, letters, printable) with (min,max) lengths and
// "+c" pairs; L and t(...) lengths; d x D f numbers in (min,max) with "-c"
// pairs for d and D; !(text) a forbidden entry; "&" begins another clause
// over the whole entry, "|" another alternative. A max of 0 switches a range
// or length check off. The first problem is shown with PostMsg (which waits
// for Return and overwrites LineBuf). Result: 0 valid (also for a null or
// empty rule), 1 number out of range, 2 length out of bounds, 3 character
// not allowed, 4 forbidden entry.
unsigned char ValidateEntry(const char *entry, const char *rule);
// Range messages of ValidateEntry, fetched from the catalogue on its first
// call with a rule and kept for the life of the process.
extern char *pErrIntRange;
extern char *pErrFloatRange;
extern char *pErrLongRange;

// Reads "(min,max)": skips one leading non-digit, stores min through pMin
// (when not null) and returns max. A null text gives 0 and 0.
int getMinMax(const char *bounds, int *pMin);
// Null when the length of entry is within bounds ("(4,4)" when bounds is
// null); otherwise the length message, formatted into NlsBuf.
char *ValidateEntryLen(const char *entry, const char *bounds);
// The first character of entry that is not a decimal digit, or 0.
char ValidateEntryDigit(const char *entry);
// An all-digit entry of bounded length: 0 valid, 2 length and 3 digit, each
// after showing its message with PostMsg.
int ValidateEntryTty(const char *entry, const char *bounds);

// ---- pass phrase
// Asks for a secret line on the controlling terminal with echo off and
// returns it as a new saved string the caller releases (PutMem). Reads from
// standard input with the prompt on standard error when there is no
// terminal. At most 256 characters; the line end is not kept. The terminal
// settings and the signal actions are restored before it returns; a signal
// caught meanwhile is sent again afterwards, and after a stop and continue
// the prompt is shown again. errno is left as the failing call set it.
char *GetPassPhrase(const char *prompt);
// The signal handler installed while the pass phrase is read.
void handler(int sig);
// For tests only: the time-out of a pass phrase in milliseconds (60,000 by
// default); returns the previous one.
int SetPassPhraseTimeout(int msec);
