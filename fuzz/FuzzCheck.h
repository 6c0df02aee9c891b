// Stops a fuzz run at a broken property: libFuzzer then keeps the input that broke it.
#pragma once
#include <cstdio>
#include <cstdlib>

inline void FuzzCheck(bool holds, const char* property)
{
    if (holds)
        return;
    std::fprintf(stderr, "property broken: %s\n", property);
    std::abort();
}
