// The text-menu engine for character terminals: declarative menus, their
// settings files, rendering and the interaction loop. The menu record itself
// is in TextMenuTypes.h.
//
// All input is read a line at a time from standard input into LineBuf; all
// output goes to standard output. The end of input while a menu waits for a
// line ends the process through SysError (message 25_1016, status 1).
#pragma once
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "TextMenuTypes.h"
#include "utils.h"

constexpr int MENU_TEXT_SIZE = 256;        // text buffer of a name or string item
constexpr int MENU_MAX_MULTI = 64;         // choices a multi-choice mask can mark
constexpr int MENU_SELECTION_SIZE = 64;    // CurrentSelection of the pick screen
constexpr int MENU_ROW_SIZE = 4096;        // CurLineBuf of Refresh
constexpr int MENU_WRITE_SIZE = 512;       // formatting buffer of WriteString
constexpr int MENU_SCREEN_COLS = 80;       // the line menu assumes 80 columns

// When set by a caller, every running menu is left at once.
extern unsigned char flExitTextMenu;
// 1 once any settings file has been read.
extern unsigned char flLoadedSettings;
// The settings file being written is utils' shared output stream pOut.

// ------------------------------------------------------------ menu model --
// Prepares a menu before it is shown: values back to their defaults, text
// buffers allocated, keys and choice counts set, state formats applied.
// Returns the length of the longest label.
int InitMenu(MenuDef *menu);
// Releases the text buffers of the name and string items (value becomes
// null); returns the terminating item.
TextMenuItem *FreeMenu(MenuDef *menu);
TextMenuItem *FindTextMenuItem(MenuDef *menu, uint32_t type);
// False, after message 25_1011 and a line of input, when an enabled name
// item is empty.
int TestNames(MenuDef *menu);
// The submenu a submenu item stands for, or null (disabled, hidden, or no
// condition of its list holds).
MenuDef *ValidateMenu(MenuDef *menu, int index);
// One condition operand "[+|-]N.V": 0 when item N's value is not V, 1 when
// it is and the item is enabled, 2 when it is and the item is disabled or
// hidden. An item number outside the menu gives 0.
int TestState(MenuDef *menu, const char *operand, int index);
int TestStateCondition(MenuDef *menu, const char *condition, int index);
// Keep a choice item's current choice visible, hide or show choice n (from 0).
void UpdateStateSelection(TextMenuItem *item);
void HideStateSelection(TextMenuItem *item, int n);
void ShowStateSelection(TextMenuItem *item, int n);
// Whether value is in a state format's value list ("0", "1/3", "*").
int TestFormatState(const char *values, intptr_t value);
void ProcessStateFormat(MenuDef *menu, int index);
// The text of choice n (from 0) of a choice list without its marker, in a
// buffer overwritten by the next call; null when there is no such choice.
const char *GetChoiceText(const TextMenuItem *item, int n);
// Whether choice n (from 0) exists and is visible.
int ChoiceVisible(const TextMenuItem *item, int n);

// The real a real item (type 14) keeps as the 32-bit IEEE bits of its value.
inline float MenuReal(intptr_t value) {
  uint32_t bits = static_cast<uint32_t>(value);
  float f;
  __builtin_memcpy(&f, &bits, sizeof f);
  return f;
}
inline intptr_t MenuRealBits(float f) {
  uint32_t bits;
  __builtin_memcpy(&bits, &f, sizeof bits);
  return static_cast<intptr_t>(bits);
}
// The label as shown: without a leading "~k " hot-key mark.
const char *ShownLabel(const TextMenuItem *item);

// ---------------------------------------------------------- settings file --
// Writes the values to pOut.
void StoreMenu(MenuDef *menu);
// Reads values from the open input file pIn (up to its end or a "}").
void LoadMenu(MenuDef *menu);
// Writes the values to the settings file at path: a new file beside it is
// written completely and then moved over it. 1 on success.
int StoreMenuFile(MenuDef *menu, const char *path);

