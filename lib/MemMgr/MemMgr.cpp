// The memory block manager: blocks, the chain, and GetMem/PutMem/AdjustMem.
//
// Every byte handed out is zero-filled, and the bytes past an allocation's
// requested length stay zero between calls, so growth never shows old data.
// In the sanitizer build free nodes and the bytes past each requested length
// are poisoned, so an overflow or a use after PutMem is reported.
#include "MemMgr.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "poison.h"
#ifdef __SSE2__
#include <emmintrin.h>
#endif

MemBlock *pMemB = nullptr;
const char OutOfMem[] = "Unable to allocate memory";

namespace {

int MemId = -1;                        // the open "/dev/zero", kept open
const char *memDevice = "/dev/zero";
bool lastMapFromHeap = false;          // set by MapBlock for its caller

#ifdef TARNU_MEM_POISON
void memPoison(const void *p, size_t n) { ASAN_POISON_MEMORY_REGION(p, n); }
void memUnpoison(const void *p, size_t n) { ASAN_UNPOISON_MEMORY_REGION(p, n); }
#else
void memPoison(const void *, size_t) {}
void memUnpoison(const void *, size_t) {}
#endif

// An allocation of span bytes at p with n of them requested: the first n
// usable, the rest (at least the one byte the rounding adds) poisoned.
void memMarkAllocation(const void *p, size_t n, size_t span) {
  memPoison(p, span);
  memUnpoison(p, n);
}

// The largest data area whose size still fits the descriptor's 32-bit field.
constexpr size_t kMaxArea = 0x7FFF0000;
constexpr size_t kNodeSize = MEM_NODE_SIZE;
constexpr size_t kBlockSize = MEM_BLOCK_SIZE;

// The rounded length of a request of n bytes (the smallest multiple of 32
// that is at least n + 1); 0 when it cannot be served at all.
size_t roundRequest(size_t n) {
  if (n >= kMaxArea) return 0;
  return (n + 1 + kNodeSize - 1) / kNodeSize * kNodeSize;
}

size_t dedicatedArea(size_t r) { return (r + kBlockSize - 1) / kBlockSize * kBlockSize; }

size_t mappedLength(size_t length) {
  size_t page = static_cast<size_t>(getpagesize());
  return (length / page + 1) * page;
}

void reportNoMemory() { fprintf(stderr, "ERROR: %s\n", OutOfMem); }

// Gives back what MapBlock handed out for a request of length bytes.
void unmapArea(void *p, size_t length, bool fromHeap) {
  memUnpoison(p, mappedLength(length));
  if (fromHeap)
    free(p);
  else
    munmap(p, mappedLength(length));
}

bool isDedicated(const MemBlock *b) { return b->size > MEM_BLOCK_SIZE; }

size_t nodeIndex(const MemBlock *b, const void *p) {
  return static_cast<size_t>(reinterpret_cast<uintptr_t>(p) -
                             reinterpret_cast<uintptr_t>(b->data)) / kNodeSize;
}

// True when p is where an allocation of block b begins.
bool startsAllocation(const MemBlock *b, const void *p) {
  if (isDedicated(b)) return p == b->data;
  const MemNodeEntry &e = b->nodes[nodeIndex(b, p)];
  return e.count != 0 && e.addr == p;
}

void setMAT(MemBlock *b, size_t first, size_t count, char ch) {
  memset(b->MAT + first, ch, count);
}

// Bit i set when mat[i] is blank, for the 64 MAT characters at mat.
uint64_t blankMask(const char *mat) {
  uint64_t mask = 0;
#ifdef __SSE2__
  const __m128i blank = _mm_set1_epi8(MEM_FREE);
  for (int c = 0; c < 4; c++) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(mat + 16 * c));
    auto bits = static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, blank)));
    mask |= static_cast<uint64_t>(bits) << (16 * c);
  }
#else
  for (int i = 0; i < 64; i++)
    if (mat[i] == MEM_FREE) mask |= uint64_t(1) << i;
#endif
  return mask;
}

