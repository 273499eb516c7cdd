// Tests of the memory block manager: sizes and node counts, first fit, the
// release and unmapping of blocks, every path of AdjustMem, the heap fallback,
// exhaustion and DumpMem. Each test starts from and returns to an empty chain.
#include "MemMgr.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <random>
#include <string_view>
#include <string>
#include <vector>

namespace {

class MemMgr : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(pMemB, nullptr); }
  void TearDown() override {
    EXPECT_EQ(pMemB, nullptr) << "allocations left in the chain";
    while (pMemB) FreeBlock(pMemB);
    SetMemDevice(nullptr);
  }
};

int blockCount() {
  int n = 0;
  for (MemBlock *b = pMemB; b; b = b->next) n++;
  return n;
}

int nodeOf(const void *p) {
  MemBlock *b = FindBlock(p);
  return b ? static_cast<int>((static_cast<const char *>(p) - b->data) / MEM_NODE_SIZE) : -1;
}

int nodesOf(const void *p) {
  MemBlock *b = FindBlock(p);
  return b ? b->nodes[nodeOf(p)].count : -1;
}

bool filledWith(const char *p, size_t from, size_t to, char ch) {
  for (size_t i = from; i < to; i++)
    if (p[i] != ch) return false;
  return true;
}

bool allZero(const char *p, size_t from, size_t to) { return filledWith(p, from, to, 0); }

// The block's bookkeeping agrees with itself: MAT, free-node count and node
// table describe the same allocations, none overlapping.
void checkChain() {
  MemBlock *prev = nullptr;
  for (MemBlock *b = pMemB; b; prev = b, b = b->next) {
    ASSERT_EQ(b->prev, prev);
    ASSERT_EQ(b->MAT[MEM_NODES], '\0');
    if (b->size > MEM_BLOCK_SIZE) {
      ASSERT_EQ(b->size % MEM_BLOCK_SIZE, 0);
      ASSERT_EQ(b->freeNodes, 0);
      ASSERT_LE(b->usedLen, b->size);
      continue;
    }
    ASSERT_EQ(b->size, MEM_BLOCK_SIZE);
    std::string expect(MEM_NODES, MEM_FREE);
    int used = 0;
    for (int i = 0; i < MEM_NODES; i++) {
      const MemNodeEntry &e = b->nodes[i];
      if (e.count == 0) {
        ASSERT_EQ(e.addr, nullptr) << "node " << i;
        continue;
      }
      ASSERT_EQ(e.addr, b->data + MEM_NODE_SIZE * i);
      ASSERT_LE(i + e.count, MEM_NODES);
      for (int j = i; j < i + e.count; j++) {
        ASSERT_EQ(expect[j], MEM_FREE) << "overlap at node " << j;
        expect[j] = MEM_USED;
      }
      used += e.count;
    }
    ASSERT_GT(used, 0) << "an empty block stayed mapped";
    ASSERT_EQ(std::string(b->MAT, MEM_NODES), expect);
    ASSERT_EQ(b->freeNodes, MEM_NODES - used);
    ASSERT_GE(expect.find(MEM_FREE), static_cast<size_t>(b->lowFree))
        << "a free node below the lowest-free hint";
    if (b->noRunOf != 0) {
      ASSERT_EQ(expect.find(std::string(static_cast<size_t>(b->noRunOf), MEM_FREE)),
                std::string::npos)
          << "the search hint hides a free run of " << b->noRunOf;
    }
  }
}

// True while the page at p is mapped in this process.
bool isMapped(const void *p) {
  long page = sysconf(_SC_PAGESIZE);
  auto a = reinterpret_cast<uintptr_t>(p) & ~static_cast<uintptr_t>(page - 1);
  return msync(reinterpret_cast<void *>(a), static_cast<size_t>(page), MS_ASYNC) == 0 ||
         errno != ENOMEM;
}

