// Settings lines found by fuzzing that once loaded a wrong value.
#include <cstring>
#include <fstream>

#include "textmenu_fixture.h"

using namespace menutest;

namespace {

class MenuRegress : public MenuTest {};

// A line whose type turns a real item into an integer one (or back) reads
// its text as the new type: the other type's bits never become the value.
TEST_F(MenuRegress, RetypedNumberReadsItsTextAsTheNewType) {
  struct Case {
    const char *line;
    uint32_t type;
    intptr_t value;   // for a real, its bits
  } cases[] = {
      {"0[0.125] 13 0\n", MENUITEM_INT, 0},
      {"0[0.125] 2 9] 13 0\n", MENUITEM_INT, 0},
      {"1[7] 14 0\n", MENUITEM_REAL, MenuRealBits(7.0f)},
      {"1[12] 13 0\n", MENUITEM_INT, 12},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    TextMenuItem items[] = {item("r", MENUITEM_REAL, MenuRealBits(2.5f)), item("i", MENUITEM_INT, 3), {}};
    MenuDef menu{"M", 0, nullptr, nullptr, 0, nullptr, nullptr, items, 0};
    InitMenu(&menu);
    std::ofstream(path("s")) << c.line;
    ASSERT_TRUE(OpenInputFile(path("s").c_str(), 1));
    LoadMenu(&menu);
    CloseInputFile();
    const TextMenuItem &it = items[c.line[0] - '0'];
    EXPECT_EQ(it.type, c.type);
    EXPECT_EQ(it.value, c.value);
    FreeMenu(&menu);
  }
}

}  // namespace
