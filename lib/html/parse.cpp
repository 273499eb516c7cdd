// Reading help files: the file table, pages cut out of a file by its html
// tags, and the head and body of each page turned into element lists.
//
// The parser works in place on the file's text: tags and text runs are cut
// with NUL bytes and elements point into the text, so the text lives as long
// as its file. The text always ends in a NUL, and no scan runs past it.
// The list nodes, elements and link records that the parser makes are laid
// side by side in a few large blocks that the file owns (its chunks): a
// help file of a megabyte has a hundred thousand elements.
#include "html.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "MemMgr.h"
#include "large_pages.h"
#include "utils.h"

HtmlFile *aFile[HTML_MAX_FILES];
int FileIndex;
int CurrentFile;
HtmlPage *pCurrentPage;

constexpr char HTMLKeys[] =
    ",nbsp;,iexcl;,cent;,pound;,curren;,yen;,brvbar;,sect;,uml;,copy;,ordf;,laquo;"
    ",not;,shy;,reg;,macr;,deg;,plusmn;,sup2;,sup3;,acute;,micro;,para;,middot;"
    ",cedil;,sup1;,ordm;,raquo;,frac14;,frac12;,frac34;,iquest;,Agrave;,Aacute;"
    ",Acirc;,Atilde;,Auml;,Aring;,AElig;,Ccedil;,Egrave;,Eacute;,Ecirc;,Euml;"
    ",Igrave;,Iacute;,Icirc;,Iuml;,ETH;,Ntilde;,Ograve;,Oacute;,Ocirc;,Otilde;"
    ",Ouml;,times;,Oslash;,Ugrave;,Uacute;,Ucirc;,Uuml;,Yacute;,THORN;,szlig;"
    ",agrave;,aacute;,acirc;,atilde;,auml;,aring;,aelig;,ccedil;,egrave;,eacute;"
    ",ecirc;,euml;,igrave;,iacute;,icirc;,iuml;,eth;,ntilde;,ograve;,oacute;"
    ",ocirc;,otilde;,ouml;,divide;,oslash;,ugrave;,uacute;,ucirc;,uuml;,yacute;"
    ",thorn;,yuml;";

namespace {

constexpr int ENTITY_MAX_REACH = 15;   // the ";" of a named reference lies at most this far

constexpr bool isSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Characters that a text run takes as they are: all but the NUL, "<", "&"
// and white space.
constexpr std::array<bool, 256> plainChars = [] {
  std::array<bool, 256> plain{};
  for (int c = 1; c < 256; c++) plain[static_cast<size_t>(c)] = c != '<' && c != '&' && !isSpace(static_cast<unsigned char>(c));
  return plain;
}();

bool isPlain(unsigned char c) { return plainChars[c]; }

// A character reference at p (an "&"): the character and the bytes it takes,
// or 0 bytes when p starts none. A reference must close with ";" before the
// run ends (the next "<" or the end of the text), or it is plain text.
struct Reference {
  unsigned char ch;
  int size;
};

Reference decodeReference(const char *p) {
  if (p[1] == '#') {
    const char *q = p + 2;
    while (*q != '\0' && *q != ';' && *q != '<') q++;
    if (*q != ';') return {0, 0};
    long code = strtol(p + 2, nullptr, 10);
    return {static_cast<unsigned char>(code & 0xFF), static_cast<int>(q - p) + 1};
  }
  if (strncasecmp(p, "&quot;", 6) == 0) return {'"', 6};
  int semi = 0;
  for (int i = 1; i <= ENTITY_MAX_REACH && p[i] != '\0' && p[i] != '<'; i++) {
    if (p[i] == ';') {
      semi = i;
      break;
    }
  }
  if (semi == 0) return {0, 0};
  char name[ENTITY_MAX_REACH + 1];
  memcpy(name, p + 1, static_cast<size_t>(semi));
  name[semi] = '\0';
  int k = FindToken(name, HTMLKeys);
  if (k == 0) return {0, 0};
  return {HTMLChars[k - 1], HTMLKeySizes[k - 1] + 1};
}

// Splits a tag's inner text in place into its name and attribute text (the
// rest after the one white-space character that ends the name).
void splitTag(char *inner, char **name, char **attrs) {
  char *p = SkipSpace(inner);
  *name = p;
  while (*p != '\0' && !isSpace(static_cast<unsigned char>(*p))) p++;
  if (*p != '\0') *p++ = '\0';
  *attrs = p;
}

// The end of the text from p on: the NUL that closes the file's text.
char *endOf(char *p) { return p + strlen(p); }

// Moves the parse position past the ">" after the next "/HTML".
void skipSection(HtmlFile *file) {
  char *end = StrCaseStr(file->position, "/HTML");
  if (end == nullptr) {
    file->position = endOf(file->position);
    return;
  }
  char *gt = strchr(end, '>');
  file->position = gt != nullptr ? gt + 1 : endOf(end);
}

HtmlPage *addPage(HtmlFile *file) {
  HtmlPage page{};
  page.head = ListCreate();
  page.body = ListCreate();
  page.links = ListCreate();
  return static_cast<HtmlPage *>(ListPushItem(file->pages, &page, sizeof page));
}

// ---------------------------------------------------------------- chunks --

constexpr size_t CHUNK_LEAST = 4096;
constexpr size_t CHUNK_MOST = size_t{1} << 28;
constexpr size_t CHUNK_PER_BYTE = 8;   // bytes of elements a byte of text makes, at most as a rule

}  // namespace

