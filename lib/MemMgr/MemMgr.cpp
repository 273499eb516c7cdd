// The memory block manager: blocks, the chain, and GetMem/PutMem/AdjustMem.
//
// Every byte handed out is zero-filled, and the bytes past an allocation's
// requested length stay zero between calls, so growth never shows old data.
// In the sanitizer build free nodes and the bytes past each requested length
// are poisoned, so an overflow or a use after PutMem is reported.
//
// First fit stays a search of the MAT for the lowest run of free nodes, made
// cheap by summaries that change with it: each block keeps its free nodes as
// bits and a small tree of free runs over its 64-node groups, the index
// (index.cpp) keeps every block's longest run, so a search goes straight to
// the first block that can serve and down its tree to the lowest fit.
#include "MemMgr.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "index.h"
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

// What MapBlock is asked for to hold a block: its data area of size bytes
// with the page MapBlock adds, and its descriptor in the pages right after
// (one mapping, one munmap: system calls are costly, in a virtual machine
// most of all).
size_t blockAreaLength(size_t size) {
  return mappedLength(size) + mappedLength(sizeof(MemBlock)) - static_cast<size_t>(getpagesize());
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

}  // namespace

memindex::Area memindex::mapArea(size_t length) {
  Area a;
  a.p = MapBlock(length);
  a.length = length;
  a.fromHeap = lastMapFromHeap;
  return a;
}

void memindex::unmapArea(const Area &a) { ::unmapArea(a.p, a.length, a.fromHeap); }

namespace {

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
  char *p = b->MAT + first;
  if (count > 8) {
    memset(p, ch, count);
    return;
  }
  // Most requests take a few nodes: two overlapping stores, no call.
  const uint64_t pattern = 0x0101010101010101u * static_cast<unsigned char>(ch);
  if (count >= 4) {
    memcpy(p, &pattern, 4);
    memcpy(p + count - 4, &pattern, 4);
  } else if (count >= 2) {
    memcpy(p, &pattern, 2);
    memcpy(p + count - 2, &pattern, 2);
  } else if (count == 1) {
    *p = ch;
  }
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

// Longest run of set bits in m: the runs of at least 1, 2, 4 .. 32 bits
// first, then the length is refined one bit at a time from the longest.
int longestRun(uint64_t m) {
  if (m == ~uint64_t(0)) return 64;
  if (m == 0) return 0;
  uint64_t starts[6];  // starts[j]: bit i set when a run of 2^j bits begins at i
  starts[0] = m;
  int j = 0;
  while (j < 5) {
    uint64_t longer = starts[j] & (starts[j] >> (1 << j));
    if (!longer) break;
    starts[++j] = longer;
  }
  int len = 1 << j;
  uint64_t at = starts[j];
  for (int s = j - 1; s >= 0; s--) {
    uint64_t t = at & (starts[s] >> len);
    if (t) {
      at = t;
      len += 1 << s;
    }
  }
  return len;
}

constexpr int kGroups = MEM_NODES / 64;
static_assert(MEM_NODES % 64 == 0 && kGroups == 32,
              "freeBits takes the MAT 64 nodes at a time, freeGroups one bit per group");

int largest(int a, int b) { return a > b ? a : b; }

// The summaries of the groups of block b whose freeBits changed.
void refreshGroups(MemBlock *b) {
  for (uint32_t dirty = b->dirtyGroups; dirty; dirty &= dirty - 1) {
    int w = std::countr_zero(dirty);
    uint64_t m = b->freeBits[w];
    b->groupPre[w] = static_cast<uint8_t>(std::countr_one(m));
    b->groupSuf[w] = static_cast<uint8_t>(std::countl_one(m));
    b->groupBest[w] = static_cast<uint8_t>(longestRun(m));
  }
  b->dirtyGroups = 0;
}

// byte w of out: free nodes at the end of group w and the start of group w + 1.
void crossingRuns(const MemBlock *b, uint8_t *out) {
#ifdef __SSE2__
  for (int half = 0; half < 2; half++) {
    __m128i suf = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b->groupSuf + 16 * half));
    __m128i pre = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b->groupPre + 16 * half + 1));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16 * half), _mm_add_epi8(suf, pre));
  }