TEST_F(MemMgr, RequestSizes) {
  struct Case {
    size_t n;
    int nodes;        // regular block: nodes taken; 0 for a dedicated block
    int32_t area;     // size of the block's data area
    int32_t usedLen;  // dedicated blocks
  } cases[] = {
      {1, 1, 65536, 0},          {31, 1, 65536, 0},         {32, 2, 65536, 0},
      {33, 2, 65536, 0},         {63, 2, 65536, 0},         {64, 3, 65536, 0},
      {65503, 2047, 65536, 0},   {65504, 2048, 65536, 0},   {65535, 2048, 65536, 0},
      {65536, 0, 131072, 65568}, {131071, 0, 131072, 131072}, {131072, 0, 196608, 131104},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.n);
    auto *p = static_cast<char *>(GetMem(c.n));
    ASSERT_NE(p, nullptr);
    MemBlock *b = FindBlock(p);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(p, b->data);
    EXPECT_EQ(b->size, c.area);
    if (c.nodes) {
      EXPECT_EQ(b->nodes[0].count, c.nodes);
      EXPECT_EQ(b->freeNodes, MEM_NODES - c.nodes);
    } else {
      EXPECT_EQ(b->usedLen, c.usedLen);
      EXPECT_EQ(b->freeNodes, 0);
      EXPECT_EQ(std::string(b->MAT), std::string(MEM_NODES, MEM_USED));
    }
    EXPECT_TRUE(allZero(p, 0, c.n));
    checkChain();
    PutMem(p);
    EXPECT_EQ(pMemB, nullptr);
  }
}

