// Bounded formatting and copying (see TextBuffer.h).
#include "diag/TextBuffer.h"
#include <cstdio>
#include <cwchar>

size_t FormatIntoV(wchar_t* buf, size_t capacity, const wchar_t* format, va_list args)
{
    if (!buf || capacity == 0)
        return 0;
    buf[0] = L'\0';
    if (!format)
        return 0;
    // msvcrt's _vsnwprintf: %s is a wide string; it does not terminate a cut text.
    int n = _vsnwprintf(buf, capacity - 1, format, args);
    buf[capacity - 1] = L'\0';
    if (n < 0 || static_cast<size_t>(n) >= capacity - 1)
        return wcslen(buf);
    buf[n] = L'\0';
    return static_cast<size_t>(n);
}

size_t FormatInto(wchar_t* buf, size_t capacity, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    size_t n = FormatIntoV(buf, capacity, format, args);
    va_end(args);
    return n;
}

size_t AppendInto(wchar_t* buf, size_t capacity, const wchar_t* src)
{
    if (!buf || capacity == 0)
        return 0;
    size_t len = wcsnlen(buf, capacity - 1);
    buf[len] = L'\0';
    if (!src)
        return len;
    while (*src && len + 1 < capacity)
        buf[len++] = *src++;
    buf[len] = L'\0';
    return len;
}

size_t CopyInto(wchar_t* buf, size_t capacity, const wchar_t* src)
{
    if (!buf || capacity == 0)
        return 0;
    buf[0] = L'\0';
    return AppendInto(buf, capacity, src);
}