#else
  for (int w = 0; w < kGroups; w++) out[w] = static_cast<uint8_t>(b->groupSuf[w] + b->groupPre[w + 1]);
#endif
}

int largestByte(const uint8_t *p) {
#ifdef __SSE2__
  __m128i m = _mm_max_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)),
                           _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16)));
  m = _mm_max_epu8(m, _mm_srli_si128(m, 8));
  m = _mm_max_epu8(m, _mm_srli_si128(m, 4));
  m = _mm_max_epu8(m, _mm_srli_si128(m, 2));
  m = _mm_max_epu8(m, _mm_srli_si128(m, 1));
  return _mm_cvtsi128_si32(m) & 0xFF;
#else
  int best = 0;
  for (int w = 0; w < kGroups; w++) best = largest(best, p[w]);
  return best;
#endif
}

// The longest run of free nodes of block b, from the summaries of its
// groups: a run lies in one group, spans one boundary between two, or spans
// a stretch of wholly free groups (each found from freeGroups).
int longestFreeRun(MemBlock *b) {
  refreshGroups(b);
  uint8_t across[kGroups];
  crossingRuns(b, across);
  int longest = largest(largestByte(b->groupBest), largestByte(across));
  for (uint32_t whole = b->freeGroups; whole;) {
    int first = std::countr_zero(whole);
    int count = std::countr_one(whole >> first);
    int end = first + count;  // the group after the stretch
    int run = 64 * count + (first ? b->groupSuf[first - 1] : 0) +
              (end < kGroups ? b->groupPre[end] : 0);
    longest = largest(longest, run);
    whole = end < kGroups ? whole & (~uint32_t(0) << end) : 0;
  }
  return longest;
}

void noteLongestRun(MemBlock *b, int longest) {
  if (b->noRunOf == longest + 1) return;
  b->noRunOf = longest + 1;
  memindex::noteLongestRun(b);
}

// freeBits, lowFree and noRunOf of block b read afresh from its MAT.
void rebuildSummaries(MemBlock *b) {
  b->freeGroups = 0;
  for (int w = 0; w < kGroups; w++) {
    b->freeBits[w] = blankMask(b->MAT + 64 * w);
    if (b->freeBits[w] == ~uint64_t(0)) b->freeGroups |= uint32_t(1) << w;
  }
  b->dirtyGroups = ~uint32_t(0);
  b->lowFree = 0;
  noteLongestRun(b, longestFreeRun(b));
}

// Free nodes of block b directly below node i, and from node i upwards;
// freeGroups passes over whole free groups at once.
int freeBelow(const MemBlock *b, size_t i) {
  size_t w = i / 64, bit = i % 64;
  if (bit) {
    int n = std::countl_one(b->freeBits[w] << (64 - bit));
    if (n < static_cast<int>(bit)) return n;
  }
  // Groups w - 1 down to w - whole are all free; group w - whole - 1 is not.
  int whole = w ? std::countl_one(static_cast<uint64_t>(b->freeGroups) << (64 - w)) : 0;
  if (whole > static_cast<int>(w)) whole = static_cast<int>(w);
  int n = static_cast<int>(bit) + 64 * whole;
  size_t next = w - static_cast<size_t>(whole);
  return next ? n + std::countl_one(b->freeBits[next - 1]) : n;
}

int freeFrom(const MemBlock *b, size_t i) {
  size_t w = i / 64, bit = i % 64;
  if (w >= kGroups) return 0;
  int n = std::countr_one(b->freeBits[w] >> bit);
  if (n < static_cast<int>(64 - bit)) return n;
  int whole = std::countr_one(static_cast<uint64_t>(b->freeGroups) >> (w + 1));
  if (whole > static_cast<int>(kGroups - w - 1)) whole = static_cast<int>(kGroups - w - 1);
  n += 64 * whole;
  size_t next = w + 1 + static_cast<size_t>(whole);
  return next < kGroups ? n + std::countr_one(b->freeBits[next]) : n;
}