// First fit: the lowest node of block b where k free nodes begin, or -1.
// The MAT is read 64 characters at a time from the group of the block's
// lowest free node (moved up to the first blank seen); a run may cross from
// one group into the next (run counts the blanks that end the previous one).
static_assert(MEM_NODES % 64 == 0, "the MAT is searched in groups of 64 nodes");
int findFreeRun(MemBlock *b, int k) {
  int run = 0;
  bool blankSeen = false;
  for (int w = b->lowFree / 64; w < MEM_NODES / 64; w++) {
    uint64_t m = blankMask(b->MAT + 64 * w);
    if (!blankSeen) {
      blankSeen = m != 0;
      b->lowFree = blankSeen ? 64 * w + std::countr_zero(m) : 64 * (w + 1);
    }
    if (run + std::countr_one(m) >= k) return 64 * w - run;
    if (k <= 64 && m) {
      // Bit i of r: nodes i .. i + len - 1 of this group are all free.
      uint64_t r = m;
      for (int len = 1; len < k && r;) {
        int sh = len < k - len ? len : k - len;
        r &= r >> sh;
        len += sh;
      }
      if (r) return 64 * w + std::countr_zero(r);
    }
    run = m == ~uint64_t(0) ? run + 64 : std::countl_one(m);
  }
  return -1;
}

// Search hints of block b after nodes from first on came back.
void nodesReturned(MemBlock *b, size_t first) {
  b->noRunOf = 0;
  if (static_cast<int32_t>(first) < b->lowFree) b->lowFree = static_cast<int32_t>(first);
}

// Length of the allocation that begins at p in block b (its whole span).
size_t allocationSpan(const MemBlock *b, const void *p) {
  if (isDedicated(b)) return static_cast<size_t>(b->usedLen);
  return b->nodes[nodeIndex(b, p)].count * kNodeSize;
}

// Leaves the allocation at p with n bytes in use: everything past n cleared
// and, in the sanitizer build, poisoned.
void *settle(const MemBlock *b, char *p, size_t n) {
  size_t span = allocationSpan(b, p);
  memUnpoison(p, span);
  memset(p + n, 0, span - n);
  memMarkAllocation(p, n, span);
  return p;
}

// Hands out k nodes at node i of block b for a request of n bytes.
void *takeNodes(MemBlock *b, int i, int k, size_t n) {
  char *addr = b->data + kNodeSize * static_cast<size_t>(i);
  setMAT(b, static_cast<size_t>(i), static_cast<size_t>(k), MEM_USED);
  if (b->lowFree == i) b->lowFree = i + k;
  b->nodes[i].count = static_cast<uint16_t>(k);
  b->nodes[i].addr = addr;
  size_t span = kNodeSize * static_cast<size_t>(k);
  memUnpoison(addr, span);
  memset(addr, 0, span);
  b->freeNodes -= k;
  memMarkAllocation(addr, n, span);
  return addr;
}

}  // namespace

void SetMemDevice(const char *path) {
  if (MemId >= 0) close(MemId);
  MemId = -1;
  memDevice = path ? path : "/dev/zero";
}

// Maps (length / page + 1) pages of "/dev/zero"; when the device cannot be
// opened the same amount comes zero-filled from the C heap. Null on failure.
void *MapBlock(size_t length) {
  lastMapFromHeap = false;
  if (length > kMaxArea) return nullptr;
  size_t len = mappedLength(length);
  if (MemId < 0) MemId = open(memDevice, O_RDWR | O_CLOEXEC);
  if (MemId < 0) {
    void *p = calloc(1, len);
    lastMapFromHeap = p != nullptr;
    return p;
  }
  void *p = mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_PRIVATE, MemId, 0);
  return p == MAP_FAILED ? nullptr : p;
}