// One block of a file's parsed records; they follow this header.
struct HtmlChunk {
  HtmlChunk *next;
  size_t used;
  size_t size;
};

namespace {

// Gives the file a new chunk of size bytes for its records.
void addChunk(HtmlFile *file, size_t size) {
  size = std::clamp(size, CHUNK_LEAST, CHUNK_MOST);
  auto *c = static_cast<HtmlChunk *>(GetMem(sizeof(HtmlChunk) + size));
  if (c == nullptr) SysError("Unable to allocate memory");
  htmlpages::adviseLargePages(c, sizeof(HtmlChunk) + size);
  c->size = size;
  c->next = file->chunks;
  file->chunks = c;
}

// n zero bytes (a multiple of 8, at most CHUNK_LEAST) from the file's chunks.
void *takeFromChunks(HtmlFile *file, size_t n) {
  HtmlChunk *c = file->chunks;
  if (c == nullptr || c->size - c->used < n) {
    addChunk(file, c != nullptr ? 2 * c->size : CHUNK_LEAST);
    c = file->chunks;
  }
  void *p = reinterpret_cast<char *>(c + 1) + c->used;
  c->used += n;
  return p;
}

bool inChunks(const HtmlFile *file, const void *p) {
  for (const HtmlChunk *c = file->chunks; c != nullptr; c = c->next) {
    const char *from = reinterpret_cast<const char *>(c + 1);
    if (p >= from && p < from + c->used) return true;
  }
  return false;
}

// Whether a tag name is one of ",/a,/b,/font," (FindTokenC). Without the
// list's separator in it only those three names match, or an empty name,
// which FindTokenC matches with the list's end.
bool endsInline(const char *name) {
  if (name[0] != '/') return name[0] == '\0';
  if (strchr(name, ',') != nullptr) return FindTokenC(name, ",/a,/b,/font,") != 0;
  const char c = static_cast<char>(tolower(static_cast<unsigned char>(name[1])));
  if (c == 'a' || c == 'b') return name[2] == '\0';
  return c == 'f' && strcasecmp(name, "/font") == 0;
}

// Whether a tag name is "/" and the closing name (letter case ignored).
bool closes(const char *name, const char *closing) {
  return name[0] == '/' && tolower(static_cast<unsigned char>(name[1])) == tolower(static_cast<unsigned char>(closing[0])) &&
         strcasecmp(name + 1, closing) == 0;
}

bool isAnchor(const char *tag) { return tag != nullptr && (tag[0] == 'a' || tag[0] == 'A') && tag[1] == '\0'; }

// Splits the attribute text of an "a" tag in place into the link's target
// and kind: the last name or href attribute wins.
void readAnchor(HtmlLink *link, char *text) {
  constexpr char kDelims[] = " \t\n\r";
  for (char *word = GetTokenParse(text, kDelims); word != nullptr; word = GetTokenParse(nullptr, kDelims)) {
    char *eq = strchr(word, '=');
    if (eq == nullptr) continue;
    *eq = '\0';
    char *value = eq + 1;
    if (*value == '"') value++;
    char *quote = strchr(value, '"');
    if (quote != nullptr) *quote = '\0';
    int kind = FindTokenC(word, ",name,href,");
    if (kind != 0) {
      link->target = value;
      link->kind = kind;
    }
  }
}

// AddAtribute for the parser: node, element and link record come from the
// file's chunks. length is the text's length.
void appendElement(HtmlFile *file, List *list, char *tag, char *text, int length) {
  auto *node = static_cast<ListNode *>(takeFromChunks(file, sizeof(ListNode) + sizeof(HtmlElement)));
  auto *element = reinterpret_cast<HtmlElement *>(node + 1);
  element->tag = tag;
  element->text = text;
  element->length = length;
  if (isAnchor(tag)) {
    auto *link = static_cast<HtmlLink *>(takeFromChunks(file, sizeof(HtmlLink)));
    readAnchor(link, text);
    element->text = link;
  }
  node->item = element;
  node->size = sizeof(HtmlElement);
  ListPushLink(list, node);
}

// Releases an element list; what lies in the file's chunks goes with them.
void releaseElements(const HtmlFile *file, List *list) {
  for (ListNode *n = list->head, *next; n != nullptr; n = next) {
    next = n->next;
    auto *e = static_cast<HtmlElement *>(n->item);
    if (isAnchor(e->tag) && !inChunks(file, e->text)) {
      PutMem(e->text);
    } else if (e->tag == HtmlFitab) {
      auto *table = static_cast<HtmlTable *>(e->text);
      PutMem(table->rowHeights);
      PutMem(table->colWidths);
      PutMem(table);
    }
    if (!inChunks(file, n)) {
      PutMem(n->item);
      PutMem(n);
    }
  }
  *list = List{};
  ListDel(list);
}

// Releases a file record with its pages and everything they own.
void releaseFile(HtmlFile *file) {
  for (ListNode *n = file->pages->head; n != nullptr; n = n->next) {
    auto *page = static_cast<HtmlPage *>(n->item);
    releaseElements(file, page->body);
    releaseElements(file, page->head);
    ListDel(page->links);
    PutMem(page->text);
  }
  ListDel(file->pages);
  for (HtmlChunk *c = file->chunks, *next; c != nullptr; c = next) {
    next = c->next;
    PutMem(c);
  }
  PutMem(file->content);
  PutMem(file->name);
  PutMem(file);
}

// Cuts the file into pages and parses their heads and bodies.
void readPages(HtmlFile *file) {
  HtmlPage *page = nullptr;
  while (char *inner = GetKeyWord(file)) {
    char *name;
    char *attrs;
    splitTag(inner, &name, &attrs);
    switch (FindTokenC(name, ",html,head,body,/html,")) {
      case 1: {
        if (strstr(attrs, "SkipPage") != nullptr) {
          skipSection(file);
          break;
        }
        char *named = StrCaseStr(attrs, "page=\"");
        if (page != nullptr && named == nullptr) break;
        page = addPage(file);
        if (named != nullptr) {
          page->name = named + 6;
          char *quote = strchr(page->name, '"');
          if (quote != nullptr) *quote = '\0';
        }
        break;
      }
      case 2:
        if (page != nullptr && page->head->count == 0) ParseHtml(file, page->head, "head");
        break;
      case 3:
        if (page != nullptr) ParseHtml(file, page->body, "body");
        break;
      default:
        break;
    }
  }
}

}  // namespace

