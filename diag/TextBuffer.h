// Bounded formatting and copying into fixed wide-character buffers: always terminated,
// cut at the buffer's capacity. Microsoft printf semantics (%s takes a wide string).
#pragma once
#include <cstdarg>
#include <cstddef>

// Formats into buf (capacity chars); returns the length written.
size_t FormatInto(wchar_t* buf, size_t capacity, const wchar_t* format, ...);
size_t FormatIntoV(wchar_t* buf, size_t capacity, const wchar_t* format, va_list args);
// Appends src to the text in buf, cutting at capacity; returns the new length.
size_t AppendInto(wchar_t* buf, size_t capacity, const wchar_t* src);
// Copies src into buf, cutting at capacity; returns the length copied.
size_t CopyInto(wchar_t* buf, size_t capacity, const wchar_t* src);
