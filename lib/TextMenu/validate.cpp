// Entry validation of the menu engine: the rule notation every typed value
// is checked against, and the small family for all-digit entries.
//
// A rule is read one element at a time, and each element is parsed whole
// (bounds, "+c"/"-c" pairs, a forbidden text) before it is checked, so a "|"
// or "&" inside a pair or a forbidden text never ends a clause. The "+" and
// "-" lists are sets of bytes and cannot overflow; the "+" list as shown in
// a message and the text matched so far are cut at 79 and 511 characters.
// Every problem is shown with PostMsg, which waits for Return.
#include <bitset>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "Handles.h"
#include "NlsUtils.h"
#include "TextMenu.h"
#include "utils.h"

char *pErrIntRange = nullptr;
char *pErrFloatRange = nullptr;
char *pErrLongRange = nullptr;

namespace {

constexpr size_t PLUS_TEXT_SIZE = 80;    // the "+" list as shown: 79 characters
constexpr size_t MATCHED_SIZE = 512;     // the text matched so far: 511 characters

constexpr unsigned char CODE_RANGE = 1;
constexpr unsigned char CODE_LENGTH = 2;
constexpr unsigned char CODE_CHARACTER = 3;
constexpr unsigned char CODE_FORBIDDEN = 4;

constexpr const char *INVALID_DIGIT = "Invalid digit:  %c\n";
constexpr const char *INVALID_NUMBER_CHARACTER =
    "Invalid character '%c'\nThis text may contain \"0123456789.\"";
constexpr const char *REAL_RANGE = "This number must be between %f to %f.";

enum class Kind { Literal, Class, Length, Integer, Hex, Long, Real, Forbidden };

// One element of a rule, parsed.
struct Element {
  char letter = 0;                       // the rule character (the expected one for a literal)
  Kind kind = Kind::Literal;
  int min = 0, max = 0;                  // bounds of lengths and integers
  long double realMin = 0, realMax = 0;  // bounds of "D" and "f"
  std::bitset<256> plus, minus;          // "+c" and "-c" pairs
  char plusText[PLUS_TEXT_SIZE] = "";
  size_t plusLen = 0;
  char text[TOKEN_BUF_SIZE] = "";        // the text of "!"