// The lengths of the names of HTMLKeys, their ";" included, and the
// characters they stand for, from 0xA0 on in the names' order.
constexpr std::array<uint8_t, 96> HTMLKeySizes = [] {
  std::array<uint8_t, 96> size{};
  int item = -1;
  for (const char *p = HTMLKeys; *p; p++) {
    if (*p == ',') item++;
    else size[static_cast<size_t>(item)]++;
  }
  return size;
}();

constexpr std::array<unsigned char, 96> HTMLChars = [] {
  std::array<unsigned char, 96> ch{};
  for (size_t i = 0; i < ch.size(); i++) ch[i] = static_cast<unsigned char>(0xA0 + i);
  return ch;
}();

char *GetKeyWord(HtmlFile *file) {
  if (file == nullptr || file->position == nullptr) return nullptr;
  char *lt = strchr(file->position, '<');
  if (lt == nullptr) return nullptr;
  *lt = '\0';
  char *gt = strchr(lt + 1, '>');
  if (gt == nullptr) {
    file->position = endOf(lt + 1);
    return nullptr;
  }
  *gt = '\0';
  file->position = gt + 1;
  return lt + 1;
}

void AddAtribute(List *list, char *tag, char *text) {
  HtmlElement element{tag, text, StrLen(text)};
  if (isAnchor(tag)) {
    auto *link = static_cast<HtmlLink *>(GetMem(sizeof(HtmlLink)));
    if (link == nullptr) SysError("Unable to allocate memory");
    readAnchor(link, text);
    element.text = link;
  }
  ListPushItem(list, &element, sizeof element);
}

