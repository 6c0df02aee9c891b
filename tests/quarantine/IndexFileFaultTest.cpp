// Index files under failing calls and hostile input: a failed save leaves the previous
// index and no temporary file; a leftover one goes; readers block nobody; bad input is
// refused without crashing or stalling.
#include "quarantine/IndexFileFormat.h"
#include "quarantine/IndexFileGuard.h"
#include "quarantine/QuarItem.h"
#include "tests/quarantine/IndexSamples.h"
#include "tests/support/SysHooks.h"
#include "tests/support/TestFiles.h"
#include <gtest/gtest.h>
#include <functional>
#include <memory>
#include <random>

namespace {

std::string Repeat(const std::string& s, size_t n)
{
    std::string out;
    out.reserve(s.size() * n);
    for (size_t i = 0; i < n; ++i)
        out += s;
    return out;
}

bool Reads(const std::string& text)
{
    QuarItem item;
    return ReadIndexBytes(text, item);
}

// text with more inserted just inside the signature element.
std::string InsideSignature(const std::string& more)
{
    return With(kSampleIndex, "<signature>\n", "<signature>\n" + more);
}

class IndexSave : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ReadIndexBytes(kSampleIndex, m_Item));
        // Over 1 MiB, so the file takes two writes and can fail between them.
        m_Item.m_Files[0].subject = std::wstring(1536 * 1024, L's');
        ASSERT_TRUE(WriteFileBytes(m_sIndex, "previous index"));
    }
    void ExpectPreviousIndexOnly()
    {
        EXPECT_EQ(ReadFileBytes(m_sIndex), "previous index");
        EXPECT_EQ(FilesIn(m_Dir.Path()), std::vector<std::wstring>{L"A1.xml"});
    }

    CTempDir m_Dir;
    std::wstring m_sIndex = m_Dir.Join(L"A1.xml");
    QuarItem m_Item;
};

} // namespace

TEST_F(IndexSave, ReplacesTheIndexThroughATemporaryFileBesideIt)
{
    std::vector<std::wstring> moves;
    CSysHook<&CSysCalls::MoveFileExW> hook([&](LPCWSTR from, LPCWSTR to, DWORD flags) {
        moves = {from, to, std::to_wstring(flags)};
        return CSysHook<&CSysCalls::MoveFileExW>::Next()(from, to, flags);
    });
    ASSERT_TRUE(m_Item.SaveXml(m_sIndex.c_str()));
    std::wstring temp = m_sIndex + L".tmp";
    EXPECT_EQ(moves, (std::vector<std::wstring>{
                         temp, m_sIndex,
                         std::to_wstring(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)}));
    EXPECT_EQ(FilesIn(m_Dir.Path()), std::vector<std::wstring>{L"A1.xml"});
    QuarItem back;
    ASSERT_TRUE(back.LoadXml(m_sIndex.c_str()));
    EXPECT_EQ(back.m_Files[0].subject->size(), 1536u * 1024);
    EXPECT_FALSE(m_Item.SaveXml(nullptr));
    EXPECT_FALSE(m_Item.SaveXml(L""));
}

TEST_F(IndexSave, AFailedSaveLeavesThePreviousIndexAndNoTemporaryFile)
{
    using Fault = std::function<std::shared_ptr<void>()>;
    const Fault faults[] = {
        [] { return std::make_shared<CSysFailNth<&CSysCalls::GetFileAttributesW>>(
                 1, ERROR_ACCESS_DENIED, INVALID_FILE_ATTRIBUTES); },
        [] { return std::make_shared<CSysFailNth<&CSysCalls::CreateFileW>>(
                 1, ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE); },
        [] { return std::make_shared<CSysFailNth<&CSysCalls::WriteFile>>(2, ERROR_DISK_FULL, FALSE); },
        [] { return std::make_shared<CSysFailNth<&CSysCalls::FlushFileBuffers>>(1, ERROR_IO_DEVICE, FALSE); },
        [] { return std::make_shared<CSysFailNth<&CSysCalls::MoveFileExW>>(1, ERROR_ACCESS_DENIED, FALSE); },
        // A close that reports failure (the handle is closed all the same).
        [] { return std::make_shared<CSysHook<&CSysCalls::CloseHandle>>([](HANDLE h) {
                 CSysHook<&CSysCalls::CloseHandle>::Next()(h);
                 return FALSE;
             }); },
    };
    for (size_t i = 0; i < std::size(faults); ++i) {
        std::shared_ptr<void> fault = faults[i]();
        EXPECT_FALSE(m_Item.SaveXml(m_sIndex.c_str())) << "fault " << i;
        ExpectPreviousIndexOnly();
    }
}

