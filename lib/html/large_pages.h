// Large pages for the help renderer's big blocks: a page's records and its
// text block run to megabytes for a large help file, and each 4 KB page
// touched the first time costs a page fault. Linux backs a block with 2 MB
// pages when asked before anything is written to it; elsewhere this is
// nothing.
#pragma once
#include <sys/mman.h>

#include <cstddef>

namespace htmlpages {

constexpr size_t LARGE_PAGE = size_t{2} << 20;

// Asks for large pages for a fresh block of size bytes from GetMem (page
// aligned, as every block of a megabyte or more is), if it can hold one.
inline void adviseLargePages(void *block, size_t size) {
#ifdef MADV_HUGEPAGE
  if (size >= LARGE_PAGE) madvise(block, size & ~size_t{4095}, MADV_HUGEPAGE);
#else
  (void)block;
  (void)size;
#endif
}

}  // namespace htmlpages