// ------------------------------------------------------------ screen image --
struct ScreenImage {
  int32_t width;
  int32_t height;
  int32_t reserved[8];
  int32_t cursorCol;      // column of the next WriteString, from 0
  int32_t cursorRow;      // row of the next WriteString, from 1
  int32_t ovlCol, ovlRow;
  int32_t ovlWidth, ovlHeight;
  char *cells;            // width x height characters, no terminators
};

extern ScreenImage *pCurImage;
extern int CurScreenCol;
extern char CurrentSelection[MENU_SELECTION_SIZE];
extern char CurLineBuf[MENU_ROW_SIZE];
extern char *pCurLine;
extern char *TPATTYMENU_SAVE;
extern char *TPATTYMENU_CANCEL;
extern char *TPATTYMENU_CURSEL;
extern char *TPATTYMENU_CURSELTRUNC;
extern char *TPATTYMENU_OPTION;

// The image for the terminal's size (reused when given); blank-filled.
ScreenImage *GetTermInfo(ScreenImage *image);
// For tests: a fixed terminal size for GetTermInfo; 0 0 queries again.
void SetTermSize(int width, int height);
void ClearScreen(ScreenImage *image);
void MoveCursor(ScreenImage *image, int col, int row);
void SetPosition(ScreenImage *image, int col, int row);
ScreenImage *SetOvlInfo(ScreenImage *image, int col, int row, int width, int height);
// Writes formatted text into the image at the cursor, cut at the end of the
// cursor's row; the cursor does not move.
void WriteString(ScreenImage *image, const char *fmt, ...) TARNU_PRINTF(2, 3);
void FillArea(ScreenImage *image, int col, int row, int cols, int rows, char ch);
int Refresh(ScreenImage *image);
ScreenImage *Overlay(ScreenImage *image, const char *text, int wait);
char *NumberScreen(ScreenImage *image);

// -------------------------------------------------------------- rendering --
int PrintMenu(MenuDef *menu, int labelWidth, int titleWidth);
// Lays out the items after a bar (type 3) or row-group (type 1) item;
// *walked counts every item consumed, *number is the key of the last
// numbered item shown. Returns the last item consumed.
TextMenuItem *PrintMenuBarItem(TextMenuItem *bar, uint32_t type, int *walked, int *number);
// widths gets one entry per column of height - 6 choices; returns the widest.
int GetColumnWidths(ScreenImage *image, TextMenuItem *item, int *widths);
void WriteScreenFrame(ScreenImage *image, TextMenuItem *item, const char *selection);
// hidden holds a bit per choice ((choiceCount + 63) / 64 words).
int PrintPickOneManyScreen(TextMenuItem *item, uint64_t *hidden, int first);

// -------------------------------------------------------- interaction loop --
extern char *pOption;
extern const char *pTtyHtmlName;
extern const char *pTtyHtmlData;
extern const char *pTtyHtmlTitle;

void *RunMenu(MenuDef *menu, const char *settings, unsigned char interactive);
int FindSelection(MenuDef *menu, int count);
unsigned char ProcessSelection(MenuDef *menu, int index, const char *option);
int ProcessStateValue(MenuDef *menu, int index, const char *answer);
unsigned char PromptYN(const char *question, ...) TARNU_PRINTF(1, 2);
// With a buffer (4096 bytes) the line is read into it and returned;
// without, a new saved copy the caller releases.
char *PromptUser(const char *prompt, char *buffer);
char *PostMsg(const char *fmt, ...) TARNU_PRINTF(1, 2);
char *PostMsgV(const char *fmt, va_list ap) TARNU_PRINTF(1, 0);
unsigned char TestName(const char *name);
// Reads a line into buf; at the end of input ends the process (25_1016).
char *MenuGets(char *buf, int size);
// Ends the process as at the end of input: message 25_1016 through SysError.
[[noreturn]] void MenuInputEnded();

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
