// Copying wide text into the record's fixed arrays: cut at the array's capacity, always
// terminated. No Windows headers, so the index reader also builds for the host.
#pragma once
#include <cstddef>
#include <cwchar>
#include <string>

// Copies at most capacity - 1 characters of src and terminates; returns the length kept.
inline size_t CopyFixed(wchar_t* dst, size_t capacity, const wchar_t* src, size_t length)
{
    if (capacity == 0)
        return 0;
    size_t n = length < capacity - 1 ? length : capacity - 1;
    if (n)
        std::wmemcpy(dst, src, n);
    dst[n] = L'\0';
    return n;
}

template <size_t N>
size_t CopyFixed(wchar_t (&dst)[N], const std::wstring& src)
{
    return CopyFixed(dst, N, src.data(), src.size());
}

// Length of a fixed array's text; an array filled to the brim counts as full, never more.
template <size_t N>
size_t FixedLength(const wchar_t (&text)[N])
{
    size_t n = 0;
    while (n < N && text[n])
        ++n;
    return n;
}

template <size_t N, size_t M>
size_t CopyFixed(wchar_t (&dst)[N], const wchar_t (&src)[M])
{
    return CopyFixed(dst, N, src, FixedLength(src));
}