TEST_F(MemMgr, RefusedRequests) {
  struct Case {
    size_t n;
    const char *err;
  } cases[] = {
      {0, ""},
      {SIZE_MAX, "ERROR: Unable to allocate memory\n"},
      {SIZE_MAX - 31, "ERROR: Unable to allocate memory\n"},
      {size_t(1) << 40, "ERROR: Unable to allocate memory\n"},
      {0x7FFF0000, "ERROR: Unable to allocate memory\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.n);
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetMem(c.n), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
    EXPECT_EQ(pMemB, nullptr);
  }
  // A huge resize fails too and leaves the allocation as it was.
  auto *p = static_cast<char *>(GetMem(10));
  memcpy(p, "keep", 5);
  testing::internal::CaptureStderr();
  EXPECT_EQ(AdjustMem(p, SIZE_MAX), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: Unable to allocate memory\n");
  EXPECT_STREQ(p, "keep");
  PutMem(p);
}

TEST_F(MemMgr, FreshChainAndReuse) {
  auto *a = static_cast<char *>(GetMem(10));
  auto *b = static_cast<char *>(GetMem(10));
  ASSERT_NE(pMemB, nullptr);
  EXPECT_EQ(a, pMemB->data);
  EXPECT_EQ(b - a, 32);
  EXPECT_EQ(std::string(pMemB->MAT, 3), "UU ");
  PutMem(a);
  EXPECT_EQ(std::string(pMemB->MAT, 3), " U ");
  auto *c = static_cast<char *>(GetMem(10));
  EXPECT_EQ(c, a);
  PutMem(b);
  PutMem(c);
}

// One scripted run of GetMem/PutMem on one block: each step names a slot
// and, for GetMem, the node where first fit must place it.
TEST_F(MemMgr, FirstFitInOneBlock) {
  struct Step {
    int slot;
    size_t n;         // 0 releases the slot
    int node;         // expected node of a GetMem
  } steps[] = {
      {0, 10, 0},  {1, 10, 1},  {2, 10, 2},  {3, 40, 3},  {5, 10, 5},  {6, 100, 6},
      {7, 10, 10}, {1, 0, 0},   {3, 0, 0},   {6, 0, 0},
      // free: 1, 3-4, 6-9, 11-
      {8, 70, 6},   // three nodes: 3-4 too short, 6-8 fits
      {9, 33, 3},   // two nodes: 3-4
      {10, 5, 1},   // one node: the lowest free
      {11, 5, 9},   {12, 5, 11}, {0, 0, 0}, {13, 40, 12}, {14, 1, 0},
  };
  void *slots[16] = {};
  for (const Step &s : steps) {
    SCOPED_TRACE(testing::Message() << "slot " << s.slot << " n " << s.n);
    if (s.n == 0) {
      PutMem(slots[s.slot]);
      slots[s.slot] = nullptr;
    } else {
      slots[s.slot] = GetMem(s.n);
      EXPECT_EQ(nodeOf(slots[s.slot]), s.node);
    }
    checkChain();
  }
  EXPECT_EQ(blockCount(), 1);
  for (void *p : slots) PutMem(p);
}

// First fit on MATs laid out by hand: runs at and across the edges of the
// 64-node groups the search reads at once, the block end, no room at all.
TEST_F(MemMgr, FirstFitOnLaidOutTables) {
  struct Case {
    std::vector<std::pair<int, int>> used;  // [first, last) runs of used nodes
    size_t n;
    int node;                               // -1: only a new block has room
  } cases[] = {
      {{{0, 63}}, 40, 63},
      {{{0, 64}}, 2015, 64},
      {{{0, 1}, {2, 64}, {65, 2048}}, 10, 1},
      {{{0, 1}, {2, 64}, {65, 2048}}, 40, -1},
      {{{0, 2000}}, 1535, 2000},
      {{{0, 2000}}, 1536, -1},
      {{{0, 63}, {128, 2048}}, 2047, 63},
      {{{0, 63}, {128, 2048}}, 2079, 63},
      {{{0, 63}, {128, 2048}}, 2080, -1},
      {{{0, 2047}}, 1, 2047},
      {{{0, 10}, {12, 100}}, 40, 10},
      {{{0, 10}, {12, 100}}, 70, 100},
      {{{0, 5}, {9, 14}, {18, 23}, {27, 2048}}, 127, 5},
      {{{0, 5}, {9, 14}, {18, 23}, {27, 2048}}, 128, -1},
      {{{0, 5}, {9, 14}, {18, 23}, {27, 2040}}, 200, 2040},
      {{{0, 1}, {1000, 1001}}, 31935, 1},
      {{{0, 1}, {1000, 1001}}, 31967, 1},
      {{{0, 1}, {1000, 1001}}, 31968, 1001},
      {{{0, 1}}, 65503, 1},
      {{{0, 1}}, 65504, -1},
  };
  auto *first = static_cast<char *>(GetMem(1));
  MemBlock *b = pMemB;
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "n " << c.n << " expected node " << c.node);
    // Lay the table out; only node 0 holds a real allocation.
    std::string mat(MEM_NODES, MEM_FREE);
    for (auto [from, to] : c.used) mat.replace(from, to - from, to - from, MEM_USED);
    memcpy(b->MAT, mat.data(), MEM_NODES);
    b->freeNodes = static_cast<int32_t>(std::count(mat.begin(), mat.end(), MEM_FREE));
    b->noRunOf = 0;
    b->lowFree = 0;
    auto *q = static_cast<char *>(GetMem(c.n));
    ASSERT_NE(q, nullptr);
    if (c.node < 0) {
      EXPECT_EQ(FindBlock(q), b->next);
      EXPECT_EQ(q, b->next->data);
      PutMem(q);
    } else {
      EXPECT_EQ(FindBlock(q), b);
      EXPECT_EQ(nodeOf(q), c.node);
      b->nodes[c.node] = MemNodeEntry{0, nullptr};
    }
    ASSERT_EQ(b->next, nullptr);
  }
  memset(b->MAT, MEM_FREE, MEM_NODES);
  b->MAT[0] = MEM_USED;
  b->freeNodes = MEM_NODES - 1;
  b->lowFree = 1;
  checkChain();
  PutMem(first);
}

