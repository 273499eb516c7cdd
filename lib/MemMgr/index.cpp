// The block index: blocks entered and dropped, and its tables grown. The
// tables are mapped with MapBlock, never taken with malloc while "/dev/zero"
// can be opened, and stay while the process runs. Entries of the window hash
// are removed by moving later entries of their probe sequence back, so no
// tombstones are needed.
#include "index.h"

#include <cstring>

namespace memindex {
namespace {

constexpr size_t kFirstWindows = 256;     // hash entries at first (a power of two)

Area windowArea;
Area blockArea, runArea;                  // regular blocks in chain order, their runs

uintptr_t firstWindow(const MemBlock *b) {
  return reinterpret_cast<uintptr_t>(b->data) >> kWindowShift;
}
uintptr_t lastWindow(const MemBlock *b) {
  return (reinterpret_cast<uintptr_t>(b->data) + static_cast<size_t>(b->size) - 1) >>
         kWindowShift;
}

void insertWindow(uintptr_t key, MemBlock *b) {
  Window *w = windows;
  size_t i = hashWindow(key);
  while (w[i].block) i = (i + 1) & (windowCap - 1);
  w[i] = Window{key, b};
  windowCount++;
}

void eraseWindow(uintptr_t key, const MemBlock *b) {
  Window *w = windows;
  size_t mask = windowCap - 1;
  size_t i = hashWindow(key);
  while (w[i].key != key || w[i].block != b) {
    if (!w[i].block) return;
    i = (i + 1) & mask;
  }
  for (size_t j = (i + 1) & mask; w[j].block; j = (j + 1) & mask) {
    size_t home = hashWindow(w[j].key);
    bool stays = i <= j ? (i < home && home <= j) : (i < home || home <= j);
    if (stays) continue;
    w[i] = w[j];
    i = j;
  }
  w[i] = Window{0, nullptr};
  windowCount--;
}

// Room for more entries, rehashing into a larger table when needed.
bool reserveWindows(size_t more) {
  size_t need = windowCount + more;
  if (need * 2 <= windowCap) return true;
  size_t cap = windowCap ? windowCap : kFirstWindows;
  while (need * 2 > cap) cap *= 2;
  Area fresh = mapArea(cap * sizeof(Window));
  if (!fresh.p) return false;
  Area old = windowArea;
  size_t oldCap = windowCap;
  windowArea = fresh;
  windows = static_cast<Window *>(fresh.p);
  windowCap = cap;
  windowCount = 0;
  for (size_t i = 0; i < oldCap; i++) {
    const Window &e = static_cast<const Window *>(old.p)[i];
    if (e.block) insertWindow(e.key, e.block);
  }
  if (old.p) unmapArea(old);
  return true;
}

// Moves a table into a larger area, contents kept.
bool growArea(Area &a, size_t used, size_t length) {
  Area fresh = mapArea(length);
  if (!fresh.p) return false;
  if (a.p) {
    memcpy(fresh.p, a.p, used);
    unmapArea(a);
  }
  a = fresh;
  return true;
}

bool reserveSlot() {
  if (slotCount < slotCap) return true;
  size_t cap = slotCap ? 2 * slotCap : 64;
  if (!growArea(blockArea, slotCount * sizeof(MemBlock *), cap * sizeof(MemBlock *)) ||
      !growArea(runArea, slotCount * sizeof(uint16_t), cap * sizeof(uint16_t)))
    return false;
  slotBlocks = static_cast<MemBlock **>(blockArea.p);
  slotRuns = static_cast<uint16_t *>(runArea.p);
  slotCap = cap;
  return true;
}

}  // namespace

Window *windows = nullptr;
size_t windowCap = 0;
size_t windowCount = 0;
MemBlock **slotBlocks = nullptr;
uint16_t *slotRuns = nullptr;
size_t slotCap = 0;
size_t slotCount = 0;
MemBlock *lastFound = nullptr;

bool addBlock(MemBlock *b) {
  bool regular = b->size == MEM_BLOCK_SIZE;
  size_t count = lastWindow(b) - firstWindow(b) + 1;
  if (!reserveWindows(count) || (regular && !reserveSlot())) return false;
  for (uintptr_t key = firstWindow(b); key <= lastWindow(b); key++) insertWindow(key, b);
  if (regular) {
    b->slot = static_cast<int32_t>(slotCount);
    slotBlocks[slotCount] = b;
    slotRuns[slotCount] = b->noRunOf - 1;
    slotCount++;
  } else {
    b->slot = -1;
  }
  return true;
}

void dropBlock(MemBlock *b) {
  if (lastFound == b) lastFound = nullptr;
  for (uintptr_t key = firstWindow(b); key <= lastWindow(b); key++) eraseWindow(key, b);
  if (b->slot < 0) return;
  // The blocks after it move down one place (the run array stays zero past
  // the last block, so that a scan of a whole group finds nothing there).
  auto s = static_cast<size_t>(b->slot);
  MemBlock **blocks = slotBlocks;
  uint16_t *runs = slotRuns;
  for (size_t i = s + 1; i < slotCount; i++) {
    blocks[i - 1] = blocks[i];
    runs[i - 1] = runs[i];
    blocks[i - 1]->slot = static_cast<int32_t>(i - 1);
  }
  slotCount--;
  blocks[slotCount] = nullptr;
  runs[slotCount] = 0;
  b->slot = -1;
}

void noteLongestRun(const MemBlock *b) {
  if (b->slot >= 0) slotRuns[b->slot] = b->noRunOf - 1;
}

}  // namespace memindex