  bool isNumber() const {
    return kind == Kind::Integer || kind == Kind::Hex || kind == Kind::Long || kind == Kind::Real;
  }
  // Whether a failure ends the validation at once, without trying the
  // alternative after a "|".
  bool failsHard() const { return isNumber() || kind == Kind::Forbidden; }
  // Whether passing makes the rest of the clause irrelevant.
  bool passSkipsClause() const {
    if (kind == Kind::Forbidden) return true;
    if (kind == Kind::Long || kind == Kind::Real) return realMax != 0;
    return isNumber() && max != 0;
  }
};

// The message a failure is shown with.
enum class Msg { None, Literal, Class, Alpha, Length, Digit, IntRange, HexRange,
                 LongCharacter, LongRange, RealCharacter, RealPoints, RealRange, Forbidden };

struct Failure {
  unsigned char code = 0;   // 0: the element passed
  Msg msg = Msg::None;
  int ch = 0;               // the character refused
};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
unsigned char byte(char c) { return static_cast<unsigned char>(c); }

int clampInt(long v) {
  return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : static_cast<int>(v);
}
int readInt(const char *p, char **end) { return clampInt(strtol(p, end, 10)); }
long double readReal(const char *p, char **end) { return strtold(p, end); }

// Reads "min<separator>max" and returns the position after max.
template <typename T>
const char *readMinMax(const char *p, T &min, T &max, T (*read)(const char *, char **)) {
  char *end;
  min = read(p, &end);
  p = end;
  if (*p != '\0' && *p != ')') p++;
  max = read(p, &end);
  return end;
}

// Reads "(min,max)" when it follows; without it the bounds stay 0 (off).
template <typename T>
const char *readBounds(const char *p, T &min, T &max, T (*read)(const char *, char **)) {
  if (*p != '(') return p;
  p = readMinMax(p + 1, min, max, read);
  while (*p == ' ' || *p == '\t') p++;
  return *p == ')' ? p + 1 : p;
}

const char *readPairs(const char *p, Element &el) {
  for (; (*p == '+' || *p == '-') && p[1] != '\0'; p += 2) {
    unsigned char c = byte(p[1]);
    if (*p == '-') {
      el.minus.set(c);
    } else if (!el.plus.test(c)) {
      el.plus.set(c);
      if (el.plusLen + 1 < PLUS_TEXT_SIZE) {
        el.plusText[el.plusLen++] = p[1];
        el.plusText[el.plusLen] = '\0';
      }
    }
  }
  return p;
}

// "!(text)": the text runs to the ")" that is not escaped.
const char *readForbidden(const char *p, Element &el) {
  el.kind = Kind::Forbidden;
  if (*p == '(') p++;
  if (*p == ')') return p + 1;           // "!()": the empty entry
  const char *cursor = p;
  if (GetTokenD(p, ")", &cursor, el.text) == nullptr) el.text[0] = '\0';
  return cursor;
}

// The elements with bounds: whether they are reals and take pairs.
struct Form {
  char letter;
  Kind kind;
  bool real;
  bool pairs;
};
constexpr Form FORMS[] = {
    {'A', Kind::Class, false, true},  {'a', Kind::Class, false, true},
    {'p', Kind::Class, false, true},  {'L', Kind::Length, false, false},
    {'t', Kind::Length, false, false}, {'d', Kind::Integer, false, true},
    {'x', Kind::Hex, false, false},   {'D', Kind::Long, true, true},
    {'f', Kind::Real, true, false},
};

// Parses the element at r (not a blank or separator) and returns the rule
// position after it.
const char *parseElement(const char *r, Element &el) {
  el.letter = *r;
  const char *p = r + 1;
  if (*r == '!' || (*r == 't' && *p != '(')) return readForbidden(p, el);
  for (const Form &form : FORMS) {
    if (form.letter != *r) continue;
    el.kind = form.kind;
    p = form.real ? readBounds(p, el.realMin, el.realMax, readReal)
                  : readBounds(p, el.min, el.max, readInt);
    return form.pairs ? readPairs(p, el) : p;
  }
  el.kind = Kind::Literal;
  return p;
}

// Moves over whole elements to the next "&" or "|" or the end; with
// overClauses, over "&" as well, to the next alternative.
const char *skipElements(const char *r, bool overClauses) {
  for (;;) {
    if (*r == '\0' || *r == '|' || (*r == '&' && !overClauses)) return r;
    if (*r == '&' || isBlank(*r)) {
      r++;
      continue;
    }
    Element el;
    r = parseElement(r, el);
  }
}

// Consumes the entry up to end and one character after it.
void consumeNumber(const char *&e, const char *end, BoundedBuf &matched) {
  if (*end != '\0') end++;
  matched.append(e, static_cast<size_t>(end - e));
  e = end;
}

bool outsideLength(const char *entry, const Element &el) {
  long long len = static_cast<long long>(strlen(entry));
  return el.max != 0 && (len < el.min || len > el.max);
}

template <typename T>
bool outsideRange(T v, T min, T max) {
  return max != 0 && (v < min || v > max);
}

// The first character of the entry that is not a digit or is a "-" pair.
int refusedDigit(const char *entry, const Element &el) {
  for (const char *q = entry; *q; q++)
    if (!isDigit(*q) || el.minus.test(byte(*q))) return byte(*q);
  return -1;
}

bool inClass(char letter, unsigned char c) {
  if (letter == 'a') return isalpha(c);
  if (letter == 'p') return isprint(c);
  return isalnum(c);
}

// Checks one element at the entry position e, which moves past what the
// element consumes.
Failure checkElement(const Element &el, const char *entry, const char *&e, BoundedBuf &matched) {
  char *end;
  switch (el.kind) {
    case Kind::Literal:
      if (*e != el.letter) return {CODE_CHARACTER, Msg::Literal, byte(*e)};
      matched.append(*e++);
      return {};
    case Kind::Class:
      for (; *e; e++) {
        if (!inClass(el.letter, byte(*e)) && !el.plus.test(byte(*e)))
          return {CODE_CHARACTER, el.letter == 'a' ? Msg::Alpha : Msg::Class, byte(*e)};
        matched.append(*e);
      }
      [[fallthrough]];
    case Kind::Length:
      if (outsideLength(entry, el)) return {CODE_LENGTH, Msg::Length, 0};
      return {};
    case Kind::Integer: {
      long long v = strtoll(e, &end, 10);
      consumeNumber(e, end, matched);
      if (int c = refusedDigit(entry, el); c >= 0) return {CODE_CHARACTER, Msg::Digit, c};
      if (outsideRange<long long>(v, el.min, el.max)) return {CODE_RANGE, Msg::IntRange, 0};
      return {};
    }
    case Kind::Hex: {
      long long v = 0;
      const char *q = e;
      for (; isxdigit(byte(*q)); q++) {
        int digit = isDigit(*q) ? *q - '0' : (tolower(byte(*q)) - 'a' + 10);
        v = v > (LLONG_MAX - digit) / 16 ? LLONG_MAX : v * 16 + digit;
      }
      consumeNumber(e, q, matched);
      if (outsideRange<long long>(v, el.min, el.max)) return {CODE_RANGE, Msg::HexRange, 0};
      return {};
    }
    case Kind::Long: {
      long double v = strtold(e, &end);
      consumeNumber(e, end, matched);
      if (int c = refusedDigit(entry, el); c >= 0) return {CODE_CHARACTER, Msg::LongCharacter, c};
      if (outsideRange(v, el.realMin, el.realMax)) return {CODE_RANGE, Msg::LongRange, 0};
      return {};
    }
    case Kind::Real: {
      int points = 0;
      for (const char *q = e; *q; q++) {
        if (*q == '.' && ++points > 1) return {CODE_RANGE, Msg::RealPoints, '.'};
        if (*q != '.' && !isDigit(*q)) return {CODE_CHARACTER, Msg::RealCharacter, byte(*q)};
      }
      long double v = strtod(e, &end);
      consumeNumber(e, end, matched);
      if (outsideRange(v, el.realMin, el.realMax)) return {CODE_RANGE, Msg::RealRange, 0};
      return {};
    }
    case Kind::Forbidden:
      if (strcmp(entry, el.text) == 0) return {CODE_FORBIDDEN, Msg::Forbidden, 0};
      return {};
  }
  return {};
}

// The length message, formatted into NlsBuf.
char *formatLength(int min, int max) {
  Nlssprintf(NlsBuf, pDrvCoreDB, 30, min == max ? 44 : 42, min, max);
  return NlsBuf;
}

// Message 25_number of the core catalogue, copied into buf (or its key).
const char *message(char *buf, int number) {
  return NlsFetchString(pDrvCoreDB, buf, NLS_BY_NUMBER, 25, number);
}

void fetchRangeMessages() {
  if (pErrIntRange != nullptr) return;
  char buf[NLS_STRBUF_SIZE];
  pErrIntRange = SaveStr(message(buf, 1003));
  pErrFloatRange = SaveStr(message(buf, 1004));
  pErrLongRange = SaveStr(message(buf, 1024));
}

// Shows the failure and returns its code.
unsigned char report(const Element &el, const Failure &f, const char *entry, const char *matched) {
  char fmt[NLS_STRBUF_SIZE];
  switch (f.msg) {
    case Msg::None: break;
    case Msg::Literal:
      if (*matched != '\0') PostMsg(message(fmt, 1010), f.ch, el.letter, matched);
      break;
    case Msg::Class: PostMsg(message(fmt, 1007), f.ch, el.plusText); break;
    case Msg::Alpha: PostMsg(message(fmt, 1008), f.ch, el.plusText); break;
    case Msg::Length: PostMsg("%s", formatLength(el.min, el.max)); break;
    case Msg::Digit: PostMsg(INVALID_DIGIT, f.ch); break;
    case Msg::IntRange: PostMsg(pErrIntRange, el.min, el.max); break;
    case Msg::HexRange:
      PostMsg(pErrFloatRange, static_cast<unsigned>(el.min), static_cast<unsigned>(el.max));
      break;
    case Msg::LongCharacter: PostMsg(INVALID_NUMBER_CHARACTER, f.ch); break;
    case Msg::LongRange: PostMsg(pErrLongRange, el.realMin, el.realMax); break;
    case Msg::RealCharacter: PostMsg(message(fmt, 1006), f.ch); break;
    case Msg::RealPoints: PostMsg("%s", message(fmt, 1020)); break;
    case Msg::RealRange:
      PostMsg(REAL_RANGE, static_cast<double>(el.realMin), static_cast<double>(el.realMax));
      break;
    case Msg::Forbidden: PostMsg(message(fmt, 1009), entry); break;
  }
  return f.code;
}

}  // namespace