// Sets or clears the bits of nodes first .. first + count - 1 in freeBits.
inline void markGroupBits(MemBlock *b, size_t w, uint64_t bits, bool free) {
  uint64_t m = free ? b->freeBits[w] | bits : b->freeBits[w] & ~bits;
  b->freeBits[w] = m;
  const uint32_t bit = uint32_t(1) << w;
  b->freeGroups = m == ~uint64_t(0) ? b->freeGroups | bit : b->freeGroups & ~bit;
  b->dirtyGroups |= bit;
}

inline void markFreeBits(MemBlock *b, size_t first, size_t count, bool free) {
  size_t last = first + count - 1;
  if (first / 64 == last / 64) {
    markGroupBits(b, first / 64, ~uint64_t(0) >> (64 - count) << (first % 64), free);
    return;
  }
  for (size_t w = first / 64; w <= last / 64; w++) {
    size_t lo = w == first / 64 ? first % 64 : 0;
    size_t hi = w == last / 64 ? last % 64 : 63;
    markGroupBits(b, w, ~uint64_t(0) >> (63 - (hi - lo)) << lo, free);
  }
}

// Bit w set where byte w of the 32 at p is at least k (1 <= k <= 255).
uint32_t bytesAtLeast(const uint8_t *p, int k) {
#ifdef __SSE2__
  const __m128i below = _mm_set1_epi8(static_cast<char>(k - 1));
  const __m128i zero = _mm_setzero_si128();
  uint32_t mask = 0;
  for (int half = 0; half < 2; half++) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * half));
    __m128i short_ = _mm_cmpeq_epi8(_mm_subs_epu8(v, below), zero);
    mask |= (~static_cast<uint32_t>(_mm_movemask_epi8(short_)) & 0xFFFFu) << (16 * half);
  }
  return mask;
#else
  uint32_t mask = 0;
  for (int w = 0; w < 32; w++)
    if (p[w] >= k) mask |= uint32_t(1) << w;
  return mask;
#endif
}

// Bit w set where the free nodes at the end of group w and at the start of
// group w + 1 are at least k together (k <= 64).
uint32_t crossingsAtLeast(const MemBlock *b, int k) {
  uint8_t across[kGroups];
  crossingRuns(b, across);
  return bytesAtLeast(across, k);
}

// The lowest bit of m where k set bits begin (k <= 64), or -1.
int firstRunInGroup(uint64_t m, int k) {
  // Bit i of m: nodes i .. i + have - 1 of the group are all free.
  for (int have = 1; have < k && m;) {
    int sh = have < k - have ? have : k - have;
    m &= m >> sh;
    have += sh;
  }
  return m ? std::countr_zero(m) : -1;
}

// First fit: the lowest node of block b where k free nodes begin, or -1
// (and then the block's longest run is noted exactly). A request of up to
// 64 nodes starts in the lowest group that holds such a run or ends with
// one that the next group continues; within a group, an inner run comes
// before the run at its end. A longer request reads freeBits a group at a
// time from the block's lowest free node (run counts the free nodes that end
// the previous group) and needs no group summaries: they are brought up to
// date only when read, so the groups a large allocation and its release
// both touch are summed up once.
int findFreeRun(MemBlock *b, int k) {
  if (k <= 64) {
    // Nothing starts below lowFree: a run in its group is the first fit.
    int low = b->lowFree / 64;
    if (low < kGroups) {
      int at = firstRunInGroup(b->freeBits[low], k);
      if (at >= 0) return 64 * low + at;
    }
  }
  if (k <= 64) {
    refreshGroups(b);
    uint32_t inner = bytesAtLeast(b->groupBest, k);
    uint32_t across = crossingsAtLeast(b, k);
    if (inner | across) {
      int w = std::countr_zero(inner | across);
      if (!(inner >> w & 1)) return 64 * (w + 1) - b->groupSuf[w];
      return 64 * w + firstRunInGroup(b->freeBits[w], k);
    }
  } else {
    int run = 0;
    for (int w = b->lowFree / 64; w < kGroups; w++) {
      uint64_t m = b->freeBits[w];
      if (run + std::countr_one(m) >= k) return 64 * w - run;
      run = m == ~uint64_t(0) ? run + 64 : std::countl_one(m);
    }
  }
  noteLongestRun(b, longestFreeRun(b));
  return -1;
}