TEST_F(MemMgr, FirstFitAcrossBlocks) {
  void *x = GetMem(32000);  // 1001 nodes
  void *y = GetMem(32000);  // 1001 nodes: 46 left
  void *z = GetMem(3200);   // 101 nodes: does not fit, a second block
  ASSERT_EQ(blockCount(), 2);
  EXPECT_EQ(FindBlock(z), pMemB->next);
  EXPECT_EQ(nodeOf(z), 0);
  void *s = GetMem(10);     // the first block still has room
  EXPECT_EQ(FindBlock(s), pMemB);
  EXPECT_EQ(nodeOf(s), 2002);
  void *t = GetMem(1472);   // 47 nodes: only 45 left in the first block
  EXPECT_EQ(FindBlock(t), pMemB->next);
  EXPECT_EQ(nodeOf(t), 101);
  PutMem(x);                // now the first block has the lowest fit again
  void *u = GetMem(1472);
  EXPECT_EQ(FindBlock(u), pMemB);
  EXPECT_EQ(nodeOf(u), 0);
  checkChain();
  for (void *p : {y, z, s, t, u}) PutMem(p);
}

// A block where a search failed for want of a long enough run is searched
// again once nodes come back to it, by release or by a shrink.
TEST_F(MemMgr, FailedSearchForgottenWhenNodesReturn) {
  for (bool shrink : {false, true}) {
    SCOPED_TRACE(shrink ? "shrink" : "release");
    void *x = GetMem(32000);   // nodes 0-1000
    void *h = GetMem(10);      // node 1001
    void *y = GetMem(32000);   // nodes 1002-2002, 45 left after it
    PutMem(h);                 // 46 free nodes, but no run of 46
    void *z = GetMem(1440);    // 46 nodes: a new block
    EXPECT_EQ(FindBlock(z), pMemB->next);
    if (shrink)
      y = AdjustMem(y, 10);
    else
      PutMem(y);
    void *w = GetMem(1440);
    EXPECT_EQ(FindBlock(w), pMemB);
    EXPECT_EQ(nodeOf(w), shrink ? 1003 : 1001);
    checkChain();
    for (void *p : {x, z, w, shrink ? y : nullptr}) PutMem(p);
    ASSERT_EQ(pMemB, nullptr);
  }
}

TEST_F(MemMgr, EmptiedBlocksAreUnmapped) {
  auto *a = static_cast<char *>(GetMem(100));
  auto *d = static_cast<char *>(GetMem(100000));
  MemBlock *regular = FindBlock(a);
  MemBlock *dedicated = FindBlock(d);
  ASSERT_EQ(blockCount(), 2);
  EXPECT_TRUE(isMapped(a + 65536));  // the one page MapBlock adds
  PutMem(a);
  EXPECT_EQ(pMemB, dedicated);
  EXPECT_EQ(dedicated->prev, nullptr);
  EXPECT_FALSE(isMapped(a));
  EXPECT_FALSE(isMapped(a + 65536));
  EXPECT_FALSE(isMapped(regular));
  PutMem(d);
  EXPECT_EQ(pMemB, nullptr);
  EXPECT_FALSE(isMapped(d));
  EXPECT_FALSE(isMapped(d + 131072));
  // The next request maps a new block.
  void *e = GetMem(1);
  ASSERT_NE(pMemB, nullptr);
  EXPECT_EQ(e, pMemB->data);
  PutMem(e);
}

TEST_F(MemMgr, ChainLinksWhenMiddleBlockGoes) {
  void *a = GetMem(65535);
  void *b = GetMem(65535);
  void *c = GetMem(65535);
  MemBlock *ba = FindBlock(a), *bc = FindBlock(c);
  PutMem(b);
  EXPECT_EQ(pMemB, ba);
  EXPECT_EQ(ba->next, bc);
  EXPECT_EQ(bc->prev, ba);
  EXPECT_EQ(bc->next, nullptr);
  PutMem(a);
  EXPECT_EQ(pMemB, bc);
  EXPECT_EQ(bc->prev, nullptr);
  PutMem(c);
}

TEST_F(MemMgr, ReleaseOfWhatIsNoAllocation) {
  auto *p = static_cast<char *>(GetMem(100));  // four nodes
  auto *d = static_cast<char *>(GetMem(100000));
  char local = 0;
  const std::string mat(pMemB->MAT);
  struct Case {
    const char *what;
    void *ptr;
  } cases[] = {
      {"null", nullptr},
      {"second node", p + 32},
      {"inside first node", p + 5},
      {"free node after it", p + 4 * 32},
      {"end of the data area", pMemB->data + 65536},
      {"stack", &local},
      {"inside dedicated", d + 64},
      {"end of dedicated", d + 131072},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    PutMem(c.ptr);
    ASSERT_EQ(blockCount(), 2);
    EXPECT_EQ(pMemB->MAT, mat);
    EXPECT_EQ(pMemB->freeNodes, MEM_NODES - 4);
    EXPECT_EQ(FindBlock(d)->data, d);
  }
  PutMem(p);
  PutMem(d);
}

