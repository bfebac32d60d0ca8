#pragma once

#include <cstdlib>

// A broken promise found by the fuzzer: stop here so libFuzzer keeps the input.
inline void require(bool condition)
{
    if (!condition)
        std::abort();
}
