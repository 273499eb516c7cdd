// Fuzz target of the menu settings file and the entry rules. The input up
// to its first NUL byte is a settings file, loaded into a menu with every
// kind of value and a submenu; the values are then stored, loaded back and
// stored again, and both stored files must be the same. After the next NUL
// byte come an entry rule and, after a third, the entry it checks.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "NlsUtils.h"
#include "TextMenu.h"
#include "fuzz_support.h"

namespace {

using fuzzsupport::takePart;

std::string workDir;

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TextMenuItem makeItem(const char *label, uint32_t type, intptr_t def = 0, char *choices = nullptr) {
  TextMenuItem it{};
  it.label = label;
  it.type = type;
  it.defaultValue = def;
  it.choices = choices;
  it.prompt = "Value";
  return it;
}

// A fresh menu for every input: loading changes its choice lists and values.
struct Menus {
  char choices[32] = "_a,_b,_c";
  char multi[32] = "_x,_y, z";
  TextMenuItem subItems[3] = {makeItem("l", MENUITEM_LABEL), makeItem("dpi", MENUITEM_INT, 300), {}};
  MenuDef sub{"Sub", 0, nullptr, nullptr, 0, nullptr, nullptr, subItems, 0};
  TextMenuItem items[10] = {
      makeItem("l", MENUITEM_LABEL),
      makeItem("m", MENUITEM_MULTI, 0, multi),
      makeItem("c", MENUITEM_CHOICE, 1, choices),
      makeItem("n", MENUITEM_NAME, reinterpret_cast<intptr_t>("lp0")),
      makeItem("r", MENUITEM_REAL, MenuRealBits(2.5f)),
      makeItem("s", MENUITEM_SUBMENU),
      makeItem("i", MENUITEM_INT, 7),
      makeItem("t", MENUITEM_STRING, reinterpret_cast<intptr_t>("text")),
      makeItem("e", MENUITEM_EXIT),
      {},
  };
  MenuDef menu{"M", 0, nullptr, nullptr, 0, nullptr, nullptr, items, 0};
  Menus() {
    items[5].value = reinterpret_cast<intptr_t>(&sub);
    InitMenu(&sub);
    InitMenu(&menu);
  }
  ~Menus() {
    FreeMenu(&menu);
    FreeMenu(&sub);
  }
  Menus(const Menus &) = delete;
  Menus &operator=(const Menus &) = delete;
};

void load(Menus &m, const std::string &path) {
  if (!OpenInputFile(path.c_str(), 1)) abort();
  LoadMenu(&m.menu);
  CloseInputFile();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  workDir = fuzzsupport::makeScratchDir("menufuzz");
  // An entry refused by a rule waits for Return, and the end of input would
  // end the process: the answer is an endless input.
  if (freopen("/dev/zero", "r", stdin) == nullptr || freopen("/dev/null", "w", stdout) == nullptr) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  size_t pos = 0;
  const std::string settings = takePart(data, size, pos);
  const std::string rule = takePart(data, size, pos);
  const std::string entry = takePart(data, size, pos);

  const std::string input = workDir + "/in", first = workDir + "/first", second = workDir + "/second";
  std::ofstream(input, std::ios::binary | std::ios::trunc) << settings;
  {
    Menus m;
    load(m, input);
    if (StoreMenuFile(&m.menu, first.c_str()) != 1) abort();
  }
  {
    Menus m;
    load(m, first);
    if (StoreMenuFile(&m.menu, second.c_str()) != 1) abort();
  }
  if (readFile(first) != readFile(second)) {
    fprintf(stderr, "menu_fuzz: stored values do not load back:\n%s---\n%s", readFile(first).c_str(),
            readFile(second).c_str());
    abort();
  }

  const unsigned char verdict = ValidateEntry(entry.c_str(), rule.c_str());
  if (verdict > 4) abort();
  return 0;
}