void ParseHtml(HtmlFile *file, List *list, const char *closing) {
  if (file == nullptr || file->position == nullptr) return;
  char *r = file->position;
  char *run = nullptr;   // start of the open run
  char *w = nullptr;     // where the run's next accepted character goes
  // After the end of a link or of bold or font text, the white space before
  // the next word is one blank: "</a> now" must not glue "now" to the link.
  bool afterInline = false;
  auto accept = [&](char c, char *at) {
    if (run == nullptr) run = w = at;
    *w++ = c;
  };
  while (*r != '\0') {
    unsigned char c = static_cast<unsigned char>(*r);
    if (isPlain(c)) {
      if (run == nullptr) run = w = r;
      do *w++ = *r++;
      while (isPlain(static_cast<unsigned char>(*r)));
      continue;
    }
    if (c == '<') {
      *r = '\0';
      if (run != nullptr) {
        *w = '\0';
        // "&#0;" puts a NUL into a run: its length ends there.
        appendElement(file, list, nullptr, run, static_cast<int>(strnlen(run, static_cast<size_t>(w - run))));
        run = nullptr;
      }
      char *inner = r + 1;
      char *gt = strchr(inner, '>');
      char *next;
      if (gt != nullptr) {
        *gt = '\0';
        next = gt + 1;
      } else {
        next = endOf(inner);
      }
      char *name;
      char *attrs;
      splitTag(inner, &name, &attrs);
      if (closing != nullptr && closes(name, closing)) {
        file->position = next;
        return;
      }
      appendElement(file, list, name, attrs, StrLen(attrs));
      afterInline = endsInline(name);
      r = next;
      continue;
    }
    if (c == '&') {
      Reference ref = decodeReference(r);
      if (ref.size > 0) {
        char *at = r;
        r += ref.size;
        accept(static_cast<char>(ref.ch), at);
      } else {
        if (run != nullptr) *w++ = '&';
        r++;
      }
      continue;
    }
    if (isSpace(c)) {
      if (run != nullptr) {
        *w++ = static_cast<char>(c);
        r++;
        while (isSpace(static_cast<unsigned char>(*r))) r++;
      } else {
        char *at = r++;
        while (isSpace(static_cast<unsigned char>(*r))) r++;
        if (afterInline && *r != '<' && *r != '\0') accept(' ', at);
      }
      continue;
    }
  }
  file->position = r;
}

HtmlFile *FindHtmlFile(const char *name) {
  if (name == nullptr) return nullptr;
  for (int i = 0; i < FileIndex; i++) {
    if (aFile[i] != nullptr && strcmp(aFile[i]->name, name) == 0) {
      CurrentFile = i;
      return aFile[i];
    }
  }
  return nullptr;
}

HtmlFile *ParseHtmlFile(const char *name, const char *text) {
  if (name == nullptr || strncasecmp(name, "http://", 7) == 0) return nullptr;
  if (strncasecmp(name, "file://", 7) == 0) name += 7;
  MemHolder fileName(SaveStr(name));
  char *target = strchr(fileName.str(), '#');
  if (target != nullptr) *target++ = '\0';

  HtmlFile *loaded = FindHtmlFile(fileName.str());
  if (loaded != nullptr && loaded->pages->count > 0) {
    pCurrentPage = static_cast<HtmlPage *>(loaded->pages->head->item);
    return loaded;
  }
  if (FileIndex >= HTML_MAX_FILES) return nullptr;

  char *content = text != nullptr ? SaveStr(text) : GetSavedFileContent(fileName.str(), nullptr);
  if (content == nullptr) return nullptr;
  auto *file = static_cast<HtmlFile *>(GetMem(sizeof(HtmlFile)));
  if (file == nullptr) SysError("Unable to allocate memory");
  file->content = content;
  file->position = content;
  file->pages = ListCreate();
  // The records of a page take a few times the bytes of its text; the part
  // of the chunk that is never used costs no memory.
  addChunk(file, (strlen(content) + 1) * CHUNK_PER_BYTE);
  // The target points into the name's copy, which the record keeps.
  file->name = static_cast<char *>(fileName.release());
  readPages(file);
  if (file->pages->count == 0) {
    releaseFile(file);
    return nullptr;
  }

  CurrentFile = FileIndex;
  aFile[FileIndex++] = file;
  for (ListNode *n = file->pages->head; n != nullptr; n = n->next) {
    pCurrentPage = static_cast<HtmlPage *>(n->item);
    PrintTextImage(file);
  }
  pCurrentPage = static_cast<HtmlPage *>(file->pages->head->item);
  if (target != nullptr && *target != '\0') GoToTarget(target);
  return file;
}

void HtmlReleaseFiles() {
  for (int i = 0; i < FileIndex; i++) {
    releaseFile(aFile[i]);
    aFile[i] = nullptr;
  }
  FileIndex = CurrentFile = HistoryI = TargetPos = 0;
  pCurrentPage = nullptr;
  flBuildingFile = 0;
}