// Creates a block with a data area of length bytes (at least 65,536) and
// appends it to the chain; null, with the message on standard error, when
// no memory can be had.
MemBlock *GetNewBlock(size_t length) {
  size_t size = length < kBlockSize ? kBlockSize : length;
  auto *b = static_cast<MemBlock *>(MapBlock(sizeof(MemBlock)));
  bool heapDesc = lastMapFromHeap;
  char *data = b ? static_cast<char *>(MapBlock(size)) : nullptr;
  bool heapData = lastMapFromHeap;
  if (!b || !data) {
    if (b) unmapArea(b, sizeof(MemBlock), heapDesc);
    reportNoMemory();
    return nullptr;
  }
  // MapBlock's memory is zero-filled already (a fresh private mapping of
  // "/dev/zero" or calloc): clearing the descriptor would only fault in
  // pages of the node table that may never be used.
  memset(b->MAT, MEM_FREE, MEM_NODES);
  b->MAT[MEM_NODES] = '\0';
  b->heapDesc = heapDesc;
  b->heapData = heapData;
  PushBlock(b);
  b->size = static_cast<int32_t>(size);
  b->data = data;
  b->freeNodes = MEM_NODES;
  memPoison(data, mappedLength(size));  // the slack page too: an overrun is caught
  return b;
}

void PushBlock(MemBlock *block) {
  block->next = nullptr;
  block->prev = nullptr;
  if (!pMemB) {
    pMemB = block;
    return;
  }
  MemBlock *last = pMemB;
  while (last->next) last = last->next;
  last->next = block;
  block->prev = last;
}

void PopBlock(MemBlock *block) {
  if (block == pMemB) {
    pMemB = block->next;
    if (pMemB) pMemB->prev = nullptr;
  } else {
    if (block->prev) block->prev->next = block->next;
    if (block->next) block->next->prev = block->prev;
  }
  block->next = nullptr;
  block->prev = nullptr;
}

// The block whose data area holds p (data <= p < data + size), or null.
MemBlock *FindBlock(const void *p) {
  uintptr_t a = reinterpret_cast<uintptr_t>(p);
  for (MemBlock *b = pMemB; b; b = b->next) {
    uintptr_t start = reinterpret_cast<uintptr_t>(b->data);
    if (a >= start && a - start < static_cast<size_t>(b->size)) return b;
  }
  return nullptr;
}

void FreeBlock(MemBlock *block) {
  PopBlock(block);
  unmapArea(block->data, static_cast<size_t>(block->size), block->heapData);
  unmapArea(block, sizeof(MemBlock), block->heapDesc);
}

int TestMAT(const char *pos, char ch, int count) {
  for (int i = 0; i < count; i++)
    if (pos[i] != ch) return 0;
  return 1;
}

void *GetMem(size_t n) {
  if (n == 0) return nullptr;
  size_t r = roundRequest(n);
  if (r == 0) {
    reportNoMemory();
    return nullptr;
  }
  if (r > kBlockSize) {
    // A fresh mapping is already zero-filled: no clearing needed.
    MemBlock *b = GetNewBlock(dedicatedArea(r));
    if (!b) return nullptr;
    memset(b->MAT, MEM_USED, MEM_NODES);
    b->freeNodes = 0;
    b->usedLen = static_cast<int32_t>(r);
    memMarkAllocation(b->data, n, r);
    return b->data;
  }
  int k = static_cast<int>(r / kNodeSize);
  if (!pMemB && !GetNewBlock(kBlockSize)) return nullptr;
  for (MemBlock *b = pMemB; b; b = b->next) {
    if (b->freeNodes < k || (b->noRunOf != 0 && k >= b->noRunOf)) continue;
    int i = findFreeRun(b, k);
    if (i >= 0) return takeNodes(b, i, k, n);
    b->noRunOf = k;
  }
  MemBlock *b = GetNewBlock(kBlockSize);
  if (!b) return nullptr;
  return takeNodes(b, 0, k, n);
}

