// Entry validation: the rule notation element by element, both kinds of
// failure, and the messages shown, over a small catalogue whose texts name
// the message and its arguments.
#include <string>

#include "TextMenu.h"
#include "nls_fixture.h"

namespace {

struct Case {
  const char *rule;
  std::string entry;
  int code;
  std::string shown;   // the message before the press-Return line, or none
};

int validate(const Case &c) { return ValidateEntry(c.entry.c_str(), c.rule); }
int validateTty(const Case &c) { return ValidateEntryTty(c.entry.c_str(), c.rule); }

class ValidateTest : public nlstest::NlsTest {
 protected:
  void SetUp() override {
    NlsTest::SetUp();
    using nlstest::text;
    pDrvCoreDB = open(writeCatalogue("en_US", "CoreString", {
        {"25_1001", text("<ret>")}, {"25_1003", text("int %i..%i")},
        {"25_1004", text("hex %x..%x")}, {"25_1024", text("long %.1Lf..%.1Lf")},
        {"25_1006", text("real %c")}, {"25_1007", text("class %c [%s]")},
        {"25_1008", text("alpha %c [%s]")}, {"25_1009", text("forbidden %s")},
        {"25_1010", text("literal %c, %c after %s")}, {"25_1020", text("points")},
        {"30_42", text("length %i..%i")}, {"30_44", text("length %i")}}));
    writeFile("returns", std::string(64, '\n'));
    ASSERT_NE(freopen(path("returns").c_str(), "r", stdin), nullptr);
  }
  void TearDown() override {
    EXPECT_NE(freopen("/dev/null", "r", stdin), nullptr);
    NlsTest::TearDown();
  }
  static void expectShown(const Case &c, int (*check)(const Case &)) {
    SCOPED_TRACE(std::string(c.rule ? c.rule : "(null)") + " <- " + c.entry);
    testing::internal::CaptureStdout();
    EXPECT_EQ(check(c), c.code);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.shown.empty() ? "" : c.shown + "<ret>");
  }
};

TEST_F(ValidateTest, RuleElementsAndFailures) {
  const std::string digit = "Invalid digit:  ";
  const Case cases[] = {
      {nullptr, "x", 0, ""},
      {"/A(1,255)+-+_+/", "/tmp/my_file-1", 0, ""},
      {"/A(1,255)+-+_+/", "my_file", 3, ""},            // literal at the start: no message
      {"/A(1,255)+-+_+/", "/tmp/a b", 3, "class   [-_/]"},
      {"/A(1,3)", "/abcd", 2, "length 1..3"},
      {"12-", "13", 3, "literal 3, 2 after 1"},
      {"a(1,5)+_", "ab1", 3, "alpha 1 [_]"},
      {"p(0,0)", "a\tb", 3, "class \t []"},
      {"L(3,3)", "ab", 2, "length 3"},
      {"d(1,65535)", "0", 1, "int 1..65535"},
      {"d(1,65535)", "12a", 3, digit + "a\n"},
      {"d(0,0)-0", "105", 3, digit + "0\n"},
      {"d(1,10)x", "5", 0, ""},                          // the rest after a range is not looked at
      {"x(16,255)", "F", 1, "hex 10..ff"},
      {"D(1,100)", "500", 1, "long 1.0..100.0"},
      {"D(0,0)-7", "170", 3, "Invalid character '7'\nThis text may contain \"0123456789.\""},
      {"f(0.5,2)", "1.2.3", 1, "points"},
      {"f(0.5,2)", "3", 1, "This number must be between 0.500000 to 2.000000."},
      {"f(0,0)", "1x", 3, "real x"},
      {"!(root)", "root", 4, "forbidden root"},
      {"!(a\\)b)", "a)b", 4, "forbidden a)b"},
      {"L(1,2)|!(abc)", "abcd", 0, ""},                  // first alternative fails silently
      {"L(1,2)|!(abc)", "abc", 4, "forbidden abc"},
      {"d(1,9)|L(1,5)", "x", 3, digit + "x\n"},          // a number failure is final
      {"L(3,8)&A(0,0)", "ab", 2, "length 3..8"},
      {"L(3,8)&A(0,0)", "abc!", 3, "class ! []"},
      // a failing first clause still gives way to the next alternative
      {"L(5,5)&A(0,0)|!(x)", "ab", 0, ""},
      // separators inside a forbidden text do not end an alternative
      {"L(9,9)&!(x|d(1,2))|p(0,0)", "q", 0, ""},
  };
  for (const Case &c : cases) expectShown(c, validate);
}

TEST_F(ValidateTest, ListsAndMatchedTextAreBounded) {
  std::string rule = "A(0,0)", shown = "class \x01 [";
  for (int c = 0x80; c < 0x80 + 96; c++) {
    rule += '+';
    rule += static_cast<char>(c);
    if (c < 0x80 + 79) shown += static_cast<char>(c);
  }
  std::string longRule = std::string(600, 'b') + "c";
  const Case cases[] = {
      {rule.c_str(), "ab\xDF", 0, ""},                   // the 96th pair still counts
      {rule.c_str(), "a\x01", 3, shown + "]"},
      {longRule.c_str(), std::string(600, 'b') + "x", 3,
       "literal x, c after " + std::string(511, 'b')},
  };
  for (const Case &c : cases) expectShown(c, validate);
}

TEST_F(ValidateTest, AllDigitEntries) {
  const Case cases[] = {
      {nullptr, "1234", 0, ""},
      {nullptr, "123", 2, "length 4"},
      {nullptr, "12a4", 3, "Invalid digit:  a\n"},
      {"(1,2)", "123", 2, "length 1..2"},
  };
  for (const Case &c : cases) expectShown(c, validateTty);
  int min = 0;
  EXPECT_EQ(getMinMax("x-2;5", &min), 5);
  EXPECT_EQ(min, -2);
}

}  // namespace
