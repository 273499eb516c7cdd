// DumpMem: a description of every block of the memory chain on standard
// output, for debugging; allocation contents are shown as strings, never
// past the allocation (nor, in the sanitizer build, past its requested length).
#include "MemMgr.h"

#include <cstdio>
#include <cstdint>

#include "poison.h"

namespace {

long addressOf(const void *p) { return static_cast<long>(reinterpret_cast<intptr_t>(p)); }

// How many bytes of an allocation of span bytes at p may be read.
int readableLength(const char *p, size_t span) {
#ifdef TARNU_MEM_POISON
  const void *bad = __asan_region_is_poisoned(const_cast<char *>(p), span);
  if (bad) span = static_cast<size_t>(static_cast<const char *>(bad) - p);
#else
  (void)p;
#endif
  return static_cast<int>(span);
}

void dumpRegular(const MemBlock *b) {
  int blanks = 0;
  for (int i = 0; i < MEM_NODES; i++)
    if (b->MAT[i] == MEM_FREE) blanks++;
  int counted = 0;
  for (int i = 0; i < MEM_NODES; i++) counted += b->nodes[i].count;
  printf("\n============ Block(%li) size(%li) Free(%i) Used(%i) FreeNodeCount(%i) "
         "SizeCnt(%i) <==(%li) (%li)==>\n\tBlock MAT:",
         addressOf(b), static_cast<long>(b->size), blanks, MEM_NODES - blanks,
         b->freeNodes, MEM_NODES - counted, addressOf(b->prev), addressOf(b->next));
  for (int row = 0; row < MEM_NODES; row += 64) {
    char line[65];
    for (int i = 0; i < 64; i++) {
      char c = b->MAT[row + i];
      line[i] = c == MEM_FREE ? '_' : c;
    }
    line[64] = '\0';
    printf("\n\t%s", line);
  }
  printf("\n\n\tAllocated Nodes:\n");
  for (int i = 0; i < MEM_NODES; i++) {
    const MemNodeEntry &e = b->nodes[i];
    if (e.count == 0 || !e.addr) continue;
    int span = e.count * MEM_NODE_SIZE;
    printf("\tMAT index(%6i) Memory Addr(%6li) nodes(%5i) size(%5i) Memory(%.*s)\n", i,
           addressOf(e.addr), static_cast<int>(e.count), span,
           readableLength(e.addr, static_cast<size_t>(span)), e.addr);
  }
  printf("\n");
}

}  // namespace

void DumpMem() {
  for (const MemBlock *b = pMemB; b; b = b->next) {
    if (b->size > MEM_BLOCK_SIZE)
      printf("\n============ Dedicated Block(%li) size(%li) FreeNodeCount(%i) <==(%li) (%li)==>",
             addressOf(b->data), static_cast<long>(b->size), b->freeNodes, addressOf(b->prev),
             addressOf(b->next));
    else
      dumpRegular(b);
  }
}