void PutMem(void *p) {
  if (!p) return;
  MemBlock *b = FindBlock(p);
  if (!b) return;
  if (isDedicated(b)) {
    // Only the start of the area releases it: an interior pointer is not
    // the allocation, and freeing the block under its owner would lose it.
    if (p == b->data) FreeBlock(b);
    return;
  }
  MemNodeEntry &e = b->nodes[nodeIndex(b, p)];
  if (e.count != 0 && e.addr == p) {
    size_t i = nodeIndex(b, p);
    b->freeNodes += e.count;
    setMAT(b, i, e.count, MEM_FREE);
    nodesReturned(b, i);
    memPoison(e.addr, e.count * kNodeSize);
    e.count = 0;
    e.addr = nullptr;
  }
  if (b->freeNodes == MEM_NODES) FreeBlock(b);
}

void *AdjustMem(void *ptr, size_t n) {
  if (n == 0) {
    PutMem(ptr);
    return nullptr;
  }
  char *p = static_cast<char *>(ptr);
  MemBlock *b = p ? FindBlock(p) : nullptr;
  if (!b || !startsAllocation(b, p)) return GetMem(n);
  size_t r = roundRequest(n);
  if (r == 0) {
    reportNoMemory();
    return nullptr;
  }

  if (r > kBlockSize || isDedicated(b)) {
    if (static_cast<size_t>(b->size) < r) {
      size_t old = allocationSpan(b, p);
      char *q = static_cast<char *>(GetMem(r));
      if (!q) return nullptr;
      memUnpoison(p, old);
      memcpy(q, p, old);
      PutMem(p);
      return settle(FindBlock(q), q, n);
    }
    // The dedicated block keeps serving; the bytes between the two lengths
    // are cleared in either direction, and the used length always follows.
    size_t used = static_cast<size_t>(b->usedLen);
    memUnpoison(p, used > r ? used : r);
    if (r < used)
      memset(p + r, 0, used - r);
    else
      memset(p + used, 0, r - used);
    b->usedLen = static_cast<int32_t>(r);
    memPoison(p, used > r ? used : r);
    return settle(b, p, n);
  }

  size_t i = nodeIndex(b, p);
  size_t a = b->nodes[i].count;
  size_t k = r / kNodeSize;
  if (k == a) return settle(b, p, n);
  if (k < a) {
    setMAT(b, i + k, a - k, MEM_FREE);
    nodesReturned(b, i + k);
    memUnpoison(p + k * kNodeSize, (a - k) * kNodeSize);
    memset(p + k * kNodeSize, 0, (a - k) * kNodeSize);
    memPoison(p + k * kNodeSize, (a - k) * kNodeSize);
    b->nodes[i].count = static_cast<uint16_t>(k);
    b->freeNodes += static_cast<int32_t>(a - k);
    return settle(b, p, n);
  }
  size_t c = k - a;
  if (i + k <= MEM_NODES && TestMAT(b->MAT + i + a, MEM_FREE, static_cast<int>(c))) {
    setMAT(b, i + a, c, MEM_USED);
    memUnpoison(p + a * kNodeSize, c * kNodeSize);
    memset(p + a * kNodeSize, 0, c * kNodeSize);
    b->nodes[i].count = static_cast<uint16_t>(k);
    b->freeNodes -= static_cast<int32_t>(c);
    return settle(b, p, n);
  }
  if (i >= c && TestMAT(b->MAT + i - c, MEM_FREE, static_cast<int>(c))) {
    char *q = p - c * kNodeSize;
    setMAT(b, i - c, c, MEM_USED);
    memUnpoison(q, k * kNodeSize);
    memmove(q, p, a * kNodeSize);
    memset(q + a * kNodeSize, 0, c * kNodeSize);
    b->nodes[i - c].count = static_cast<uint16_t>(k);
    b->nodes[i - c].addr = q;
    b->nodes[i].count = 0;
    b->nodes[i].addr = nullptr;
    b->freeNodes -= static_cast<int32_t>(c);
    return settle(b, q, n);
  }
  char *q = static_cast<char *>(GetMem(r));
  if (!q) return nullptr;
  memUnpoison(p, a * kNodeSize);
  memcpy(q, p, a * kNodeSize);
  PutMem(p);
  return settle(FindBlock(q), q, n);
}