TEST_F(MemMgr, FindBlockBounds) {
  auto *p = static_cast<char *>(GetMem(10));
  MemBlock *b = pMemB;
  EXPECT_EQ(FindBlock(b->data), b);
  EXPECT_EQ(FindBlock(b->data + 65535), b);
  EXPECT_EQ(FindBlock(b->data + 65536), nullptr);
  EXPECT_EQ(FindBlock(b->data - 1), nullptr);
  EXPECT_EQ(FindBlock(b), nullptr);
  PutMem(p);
}

// Fills the first n bytes of p with garbage.
void scribble(void *p, size_t n, char ch = 'g') { memset(p, ch, n); }

TEST_F(MemMgr, AdjustInRegularBlocks) {
  // Layout before each case: slots at nodes 0.., the one under test is "a".
  struct Case {
    const char *what;
    std::vector<size_t> before;   // allocations made before a (released if 0-tagged below)
    size_t aLen;
    std::vector<size_t> after;    // allocations made after a
    bool freeBefore;              // release the "before" allocations first
    size_t n;                     // new length
    int node;                     // expected node of the result
    int nodes;                    // expected node count of the result
  } cases[] = {
      {"same nodes", {}, 10, {10}, false, 20, 0, 1},
      {"shrink", {}, 100, {10}, false, 10, 0, 1},
      {"grow in place", {}, 10, {}, false, 40, 0, 2},
      {"grow in place to the block end", {}, 10, {}, false, 65535, 0, 2048},
      {"grow downwards", {10, 10}, 10, {10}, true, 40, 1, 2},
      {"grow downwards over two", {10, 10}, 10, {10}, true, 70, 0, 3},
      {"move", {}, 10, {10}, false, 40, 2, 3},
      {"move past a short hole", {10}, 10, {10}, true, 100, 3, 5},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<void *> before, after;
    for (size_t n : c.before) before.push_back(GetMem(n));
    auto *a = static_cast<char *>(GetMem(c.aLen));
    for (size_t n : c.after) after.push_back(GetMem(n));
    if (c.freeBefore)
      for (void *p : before) PutMem(p);
    for (size_t i = 0; i < c.aLen; i++) a[i] = static_cast<char>('A' + i % 26);
    auto *q = static_cast<char *>(AdjustMem(a, c.n));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(nodeOf(q), c.node);
    EXPECT_EQ(nodesOf(q), c.nodes);
    size_t kept = c.n < c.aLen ? c.n : c.aLen;
    for (size_t i = 0; i < kept; i++)
      ASSERT_EQ(q[i], static_cast<char>('A' + i % 26)) << "byte " << i;
    EXPECT_TRUE(allZero(q, kept, c.n));
    checkChain();
    PutMem(q);
    if (!c.freeBefore)
      for (void *p : before) PutMem(p);
    for (void *p : after) PutMem(p);
    ASSERT_EQ(pMemB, nullptr);
  }
}

TEST_F(MemMgr, AdjustAtTheBlockEnd) {
  void *x = GetMem(65472);  // 2047 nodes
  auto *a = static_cast<char *>(GetMem(10));
  ASSERT_EQ(nodeOf(a), 2047);
  memcpy(a, "end", 4);
  PutMem(x);
  auto *q = static_cast<char *>(AdjustMem(a, 40));  // no room after: downwards
  EXPECT_EQ(nodeOf(q), 2046);
  EXPECT_EQ(nodesOf(q), 2);
  EXPECT_STREQ(q, "end");
  checkChain();
  PutMem(q);
}

