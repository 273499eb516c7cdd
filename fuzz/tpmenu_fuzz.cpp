// Fuzz target of tpmenu's menu descriptions. The input is a description; a
// bad one must be refused with a line inside the input and a message. A
// good one is built into menus, every menu is prepared and drawn (the
// state formats and conditions of the description run on its own items),
// the main menu is applied as --batch does, and the assignments are
// written: each must be one line name='value' with every quote in the
// value written as '\''.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "TextMenu.h"
#include "description.h"
#include "fuzz_support.h"

namespace {

[[noreturn]] void fail(const char *why, const std::string &text) {
  fuzzsupport::fail("tpmenu_fuzz", why, text.c_str());
}

void *keepOnApply(MenuDef *menu) { return menu; }
void keepOnRefresh(MenuDef *) {}
int agree(MenuDef *, TextMenuItem *) { return 0; }
constexpr MenuCallbacks kCalls = {keepOnApply, keepOnApply, keepOnRefresh, keepOnRefresh,
                                  agree,       agree,       agree};

bool isNameChar(char c, bool first) {
  return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (!first && c >= '0' && c <= '9');
}

// One assignment line: NAME='...' where a quote inside appears only as '\''.
void checkAssignment(const std::string &line) {
  size_t i = 0;
  while (i < line.size() && isNameChar(line[i], i == 0)) i++;
  if (i == 0 || line.compare(i, 2, "='") != 0 || line.size() < i + 3 || line.back() != '\'')
    fail("not an assignment", line);
  for (size_t p = i + 2; p < line.size() - 1; p++) {
    if (line[p] != '\'') continue;
    if (line.compare(p, 4, "'\\''") != 0) fail("a quote ends the value", line);
    p += 3;
  }
}

void checkAssignments(MenuDescription *desc) {
  char *text = nullptr;
  size_t size = 0;
  FILE *out = open_memstream(&text, &size);
  if (out == nullptr) abort();
  WriteAssignments(out, desc);
  fclose(out);
  std::istringstream lines(std::string(text, size));
  free(text);
  for (std::string line; std::getline(lines, line);) checkAssignment(line);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // Drawing a menu clears the terminal through the command table.
  fuzzsupport::recordCommands([](int, const char *) { return 0; });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string input(reinterpret_cast<const char *>(data), size);
  std::istringstream in(input);
  MenuDescription desc;
  DescriptionError error;
  if (!ReadMenuDescription(in, "/nonexistent/", &desc, &error) || !BuildMenuDescription(&desc, kCalls, &error)) {
    const long lines = 1 + std::count(input.begin(), input.end(), '\n');
    if (error.what.empty() || error.line < 0 || error.line > lines) fail("a fault without its line", error.what);
    return 0;
  }
  for (MenuDesc &m : desc.menus) {
    const int labelWidth = InitMenu(&m.def);
    PrintMenu(&m.def, labelWidth, 0);
    for (size_t i = 0; i + 1 < m.items.size(); i++)
      if (m.items[i].type == MENUITEM_SUBMENU) ValidateMenu(&m.def, static_cast<int>(i));
  }
  RunMenu(&desc.menus.front().def, nullptr, 0);
  KeepMenuValues(&desc);
  RestoreMenuValues(&desc);
  FindEmptyName(&desc);
  checkAssignments(&desc);
  for (MenuDesc &m : desc.menus) FreeMenu(&m.def);
  return 0;
}