// Nodes first .. first + count - 1 of block b zero-filled, as far as they
// were handed out since the block was mapped (beyond that they are zero).
void clearNodes(MemBlock *b, size_t first, size_t count) {
  size_t end = first + count;
  auto pristine = static_cast<size_t>(b->pristine);
  if (first < pristine) memset(b->data + kNodeSize * first, 0, kNodeSize * ((end < pristine ? end : pristine) - first));
  if (end > pristine) b->pristine = static_cast<int32_t>(end);
}

// Nodes first .. first + count - 1 of block b become free: the MAT and the
// hints; the run they join may be the block's longest now.
void releaseNodes(MemBlock *b, size_t first, size_t count) {
  setMAT(b, first, count, MEM_FREE);
  if (static_cast<int32_t>(first) < b->lowFree) b->lowFree = static_cast<int32_t>(first);
  b->freeNodes += static_cast<int32_t>(count);
  if (b->noRunOf == 0) {
    rebuildSummaries(b);
    return;
  }
  markFreeBits(b, first, count, true);
  if (b->freeNodes < b->noRunOf) return;  // no run can be longer than the hint allows
  int run = freeBelow(b, first) + static_cast<int>(count) + freeFrom(b, first + count);
  if (run >= b->noRunOf) noteLongestRun(b, run);
}

// Nodes first .. first + count - 1 of block b become used (noRunOf stays
// true: no run grew).
void claimNodes(MemBlock *b, size_t first, size_t count) {
  setMAT(b, first, count, MEM_USED);
  if (b->lowFree == static_cast<int32_t>(first)) b->lowFree = static_cast<int32_t>(first + count);
  b->freeNodes -= static_cast<int32_t>(count);
  if (b->noRunOf == 0) {
    rebuildSummaries(b);
    return;
  }
  markFreeBits(b, first, count, false);
}

// Before a new block is made: summaries of blocks whose MAT was laid out by
// hand (noRunOf cleared) are read afresh. True when there was one, so that
// the search is made again.
bool rebuildUnknownSummaries() {
  bool any = false;
  for (MemBlock *b = pMemB; b; b = b->next) {
    if (b->size == MEM_BLOCK_SIZE && b->noRunOf == 0) {
      rebuildSummaries(b);
      any = true;
    }
  }
  return any;
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
  claimNodes(b, static_cast<size_t>(i), static_cast<size_t>(k));
  b->nodes[i].count = static_cast<uint16_t>(k);
  b->nodes[i].addr = addr;
  size_t span = kNodeSize * static_cast<size_t>(k);
  memUnpoison(addr, span);
  clearNodes(b, static_cast<size_t>(i), static_cast<size_t>(k));
  memMarkAllocation(addr, n, span);
  return addr;
}

// The pages of n bytes at p, which are written next, asked for in one call
// instead of one page fault each (faults are costly, in a virtual machine
// most of all). A kernel without the call faults them in later.
void prefault(void *p, size_t n) {
#ifdef MADV_POPULATE_WRITE
  auto page = static_cast<uintptr_t>(getpagesize());
  uintptr_t from = reinterpret_cast<uintptr_t>(p) / page * page;
  uintptr_t to = (reinterpret_cast<uintptr_t>(p) + n + page - 1) / page * page;
  madvise(reinterpret_cast<void *>(from), to - from, MADV_POPULATE_WRITE);
#else
  (void)p;
  (void)n;
#endif
}