// Contents written, then shrunk and grown again: what comes back is zero,
// on every path, including within the last node.
TEST_F(MemMgr, AdjustClearsWhatComesBack) {
  struct Case {
    const char *what;
    size_t first, shrink, grow;
  } cases[] = {
      {"within one node", 20, 5, 20},
      {"nodes given back", 200, 40, 200},
      {"to one byte", 65535, 1, 65535},
      {"dedicated stays", 100000, 70000, 131071},
      {"dedicated to small", 100000, 10, 100000},
      {"dedicated to equal size", 70000, 131071, 131071},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    auto *p = static_cast<char *>(GetMem(c.first));
    scribble(p, c.first);
    p = static_cast<char *>(AdjustMem(p, c.shrink));
    size_t kept = c.shrink < c.first ? c.shrink : c.first;
    EXPECT_TRUE(filledWith(p, 0, kept, 'g'));
    EXPECT_TRUE(allZero(p, kept, c.shrink));
    scribble(p, c.shrink, 'h');
    p = static_cast<char *>(AdjustMem(p, c.grow));
    EXPECT_TRUE(filledWith(p, 0, c.shrink, 'h'));
    EXPECT_TRUE(allZero(p, c.shrink, c.grow));
    checkChain();
    PutMem(p);
    ASSERT_EQ(pMemB, nullptr);
  }
}

TEST_F(MemMgr, AdjustDedicated) {
  auto *d = static_cast<char *>(GetMem(70000));
  MemBlock *b = FindBlock(d);
  EXPECT_EQ(b->usedLen, 70016);
  scribble(d, 70000);

  // Up to the whole area: same pointer, the used length follows.
  EXPECT_EQ(AdjustMem(d, 131071), d);
  EXPECT_EQ(b->usedLen, 131072);
  EXPECT_TRUE(allZero(d, 70000, 131071));
  scribble(d, 131071);
  // A shrink afterwards keeps every byte up to the new length.
  EXPECT_EQ(AdjustMem(d, 100000), d);
  EXPECT_EQ(b->usedLen, 100032);
  EXPECT_TRUE(filledWith(d, 0, 100000, 'g'));
  EXPECT_EQ(AdjustMem(d, 131071), d);
  EXPECT_TRUE(allZero(d, 100000, 131071));
  EXPECT_EQ(AdjustMem(d, 100000), d);

  // Beyond the area: moved, contents kept, block replaced.
  auto *e = static_cast<char *>(AdjustMem(d, 200000));
  ASSERT_NE(e, nullptr);
  EXPECT_NE(e, d);
  EXPECT_EQ(blockCount(), 1);
  EXPECT_EQ(FindBlock(e)->size, 262144);
  EXPECT_TRUE(filledWith(e, 0, 100000, 'g'));
  EXPECT_TRUE(allZero(e, 100000, 200000));

  // A small length keeps the dedicated block serving.
  scribble(e, 200000);
  EXPECT_EQ(AdjustMem(e, 50), e);
  EXPECT_EQ(FindBlock(e)->usedLen, 64);
  EXPECT_EQ(AdjustMem(e, 200000), e);
  EXPECT_TRUE(filledWith(e, 0, 50, 'g'));
  EXPECT_TRUE(allZero(e, 50, 200000));
  checkChain();
  PutMem(e);
}

TEST_F(MemMgr, AdjustRegularToDedicated) {
  void *other = GetMem(10);
  auto *a = static_cast<char *>(GetMem(100));
  scribble(a, 100);
  auto *d = static_cast<char *>(AdjustMem(a, 70000));
  MemBlock *b = FindBlock(d);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->size, 131072);
  EXPECT_EQ(d, b->data);
  EXPECT_TRUE(filledWith(d, 0, 100, 'g'));
  EXPECT_TRUE(allZero(d, 100, 70000));
  EXPECT_EQ(pMemB->freeNodes, MEM_NODES - 1);  // a's four nodes went back
  PutMem(other);
  EXPECT_EQ(pMemB, b);
  PutMem(d);
}

