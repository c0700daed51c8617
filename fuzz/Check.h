#pragma once
// FUZZ_CHECK: a mismatch between a unit and its model, reported as a crash so
// that libFuzzer keeps the input that found it.

#include <cstdio>
#include <cstdlib>
#include <sstream>

#define FUZZ_CHECK(condition, what)                                                               \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::ostringstream fuzzCheckText;                                                     \
            fuzzCheckText << what;                                                                \
            std::fprintf(stderr, "MISMATCH: %s (%s:%d)\n", fuzzCheckText.str().c_str(), __FILE__, \
                         __LINE__);                                                               \
            std::abort();                                                                         \
        }                                                                                         \
    } while (0)
