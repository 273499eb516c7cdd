// The HTML help renderer: reads help files written in a small subset of
// HTML, cuts them into pages, lays every page out as text for a character
// terminal and moves between pages, files and anchors with a back history.
//
// All records come from the memory block manager and live for the whole
// process; the file text is cut in place and elements point into it. After
// every navigation call the page to show is pCurrentPage: its text (one
// NUL-terminated string of newline-ended lines) and its links, whose
// position and end are offsets in that text. Reads stay inside the file's
// text and writes inside the page grid and the records' arrays, whatever the
// page holds.
#pragma once
#include <array>
#include <cstdint>

#include "List.h"

// ------------------------------------------------------------- records --

struct HtmlChunk;

// One loaded help file.
struct HtmlFile {
  char *name;       // the name as loaded, after "file://" and "#target" were cut off
  char *content;    // the whole text, cut in place by the parser
  char *position;   // parse position inside content
  List *pages;      // HtmlPage items, in file order
  HtmlChunk *chunks;  // blocks holding the nodes, elements and link records of its pages
};

// One page of a help file.
struct HtmlPage {
  char *name;       // the page attribute's value, or null
  char *text;       // the flattened text, and while laying out also the rows not yet flattened
  List *head;       // HtmlElement items of the head section
  List *body;       // HtmlElement items of the body section
  List *links;      // items are HtmlLink pointers (HtmlLink *), in layout order
  int lines;        // number of text lines of the laid-out page
  int laying;       // 1 from BuildTextImage until PrintTextImage has flattened the text
};

// One element of a head or body list.
struct HtmlElement {
  char *tag;        // tag name as written, or null for a run of text
  void *text;       // run text, attribute text, HtmlLink (tag "a") or HtmlTable (tag "fitab")
  int length;       // length of the text or attribute text when the element was made
};

constexpr int LINK_NEITHER = 0;
constexpr int LINK_NAME = 1;      // a name anchor
constexpr int LINK_HREF = 2;      // a hyperlink

// One "a" tag. During layout position and end hold the row and column of
// its start; after flattening the start and end (exclusive) offsets in the
// page text, end never below position.
struct HtmlLink {
  char *target;     // the name or href value, null when neither was given
  int position;
  int end;
  int length;       // characters covered, never negative
  int kind;         // LINK_NAME, LINK_HREF or LINK_NEITHER
};

// The layout of one table.
struct HtmlTable {
  int x;            // grid column of the left edge
  int y;            // grid row of the top line
  int width;        // total width, rules included
  int height;       // total rows, rules included
  int cellpadding;  // characters on each side of a cell's content
  int cellspacing;  // characters
  int rule;         // width of a column rule: 1
  uint8_t border;   // 1 when the table tag has a border attribute
  int *rowHeights;  // text lines of each row
  int *colWidths;   // content width of each column
  int rows;
  int columns;
};

// --------------------------------------------------------------- parsing --

constexpr int HTML_MAX_FILES = 100;
extern HtmlFile *aFile[HTML_MAX_FILES];
extern int FileIndex;              // slots of aFile in use
extern int CurrentFile;            // slot of the file whose page is shown
extern HtmlPage *pCurrentPage;     // the page being laid out or shown

// The Latin-1 character references: names with their ";", the names'
// lengths and the characters (0xA0 onwards, in the names' order).
extern const char HTMLKeys[];
extern const std::array<uint8_t, 96> HTMLKeySizes;
extern const std::array<unsigned char, 96> HTMLChars;

// Cuts the next tag out of the file's text and moves the parse position
// past it; the tag's inner text, or null when no complete tag is left.
char *GetKeyWord(HtmlFile *file);
// Appends an element; for a tag "a" (any case) the attribute text is split
// in place and the element carries a new HtmlLink instead.
void AddAtribute(List *list, char *tag, char *text);
// Parses from the parse position into list up to the closing tag
// "/<closing>" (any case) or the end of the text.
void ParseHtml(HtmlFile *file, List *list, const char *closing);
// The loaded file of exactly that name (it becomes CurrentFile), or null.
HtmlFile *FindHtmlFile(const char *name);
// Loads a help file ("file://" and "#target" allowed; text, when given, is
// parsed instead of reading the file and is not changed), lays out its pages
// and makes its first page (or the target's page) current. Null for an
// "http://" name, an unreadable, empty or page-less file, or a full table.
HtmlFile *ParseHtmlFile(const char *name, const char *text);
// Releases every loaded file with all it owns and empties the file table
// and the history. The help keeps its files for the life of the process;
// this serves tools and tests that load one help after another.
void HtmlReleaseFiles();

// ---------------------------------------------------------------- layout --

constexpr int HTML_COLUMNS = 132;          // bytes per grid row
constexpr int HTML_MAX_GRID_ROWS = 200000; // rows beyond are not written
constexpr int HTML_MAX_TABLE_CELLS = 1000; // rows and columns of one table
constexpr int HTML_MAX_TABLE_DEPTH = 16;   // deeper tables are left out
constexpr int HTML_MAX_TABLE_WIDTH = 1000; // characters

extern const char HtmlKeys[];
// The tag of a table element once its layout is computed (its text is then
// the HtmlTable); a "fitab" tag written in a page is not this pointer.
extern char HtmlFitab[];

void PrintText(HtmlFile *file, int *row, int *column, const char *text, int length, int fill);
void BuildTextImage(HtmlFile *file);
void BuildTextBody(HtmlFile *file, HtmlTable *table, int row, int column);
int GetColumnCnt();
HtmlTable *GetTextTable(HtmlFile *file, HtmlElement *element, int available);
void DrawTableArea(HtmlFile *file, HtmlTable *table);
void PrintTextImage(HtmlFile *file);
// Characters of a hyperlink's label inside its "<" and ">": end - position
// - 2, at least 0 and at most 127.
int GetLinkLabelLen(const HtmlLink *link);

// ------------------------------------------------------------ navigation --

constexpr int HTML_HISTORY_SIZE = 100;
struct HtmlHistoryEntry {
  int file;
  HtmlPage *page;
  int targetPos;
};
extern HtmlHistoryEntry History[HTML_HISTORY_SIZE];
extern int HistoryI;               // entries in use
extern int TargetPos;              // offset in the current page's text to show
extern uint8_t flBuildingFile;     // 1 while a file is loaded or a link followed

// Empties the history and loads the help; 1 when loaded. A failure prints
// "Error in reading HTML file %s\n" (or "Error reading HTML buffer\n" for a
// text) on standard output.
int HtmlHelp(const char *name, const char *text);
void SetHistory();
void GoToTarget(const char *target);
void ProcessLink(HtmlLink *link);
void HtmlProcessLink(int offset);
// Mode 0: contents, -1: back. 0 when the history is empty.
int HtmlSetHistory(int mode);