TEST_F(MemMgr, AdjustSpecialPointers) {
  EXPECT_EQ(AdjustMem(nullptr, 0), nullptr);
  auto *p = static_cast<char *>(AdjustMem(nullptr, 5));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p, pMemB->data);
  EXPECT_EQ(nodesOf(p), 1);
  // An interior pointer is no allocation: a new one, the old untouched.
  void *q = GetMem(100);
  memcpy(q, "old", 4);
  auto *r = static_cast<char *>(AdjustMem(static_cast<char *>(q) + 32, 10));
  EXPECT_EQ(nodeOf(r), 5);
  EXPECT_EQ(nodesOf(q), 4);
  EXPECT_STREQ(static_cast<char *>(q), "old");
  // Length 0 releases.
  EXPECT_EQ(AdjustMem(p, 0), nullptr);
  EXPECT_EQ(pMemB->MAT[0], MEM_FREE);
  PutMem(q);
  PutMem(r);
}

// A long random run of every operation against a model of the contents.
TEST_F(MemMgr, RandomRunKeepsContents) {
  struct Slot {
    char *p = nullptr;
    size_t n = 0;
    char tag = 0;
  };
  std::vector<Slot> slots(300);
  std::mt19937 rng(12345);
  auto sizeOf = [&]() -> size_t {
    switch (rng() % 16) {
      case 0: return 1 + rng() % 31;
      case 1: return 32 + rng() % 300;
      case 2: return 1 + rng() % 4000;
      case 3: return 60000 + rng() % 10000;
      case 4: return 100000 + rng() % 100000;
      default: return 1 + rng() % 200;
    }
  };
  auto verify = [](const Slot &s) { return filledWith(s.p, 0, s.n, s.tag); };
  // Where first fit must place a request: the lowest run of blanks in the
  // first regular block that has one; null when a new block is needed.
  auto expectedPlace = [](size_t n) -> char * {
    size_t k = (n + 32) / 32;
    std::string pattern(k, MEM_FREE);
    for (MemBlock *b = pMemB; b; b = b->next) {
      if (b->size > MEM_BLOCK_SIZE) continue;
      size_t at = std::string_view(b->MAT, MEM_NODES).find(pattern);
      if (at != std::string_view::npos) return b->data + MEM_NODE_SIZE * at;
    }
    return nullptr;
  };
  for (int step = 0; step < 10000; step++) {
    Slot &s = slots[rng() % slots.size()];
    if (!s.p) {
      s.n = sizeOf();
      char *expect = s.n < 65536 ? expectedPlace(s.n) : nullptr;
      s.p = static_cast<char *>(GetMem(s.n));
      ASSERT_NE(s.p, nullptr);
      if (expect) {
        ASSERT_EQ(s.p, expect) << "step " << step;
      }
      ASSERT_TRUE(allZero(s.p, 0, s.n));
    } else if (rng() % 2) {
      ASSERT_TRUE(verify(s)) << "step " << step;
      PutMem(s.p);
      s = Slot();
      continue;
    } else {
      ASSERT_TRUE(verify(s)) << "step " << step;
      size_t n = sizeOf();
      s.p = static_cast<char *>(AdjustMem(s.p, n));
      ASSERT_NE(s.p, nullptr);
      size_t kept = n < s.n ? n : s.n;
      ASSERT_TRUE(filledWith(s.p, 0, kept, s.tag)) << "step " << step;
      ASSERT_TRUE(allZero(s.p, kept, n)) << "step " << step;
      s.n = n;
    }
    s.tag = static_cast<char>('a' + rng() % 26);
    memset(s.p, s.tag, s.n);
    if (step % 500 == 0) checkChain();
  }
  checkChain();
  for (Slot &s : slots) {
    ASSERT_TRUE(verify(s));
    PutMem(s.p);
  }
}

