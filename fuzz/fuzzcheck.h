#pragma once
// Shared by the fuzz targets: a broken rule is named on stderr before libFuzzer keeps
// the input that broke it.

#include <cstdio>
#include <cstdlib>

#define require(condition)                                                                                             \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__);                              \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)
