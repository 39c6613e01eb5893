#pragma once
// A check inside a fuzz target: says which one failed, then aborts so that libFuzzer
// keeps the input.
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                                     \
    do {                                                                                     \
        if (!(cond)) {                                                                       \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                    \
        }                                                                                    \
    } while (0)
