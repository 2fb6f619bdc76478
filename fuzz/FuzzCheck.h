#pragma once

// A broken property aborts, so that libFuzzer keeps the input as a crash and
// the replay test fails, in either build and whatever NDEBUG says.

#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void fuzz_check_failed(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what);
    std::abort();
}

#define FUZZ_CHECK(condition)                                                                      \
    ((condition) ? static_cast<void>(0) : fuzz_check_failed(#condition, __FILE__, __LINE__))
