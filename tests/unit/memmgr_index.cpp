// Tests of the memory block manager's search summaries and block index:
// after random operations they agree with the allocation tables and the
// chain they are derived from.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "MemMgr.h"
#include "MemMgr/index.h"

namespace {

int longestBlankRun(const std::string &mat) {
  int longest = 0, run = 0;
  for (char c : mat) {
    run = c == MEM_FREE ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  return longest;
}

// Each regular block's summaries against its MAT, and the index against
// the chain: the regular blocks in chain order with their runs, and every
// block found from its first and last data byte, nothing from one past.
void checkSummaries() {
  size_t slot = 0;
  for (MemBlock *b = pMemB; b; b = b->next) {
    ASSERT_EQ(FindBlock(b->data), b);
    ASSERT_EQ(FindBlock(b->data + b->size - 1), b);
    ASSERT_EQ(FindBlock(b->data + b->size), nullptr);
    if (b->size != MEM_BLOCK_SIZE) continue;
    const std::string mat(b->MAT, MEM_NODES);
    for (int w = 0; w < MEM_NODES / 64; w++) {
      uint64_t bits = 0;
      for (int i = 0; i < 64; i++)
        if (mat[64 * w + i] == MEM_FREE) bits |= uint64_t(1) << i;
      ASSERT_EQ(b->freeBits[w], bits) << "group " << w;
      ASSERT_EQ(b->freeGroups >> w & 1, bits == ~uint64_t(0)) << "group " << w;
      if (b->dirtyGroups >> w & 1) continue;
      const std::string group = mat.substr(64 * static_cast<size_t>(w), 64);
      ASSERT_EQ(b->groupPre[w], std::countr_one(bits)) << "group " << w;
      ASSERT_EQ(b->groupSuf[w], std::countl_one(bits)) << "group " << w;
      ASSERT_EQ(b->groupBest[w], longestBlankRun(group)) << "group " << w;
    }
    ASSERT_GT(b->noRunOf, longestBlankRun(mat)) << "a run the block is said not to have";
    ASSERT_LT(slot, memindex::slotCount);
    ASSERT_EQ(memindex::slotBlocks[slot], b);
    ASSERT_EQ(memindex::slotRuns[slot], b->noRunOf - 1);
    slot++;
  }
  ASSERT_EQ(slot, memindex::slotCount);
}

TEST(MemIndex, SummariesAgreeWithTablesAfterRandomRuns) {
  ASSERT_EQ(pMemB, nullptr);
  std::mt19937 rng(2024);
  std::vector<void *> live(3000, nullptr);
  for (int step = 0; step < 40000; step++) {
    void *&p = live[rng() % live.size()];
    switch (rng() % 8) {
      case 0:  // now and then a resize or a dedicated block
        p = AdjustMem(p, rng() % 64 ? 1 + rng() % 3000 : 70000 + rng() % 70000);
        break;
      case 1:
      case 2:
      case 3:
        PutMem(p);
        p = nullptr;
        break;
      default:
        if (!p) p = GetMem(1 + rng() % (rng() % 16 ? 200 : 6000));
    }
    if (step % 4000 == 0) {
      SCOPED_TRACE(step);
      ASSERT_NO_FATAL_FAILURE(checkSummaries());
    }
  }
  ASSERT_NO_FATAL_FAILURE(checkSummaries());
  for (void *p : live) PutMem(p);
  EXPECT_EQ(pMemB, nullptr);
  EXPECT_EQ(memindex::slotCount, 0u);
  EXPECT_EQ(memindex::windowCount, 0u);
}

// The block found last is tried first, so it must be forgotten when it goes.
TEST(MemIndex, BlockFoundLastForgottenWhenFreed) {
  void *p = GetMem(10);
  ASSERT_EQ(FindBlock(p), pMemB);
  PutMem(p);
  EXPECT_EQ(FindBlock(p), nullptr);
}

}  // namespace
