// DigestList: sorted insertion, joining and comparison of digest texts.
#include "restore/codecs/DigestList.h"

#include <cstring>
#include <cwchar>

DigestList::DigestList() : m_nCapacity(0), m_nCount(0), m_ppItems(nullptr) {}

DigestList::~DigestList()
{
    Clear();
}

void DigestList::Grow()
{
    int32_t newCapacity = (m_nCapacity < 1) ? 2 : m_nCapacity * 2;
    char** newItems = new char*[newCapacity];
    for (int32_t i = 0; i < m_nCount; ++i)
        newItems[i] = m_ppItems[i];
    delete[] m_ppItems;
    m_ppItems = newItems;
    m_nCapacity = newCapacity;
}

void DigestList::InsertSorted(const char* text)
{
    if (text == nullptr)
        text = "";
    // Copy first so a failed allocation leaves the list untouched.
    size_t length = std::strlen(text);
    char* copy = new char[length + 1];
    std::memcpy(copy, text, length + 1);

    if (m_nCount == m_nCapacity)
        Grow();

    // strcmp compares as unsigned char, which is the order we want. Walking
    // from the end keeps the usual append-in-order case cheap.
    int32_t slot = m_nCount;
    while (slot > 0 && std::strcmp(m_ppItems[slot - 1], copy) > 0) {
        m_ppItems[slot] = m_ppItems[slot - 1];
        --slot;
    }
    m_ppItems[slot] = copy;
    ++m_nCount;
}

void DigestList::Concatenate(std::vector<uint8_t>& out) const
{
    out.clear();
    for (int32_t i = 0; i < m_nCount; ++i) {
        const char* item = m_ppItems[i];
        out.insert(out.end(), item, item + std::strlen(item));
    }
}

void DigestList::Clear()
{
    for (int32_t i = 0; i < m_nCount; ++i)
        delete[] m_ppItems[i];
    delete[] m_ppItems;
    m_ppItems = nullptr;
    m_nCapacity = 0;
    m_nCount = 0;
}

const char* DigestList::GetItem(int32_t index) const
{
    if (index < 0 || index >= m_nCount)
        return nullptr;
    return m_ppItems[index];
}

bool DigestTextMatches(const uint8_t* joined, size_t joinedLen, const wchar_t* expected)
{
    if (expected == nullptr)
        expected = L"";
    if (std::wcslen(expected) != joinedLen)
        return false;
    for (size_t i = 0; i < joinedLen; ++i) {
        // wchar_t is 16-bit unsigned on Windows but 32-bit signed elsewhere;
        // widening both to uint32_t compares the same way on either.
        uint32_t wide = static_cast<uint32_t>(expected[i]);
        if (wide != joined[i])
            return false;
    }
    return true;
}