unsigned char ValidateEntry(const char *entry, const char *rule) {
  if (rule == nullptr) return 0;
  fetchRangeMessages();
  if (entry == nullptr) entry = "";
  char matchedText[MATCHED_SIZE];
  BoundedBuf matched(matchedText);
  const char *e = entry;
  const char *r = rule;
  for (;;) {
    while (isBlank(*r)) r++;
    if (*r == '\0' || *r == '|') return 0;
    if (*r == '&') {                     // the next clause, over the whole entry
      e = entry;
      matched.clear();
      r++;
      continue;
    }
    Element el;
    const char *next = parseElement(r, el);
    Failure f = checkElement(el, entry, e, matched);
    if (f.code == 0) {
      r = el.passSkipsClause() ? skipElements(next, false) : next;
      continue;
    }
    if (el.failsHard()) return report(el, f, entry, matched.str());
    // A literal, class or length failure gives way to the next alternative.
    r = skipElements(next, true);
    if (*r != '|') return report(el, f, entry, matched.str());
    e = entry;
    matched.clear();
    r++;
  }
}

int getMinMax(const char *bounds, int *pMin) {
  int min = 0, max = 0;
  if (bounds != nullptr) {
    const char *p = bounds;
    if (*p != '\0' && !isDigit(*p)) p++;
    readMinMax(p, min, max, readInt);
  }
  if (pMin != nullptr) *pMin = min;
  return max;
}

char *ValidateEntryLen(const char *entry, const char *bounds) {
  int min = 4, max = 4;
  if (bounds != nullptr) max = getMinMax(bounds, &min);
  long long len = entry != nullptr ? static_cast<long long>(strlen(entry)) : 0;
  return len >= min && len <= max ? nullptr : formatLength(min, max);
}

char ValidateEntryDigit(const char *entry) {
  for (const char *q = entry; q != nullptr && *q; q++)
    if (!isDigit(*q)) return *q;
  return 0;
}

int ValidateEntryTty(const char *entry, const char *bounds) {
  if (const char *msg = ValidateEntryLen(entry, bounds)) {
    PostMsg("%s", msg);
    return CODE_LENGTH;
  }
  if (char c = ValidateEntryDigit(entry)) {
    PostMsg(INVALID_DIGIT, c);
    return CODE_CHARACTER;
  }
  return 0;
}
