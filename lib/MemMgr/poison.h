// Whether the memory block manager poisons its free and unused bytes: in the
// sanitizer build, so that AddressSanitizer sees misuse of our own blocks.
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
#endif
