// Tests of the memory block manager under AddressSanitizer: free nodes and
// the bytes past each requested length are poisoned, so an overflow or a use
// after PutMem inside our own allocator is reported. Skipped in other builds.
#include "MemMgr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class MemPoison : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef TARNU_ASAN
    GTEST_SKIP() << "poisoning exists only in the sanitizer build";
#endif
    ASSERT_EQ(pMemB, nullptr);
  }
  void TearDown() override { EXPECT_EQ(pMemB, nullptr); }
};

// Reads one byte through a volatile pointer, so the access really happens.
char touch(const void *p, size_t at) { return static_cast<const volatile char *>(p)[at]; }

constexpr const char *kPoisoned = "use-after-poison";

// For each case: an allocation of the given length, the access one byte past
// it dies, the last requested byte does not.
TEST_F(MemPoison, PastTheRequestedLength) {
  struct Case {
    const char *what;
    size_t n;
  } cases[] = {
      {"one byte", 1},          {"the byte the rounding adds", 31}, {"within a node", 20},
      {"two nodes", 40},        {"whole block", 65535},             {"dedicated", 70000},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    auto *p = static_cast<char *>(GetMem(c.n));
    ASSERT_NE(p, nullptr);
    p[c.n - 1] = 'x';
    EXPECT_EQ(touch(p, c.n - 1), 'x');
    EXPECT_DEATH(touch(p, c.n), kPoisoned);
    PutMem(p);
  }
}

TEST_F(MemPoison, UseAfterPutMem) {
  auto *keep = static_cast<char *>(GetMem(10));  // keeps the block mapped
  auto *p = static_cast<char *>(GetMem(100));
  PutMem(p);
  EXPECT_DEATH(touch(p, 0), kPoisoned);
  EXPECT_DEATH(touch(p, 99), kPoisoned);
  EXPECT_DEATH(touch(keep, 10), kPoisoned);
  PutMem(keep);
}

// Every path of AdjustMem leaves exactly the new length usable.
TEST_F(MemPoison, AdjustMemFollowsTheLength) {
  struct Case {
    const char *what;
    size_t first, n;
    bool blockAfter;      // an allocation right after the first one
    bool blockBefore;     // a released allocation right before it
    bool oldGone;         // the old place is free (and still mapped) afterwards
  } cases[] = {
      {"same node, shorter", 20, 5, true, false, false},
      {"same node, longer", 5, 20, true, false, false},
      {"shrink", 200, 40, true, false, false},
      {"grow in place", 10, 100, false, false, false},
      {"grow downwards", 10, 40, true, true, false},
      {"move", 10, 100, true, false, true},
      {"to dedicated", 100, 70000, true, false, true},
      {"dedicated shrinks", 100000, 70000, false, false, false},
      {"dedicated to small", 100000, 10, false, false, false},
      {"dedicated grows", 70000, 120000, false, false, false},
      {"dedicated moves", 70000, 200000, false, false, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    void *before = c.blockBefore ? GetMem(10) : nullptr;
    auto *p = static_cast<char *>(GetMem(c.first));
    void *after = c.blockAfter ? GetMem(10) : nullptr;
    PutMem(before);
    memset(p, 'g', c.first);
    auto *q = static_cast<char *>(AdjustMem(p, c.n));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(touch(q, 0), 'g');
    EXPECT_EQ(touch(q, c.n - 1), c.n <= c.first ? 'g' : '\0');
    EXPECT_DEATH(touch(q, c.n), kPoisoned);
    if (c.oldGone) {
      EXPECT_NE(q, p);
      EXPECT_DEATH(touch(p, 0), kPoisoned);
    }
    PutMem(q);
    PutMem(after);
    ASSERT_EQ(pMemB, nullptr);
  }
}

// DumpMem shows contents as strings but never reads a poisoned byte, even
// when an allocation is filled to its last requested byte.
TEST_F(MemPoison, DumpMemReadsOnlyUsableBytes) {
  auto *p = static_cast<char *>(GetMem(40));
  memset(p, 'x', 40);
  auto *q = static_cast<char *>(GetMem(31));
  memset(q, 'y', 31);
  testing::internal::CaptureStdout();
  DumpMem();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Memory(" + std::string(40, 'x') + ")\n"), std::string::npos);
  EXPECT_NE(out.find("Memory(" + std::string(31, 'y') + ")\n"), std::string::npos);
  PutMem(p);
  PutMem(q);
}

}  // namespace
