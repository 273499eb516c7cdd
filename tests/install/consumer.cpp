// A program outside the project built against the installed library.
#include <tarnu/MemMgr.h>
#include <tarnu/utils.h>

#include <cstdio>

int main() {
  char *text = SaveStr("%s %d", "tarnu", FindToken("-v", ",install,-v"));
  std::puts(text);
  PutMem(text);
  return 0;
}