// One fixed temporary name: a leftover of a killed save is removed first, whatever its
// attributes; the new index keeps the attributes of the one it replaces (not read-only:
// Windows would not replace a read-only index at all).
TEST_F(IndexSave, LeftoverTemporaryFileGoesAndTheIndexKeepsItsAttributes)
{
    const std::wstring temp = m_sIndex + L".tmp";
    struct Case
    {
        DWORD leftover; // attributes of a leftover temporary file; 0: none
        DWORD index;    // attributes of the index before the save
        DWORD after;    // of the index afterwards
    };
    const DWORD hs = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    const Case cases[] = {
        {0, FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_ARCHIVE},
        {FILE_ATTRIBUTE_ARCHIVE, hs, hs},
        {hs, FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_ARCHIVE},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteFileBytes(m_sIndex, "previous index"));
        SetFileAttributesW(m_sIndex.c_str(), c.index);
        if (c.leftover) {
            ASSERT_TRUE(WriteFileBytes(temp, "half a save"));
            SetFileAttributesW(temp.c_str(), c.leftover);
        }
        EXPECT_TRUE(m_Item.SaveXml(m_sIndex.c_str()));
        EXPECT_EQ(GetFileAttributesW(m_sIndex.c_str()), c.after);
        EXPECT_EQ(FilesIn(m_Dir.Path()), std::vector<std::wstring>{L"A1.xml"});
        SetFileAttributesW(m_sIndex.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    // A leftover that cannot be removed fails the save; it is not written through.
    ASSERT_TRUE(WriteFileBytes(temp, "half a save"));
    CSysFailNth<&CSysCalls::DeleteFileW> stuck(1, ERROR_ACCESS_DENIED, FALSE);
    EXPECT_FALSE(m_Item.SaveXml(m_sIndex.c_str()));
    EXPECT_EQ(ReadFileBytes(temp), "half a save");
}

TEST(IndexLoad, FailingReadsAndOversizedFilesAreRefused)
{
    CTempDir dir;
    std::wstring path = dir.Join(L"A1.xml");
    ASSERT_TRUE(WriteFileBytes(path, kSampleIndex));
    QuarItem item;
    EXPECT_FALSE(item.LoadXml(nullptr));
    EXPECT_FALSE(item.LoadXml(dir.Join(L"missing.xml").c_str()));
    {
        CSysFailNth<&CSysCalls::GetFileSizeEx> fail(1, ERROR_ACCESS_DENIED, FALSE);
        EXPECT_FALSE(item.LoadXml(path.c_str()));
    }
    {
        CSysFailNth<&CSysCalls::ReadFile> fail(1, ERROR_LOCK_VIOLATION, FALSE);
        EXPECT_FALSE(item.LoadXml(path.c_str()));
    }
    {
        CSysRecorder<&CSysCalls::ReadFile> reads;
        CSysHook<&CSysCalls::GetFileSizeEx> huge([](HANDLE, PLARGE_INTEGER size) {
            size->QuadPart = 64LL * 1024 * 1024 + 1;
            return TRUE;
        });
        EXPECT_FALSE(item.LoadXml(path.c_str()));
        EXPECT_EQ(reads.Count(), 0u);
    }
    EXPECT_TRUE(item.LoadXml(path.c_str()));
}

// A reader never stands in another's way: while the index is being read, another program
// can rename it away or delete it.
TEST(IndexLoad, ReadingLetsOthersRenameAndDelete)
{
    CTempDir dir;
    std::wstring path = dir.Join(L"A1.xml");
    for (bool rename : {true, false}) {
        ASSERT_TRUE(WriteFileBytes(path, kSampleIndex));
        BOOL done = FALSE;
        CSysHook<&CSysCalls::ReadFile> meanwhile(
            [&](HANDLE h, LPVOID data, DWORD size, LPDWORD got, LPOVERLAPPED at) -> BOOL {
                if (!done)
                    done = rename ? MoveFileExW(path.c_str(), dir.Join(L"moved").c_str(), 0)
                                  : DeleteFileW(path.c_str());
                return CSysHook<&CSysCalls::ReadFile>::Next()(h, data, size, got, at);
            });
        QuarItem item;
        EXPECT_TRUE(item.LoadXml(path.c_str()));
        EXPECT_TRUE(done) << (rename ? "rename" : "delete") << " refused, error " << GetLastError();
        DeleteFileW(dir.Join(L"moved").c_str());
    }
}

TEST(IndexLoad, EmptyTruncatedAndBinaryInputIsRefused)
{
    CTempDir dir;
    std::wstring path = dir.Join(L"A1.xml");
    QuarItem item;
    for (const char* bytes : {"", "\xEF\xBB\xBF", "\xFF\xFE", "   \r\n"}) {
        ASSERT_TRUE(WriteFileBytes(path, bytes));
        EXPECT_FALSE(item.LoadXml(path.c_str()));
    }
    std::string whole;
    ASSERT_TRUE(ReadIndexBytes(kSampleIndex, item));
    ASSERT_TRUE(WriteIndexBytes(item, whole));
    size_t closed = whole.find("</signature>") + std::string("</signature>").size();
    for (size_t n = 0; n < closed; ++n)
        ASSERT_FALSE(Reads(whole.substr(0, n))) << n;
    EXPECT_TRUE(Reads(whole.substr(0, closed)));

    std::mt19937 rng(20110402);
    for (int round = 0; round < 300; ++round) {
        std::string noise(1 + rng() % 4096, '\0');
        for (char& c : noise)
            c = static_cast<char>(rng());
        const char* marks[] = {"", "\xFF\xFE", "\xFE\xFF", "<signature>"};
        EXPECT_FALSE(Reads(marks[round % 4] + noise)) << round;
    }
}

TEST(IndexLoad, NestingBeyondTheBoundIsRefusedBeforeParsing)
{
    // The signature is one level; kIndexMaxDepth - 1 more still reads.
    auto nested = [](int levels) { return Repeat("<x>", levels) + Repeat("</x>", levels) + "\n"; };
    EXPECT_TRUE(Reads(InsideSignature(nested(kIndexMaxDepth - 1))));
    EXPECT_FALSE(Reads(InsideSignature(nested(kIndexMaxDepth))));
    // TinyXML's recursion overflows the stack long before this depth.
    EXPECT_FALSE(Reads(InsideSignature(nested(100000))));
    EXPECT_FALSE(Reads(Repeat("<x>", 1000000)));
    // Markup hidden in values, comments or sections neither opens nor closes elements:
    // counted right, one level more than fits is still refused.
    const std::string hiding = "<x a='</x></x>' b=\"/>\"><!-- </x> --><![CDATA[</x>]]>";
    EXPECT_TRUE(Reads(InsideSignature(hiding + nested(kIndexMaxDepth - 2) + "</x>")));
    EXPECT_FALSE(Reads(InsideSignature(hiding + nested(kIndexMaxDepth - 1) + "</x>")));
    // An unfinished reference could carry markup past the walk: refused.
    EXPECT_FALSE(Reads(With(kSampleIndex, "a.txt", "&#x\"/></x>x41;")));
    EXPECT_FALSE(Reads(With(kSampleIndex, "a.txt", "a&#65")));
}

TEST(IndexLoad, AttributeAndNodeCountsAreBounded)
{
    auto element = [](size_t attributes) {
        std::string e = "<x";
        for (size_t i = 0; i < attributes; ++i)
            e += " a" + std::to_string(i) + "=''";
        return e + "/>\n";
    };
    EXPECT_TRUE(Reads(InsideSignature(element(kIndexMaxTagAttributes))));
    EXPECT_FALSE(Reads(InsideSignature(element(kIndexMaxTagAttributes + 1))));
    EXPECT_FALSE(Reads(InsideSignature(element(100000)))); // quadratic in TinyXML: minutes
    EXPECT_FALSE(Reads(InsideSignature(Repeat("<y/>", kIndexMaxNodes))));
}

TEST(IndexLoad, VeryLargeFilesEndQuickly)
{
    CTempDir dir;
    std::wstring path = dir.Join(L"A1.xml");
    const size_t kFifty = 50u * 1024 * 1024;
    ASSERT_TRUE(WriteFileBytes(path, InsideSignature(Repeat("<y/>", kFifty / 4))));
    QuarItem item;
    EXPECT_FALSE(item.LoadXml(path.c_str()));

    // The same size in one value is an index like any other.
    ASSERT_TRUE(WriteFileBytes(path, With(kSampleIndex, "dtime=\"4\"",
                                          "dtime=\"4\" subject=\"" + std::string(kFifty, 's') + "\"")));
    ASSERT_TRUE(item.LoadXml(path.c_str()));
    EXPECT_EQ(item.m_Files[0].subject->size(), kFifty);
}
