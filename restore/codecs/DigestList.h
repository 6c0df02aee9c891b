// DigestList: an ascending list of digest texts, and the check of its joined
// form against an expected index text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class DigestList
{
public:
    DigestList();
    ~DigestList();
    DigestList(const DigestList&) = delete;
    DigestList& operator=(const DigestList&) = delete;

    // Stores a copy of text at its sorted place (byte-wise unsigned order).
    // An equal text goes after the ones already present. Null counts as "".
    void InsertSorted(const char* text);

    // Replaces out's content with all items joined in list order, without
    // separators or terminator.
    void Concatenate(std::vector<uint8_t>& out) const;

    // Frees every item and the array; the list is empty afterwards.
    void Clear();

    int32_t GetCount() const { return m_nCount; }
    // Null when index is out of range.
    const char* GetItem(int32_t index) const;

private:
    void Grow();

    int32_t m_nCapacity;
    int32_t m_nCount;
    char** m_ppItems;
};

// True when expected (null counts as empty) has exactly joinedLen characters
// and each one equals the corresponding byte of joined, taken as unsigned.
// No case folding: lower-case text never matches upper-case digests.
bool DigestTextMatches(const uint8_t* joined, size_t joinedLen, const wchar_t* expected);
