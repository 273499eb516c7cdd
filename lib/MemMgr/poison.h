// Whether the memory block manager poisons its free and unused bytes: in the
// sanitizer build, so that AddressSanitizer sees misuse of our own blocks,
// and in a build with TARNU_VALGRIND, where the same marks reach valgrind's
// memcheck through its client requests (without valgrind they cost nothing).
#pragma once

#if defined(TARNU_ASAN) || defined(__SANITIZE_ADDRESS__)
#define TARNU_MEM_POISON 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARNU_MEM_POISON 1
#endif
#endif
#ifdef TARNU_MEM_POISON
#include <sanitizer/asan_interface.h>
#elif defined(TARNU_VALGRIND) && __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#include <cstddef>
#define TARNU_MEM_POISON 1
// Poisoned bytes are inaccessible; bytes given back are taken as defined, as
// the block manager hands out cleared memory.
#define ASAN_POISON_MEMORY_REGION(p, n) VALGRIND_MAKE_MEM_NOACCESS((p), (n))
#define ASAN_UNPOISON_MEMORY_REGION(p, n) VALGRIND_MAKE_MEM_DEFINED((p), (n))
// The first inaccessible byte of [p, p + n), or null.
inline void *tarnuRegionIsPoisoned(void *p, size_t n) {
  if (!RUNNING_ON_VALGRIND) return nullptr;
  char *c = static_cast<char *>(p);
  for (size_t i = 0; i < n; i++) {
    unsigned char bits;
    if (VALGRIND_GET_VBITS(c + i, &bits, 1) == 3) return c + i;
  }
  return nullptr;
}
#define __asan_region_is_poisoned tarnuRegionIsPoisoned
#endif
