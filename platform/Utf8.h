// UTF-8 <-> UTF-16 conversion without the Windows headers, for the debug log's trim and
// the quarantine index files. Invalid input becomes U+FFFD; nothing is ever refused.
#pragma once
#include <cstddef>
#include <string>

// UTF-8 bytes to UTF-16 code units (std::u16string keeps 16-bit units on every compiler).
std::u16string Utf8ToUtf16(const char* data, size_t size);
// UTF-16 code units to UTF-8 bytes; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const char16_t* data, size_t size);
// The same into a fixed buffer, without allocating: stops before the first code point that
// would not fit; returns the number of bytes written.
size_t Utf16ToUtf8Into(const char16_t* data, size_t size, char* out, size_t capacity);

// Conveniences for the wide strings of the Windows build (wchar_t is 16-bit there).
std::wstring Utf8ToWide(const std::string& s);
std::string WideToUtf8(const std::wstring& s);