// The descriptor pages that a new block writes at once: those up to the
// node table, and for a regular block the next page as well, where its first
// allocations are entered.
void prefaultDescriptor(MemBlock *b, bool regular) {
  auto page = static_cast<size_t>(getpagesize());
  prefault(b, (offsetof(MemBlock, nodes) + page - 1) / page * page + (regular ? page : 0));
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
  auto *data = static_cast<char *>(MapBlock(blockAreaLength(size)));
  if (!data) {
    reportNoMemory();
    return nullptr;
  }
  bool heapDesc = lastMapFromHeap, heapData = lastMapFromHeap;
  auto *b = reinterpret_cast<MemBlock *>(data + mappedLength(size));
  // MapBlock's memory is zero-filled already (a fresh private mapping of
  // "/dev/zero" or calloc): clearing the descriptor would only fault in
  // pages of the node table that may never be used.
  if (!heapDesc) prefaultDescriptor(b, size == kBlockSize);
  memset(b->MAT, MEM_FREE, MEM_NODES);
  b->MAT[MEM_NODES] = '\0';
  b->heapDesc = heapDesc;
  b->heapData = heapData;
  b->size = static_cast<int32_t>(size);
  b->data = data;
  b->freeNodes = MEM_NODES;
  b->slot = -1;
  if (size == kBlockSize) {
    for (int w = 0; w < kGroups; w++) {
      b->freeBits[w] = ~uint64_t(0);
      b->groupPre[w] = b->groupSuf[w] = b->groupBest[w] = 64;
    }
    b->freeGroups = ~uint32_t(0);
    b->noRunOf = MEM_NODES + 1;
  }
  if (!memindex::addBlock(b)) {
    unmapArea(data, blockAreaLength(size), heapData);
    reportNoMemory();
    return nullptr;
  }
  PushBlock(b);
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
MemBlock *FindBlock(const void *p) { return memindex::lookupBlock(p); }

void FreeBlock(MemBlock *block) {
  memindex::dropBlock(block);
  PopBlock(block);
  // The descriptor lies in the area that goes: read it first.
  char *data = block->data;
  size_t length = blockAreaLength(static_cast<size_t>(block->size));
  unmapArea(data, length, block->heapData);
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
  do {
    while (MemBlock *b = memindex::findBlockWithRun(k)) {
      if (b->noRunOf == 0) rebuildSummaries(b);
      int i = findFreeRun(b, k);
      if (i >= 0) return takeNodes(b, i, k, n);
    }
  } while (rebuildUnknownSummaries());
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
  size_t i = nodeIndex(b, p);
  MemNodeEntry &e = b->nodes[i];
  if (e.count != 0 && e.addr == p) {
    size_t count = e.count;
    e.count = 0;
    e.addr = nullptr;
    if (b->freeNodes + static_cast<int32_t>(count) == MEM_NODES) {
      FreeBlock(b);  // the block goes, and its MAT with it
      return;
    }
    releaseNodes(b, i, count);
    memPoison(p, count * kNodeSize);
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
      MemBlock *to = FindBlock(q);
      if (!to->heapData) prefault(q, old);  // a fresh mapping, all of it copied into
      memUnpoison(p, old);
      memcpy(q, p, old);
      PutMem(p);
      return settle(to, q, n);
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
    releaseNodes(b, i + k, a - k);
    memUnpoison(p + k * kNodeSize, (a - k) * kNodeSize);
    memset(p + k * kNodeSize, 0, (a - k) * kNodeSize);
    memPoison(p + k * kNodeSize, (a - k) * kNodeSize);
    b->nodes[i].count = static_cast<uint16_t>(k);
    return settle(b, p, n);
  }
  size_t c = k - a;
  if (i + k <= MEM_NODES && TestMAT(b->MAT + i + a, MEM_FREE, static_cast<int>(c))) {
    claimNodes(b, i + a, c);
    memUnpoison(p + a * kNodeSize, c * kNodeSize);
    clearNodes(b, i + a, c);
    b->nodes[i].count = static_cast<uint16_t>(k);
    return settle(b, p, n);
  }
  if (i >= c && TestMAT(b->MAT + i - c, MEM_FREE, static_cast<int>(c))) {
    char *q = p - c * kNodeSize;
    claimNodes(b, i - c, c);
    memUnpoison(q, k * kNodeSize);
    memmove(q, p, a * kNodeSize);
    memset(q + a * kNodeSize, 0, c * kNodeSize);
    b->nodes[i - c].count = static_cast<uint16_t>(k);
    b->nodes[i - c].addr = q;
    b->nodes[i].count = 0;
    b->nodes[i].addr = nullptr;
    return settle(b, q, n);
  }
  char *q = static_cast<char *>(GetMem(r));
  if (!q) return nullptr;
  memUnpoison(p, a * kNodeSize);
  memcpy(q, p, a * kNodeSize);
  PutMem(p);
  return settle(FindBlock(q), q, n);
}
