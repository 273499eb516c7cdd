// The block index of the memory block manager, shared by its files: the
// block that holds an address found without walking the chain (a hash of
// the 64 KB windows of the address space that each data area covers), and
// the regular blocks in chain order beside an array of their longest free
// runs, so that first fit passes over the blocks that cannot serve a request
// without reading them. Its tables come from MapBlock like the blocks.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>

#include "MemMgr.h"
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace memindex {

// Memory the manager takes for itself, and where it came from.
struct Area {
  void *p = nullptr;
  size_t length = 0;
  bool fromHeap = false;
};
// A zero-filled area of at least length bytes from MapBlock; p null on failure.
Area mapArea(size_t length);
void unmapArea(const Area &a);

// Enters a block whose size and data are set (a regular one also at the end
// of the chain order, with its noRunOf); false when the index cannot grow.
bool addBlock(MemBlock *b);
void dropBlock(MemBlock *b);
// Records a regular block's changed noRunOf.
void noteLongestRun(const MemBlock *b);

// The tables, read by the lookups below and written only by index.cpp. A
// data area is longer than a window and areas never overlap, so at most two
// blocks share a window.
struct Window {
  uintptr_t key;    // address >> kWindowShift
  MemBlock *block;  // null: the entry is empty
};
constexpr unsigned kWindowShift = 16;
constexpr size_t kSlotGroup = 8;   // the run array is scanned eight at a time
extern Window *windows;            // open addressing, at most half full
extern size_t windowCap;           // a power of two (0 before the first block)
extern size_t windowCount;
extern MemBlock **slotBlocks;      // the regular blocks in chain order
extern uint16_t *slotRuns;         // their noRunOf - 1, zero past the last
extern size_t slotCap;             // a multiple of kSlotGroup
extern size_t slotCount;
extern MemBlock *lastFound;        // the block lookupBlock found last, or null

inline size_t hashWindow(uintptr_t key) {
  return static_cast<size_t>((key * 0x9E3779B97F4A7C15u) >> 32) & (windowCap - 1);
}

inline bool holds(const MemBlock *b, uintptr_t a) {
  return a - reinterpret_cast<uintptr_t>(b->data) < static_cast<size_t>(b->size);
}

// The block whose data area holds p, or null. Releases come in runs from
// one block, so the block found last is tried first.
inline MemBlock *lookupBlock(const void *p) {
  uintptr_t a = reinterpret_cast<uintptr_t>(p);
  if (lastFound && holds(lastFound, a)) return lastFound;
  if (!windowCap) return nullptr;
  uintptr_t key = a >> kWindowShift;
  for (size_t i = hashWindow(key); windows[i].block; i = (i + 1) & (windowCap - 1)) {
    if (windows[i].key == key && holds(windows[i].block, a)) {
      lastFound = windows[i].block;
      return lastFound;
    }
  }
  return nullptr;
}

// The first regular block in chain order whose longest free run is at least
// k nodes as last noted, or null.
inline MemBlock *findBlockWithRun(int k) {
  static_assert(MEM_NODES < INT16_MAX, "runs are compared as signed 16-bit numbers");
  if (slotCount && slotRuns[0] >= k) return slotBlocks[0];  // the common case
#ifdef __SSE2__
  const __m128i shorter = _mm_set1_epi16(static_cast<int16_t>(k - 1));
  for (size_t s = 0; s < slotCount; s += kSlotGroup) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(slotRuns + s));
    auto m = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi16(v, shorter)));
    if (m) {
      size_t at = s + static_cast<size_t>(std::countr_zero(m)) / 2;
      return at < slotCount ? slotBlocks[at] : nullptr;
    }
  }
#else
  for (size_t s = 0; s < slotCount; s++)
    if (slotRuns[s] >= k) return slotBlocks[s];
#endif
  return nullptr;
}

}  // namespace memindex
