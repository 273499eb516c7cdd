// Time limits of the tests that wait for other processes or terminals.
// Under valgrind's memcheck (tools/valgrind.sh) a program runs many times
// slower, so such a limit is widened there; elsewhere it stays as written.
#pragma once
#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif
#ifndef RUNNING_ON_VALGRIND
#define RUNNING_ON_VALGRIND 0
#endif

constexpr int kValgrindSlowdown = 20;

// n, or n times kValgrindSlowdown when the program runs under valgrind.
inline int ValgrindSlack(int n) { return RUNNING_ON_VALGRIND ? n * kValgrindSlowdown : n; }