TEST_F(MemMgr, HeapFallbackWithoutDevice) {
  SetMemDevice("/nonexistent/zero");
  auto *a = static_cast<char *>(GetMem(100));
  auto *d = static_cast<char *>(GetMem(100000));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(pMemB->heapDesc, 1);
  EXPECT_EQ(pMemB->heapData, 1);
  EXPECT_TRUE(allZero(a, 0, 100));
  EXPECT_TRUE(allZero(d, 0, 100000));
  scribble(a, 100);
  a = static_cast<char *>(AdjustMem(a, 1000));
  EXPECT_TRUE(allZero(a, 100, 1000));
  // Once the device opens again, new blocks are mapped from it.
  SetMemDevice(nullptr);
  void *b = GetMem(65535);
  EXPECT_EQ(FindBlock(b)->heapData, 0);
  PutMem(a);
  PutMem(d);
  PutMem(b);
}

#ifndef TARNU_ASAN
// Runs in a child: with the address space limited, a large request cannot
// be mapped. Exits 0 when the failure was handled as it should be.
void exhaustAddressSpace() {
  long pages = 0, resident = 0;
  FILE *f = fopen("/proc/self/statm", "r");
  if (!f || fscanf(f, "%ld %ld", &pages, &resident) != 2) _exit(3);
  fclose(f);
  rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) +
                 (rlim_t(16) << 20);
  struct rlimit rl = {limit, limit};
  if (setrlimit(RLIMIT_AS, &rl) != 0) _exit(4);
  void *small = GetMem(10);
  void *big = GetMem(size_t(64) << 20);
  _exit(small != nullptr && big == nullptr && pMemB->next == nullptr ? 0 : 1);
}

TEST_F(MemMgr, ExhaustionReportsAndReturnsNull) {
  EXPECT_EXIT(exhaustAddressSpace(), testing::ExitedWithCode(0),
              "ERROR: Unable to allocate memory");
}
#endif

TEST_F(MemMgr, DumpMemFormats) {
  auto *a = static_cast<char *>(GetMem(10));
  auto *b = static_cast<char *>(GetMem(40));
  auto *c = static_cast<char *>(GetMem(5));
  auto *e = static_cast<char *>(GetMem(10));
  memcpy(a, "hello", 6);
  memset(b, 'x', 40);  // no terminator within the requested length
  PutMem(c);           // the MAT shows a hole
  c = static_cast<char *>(GetMem(100));
  auto *d = static_cast<char *>(GetMem(70000));
  MemBlock *rb = FindBlock(a), *db = FindBlock(d);
  char buf[512];
  std::string expect;
  snprintf(buf, sizeof buf,
           "\n============ Block(%li) size(%li) Free(%i) Used(%i) FreeNodeCount(%i) "
           "SizeCnt(%i) <==(%li) (%li)==>\n\tBlock MAT:",
           static_cast<long>(reinterpret_cast<intptr_t>(rb)), 65536L, 2040, 8, 2040, 2040, 0L,
           static_cast<long>(reinterpret_cast<intptr_t>(db)));
  expect += buf;
  expect += "\n\tUUU_UUUUU" + std::string(55, '_');
  for (int row = 1; row < 32; row++) expect += "\n\t" + std::string(64, '_');
  expect += "\n\n\tAllocated Nodes:\n";
  auto entry = [&](int index, const char *addr, int nodes, const std::string &text) {
    snprintf(buf, sizeof buf,
             "\tMAT index(%6i) Memory Addr(%6li) nodes(%5i) size(%5i) Memory(%s)\n", index,
             static_cast<long>(reinterpret_cast<intptr_t>(addr)), nodes, nodes * 32,
             text.c_str());
    expect += buf;
  };
  entry(0, a, 1, "hello");
  entry(1, b, 2, std::string(40, 'x'));
  entry(4, e, 1, "");
  entry(5, c, 4, "");
  expect += "\n";
  snprintf(buf, sizeof buf,
           "\n============ Dedicated Block(%li) size(%li) FreeNodeCount(%i) <==(%li) (%li)==>",
           static_cast<long>(reinterpret_cast<intptr_t>(d)), 131072L, 0,
           static_cast<long>(reinterpret_cast<intptr_t>(rb)), 0L);
  expect += buf;

  testing::internal::CaptureStdout();
  DumpMem();
  fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), expect);
  for (char *p : {a, b, c, d, e}) PutMem(p);

  testing::internal::CaptureStdout();
  DumpMem();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
