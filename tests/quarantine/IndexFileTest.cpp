// Index files on disk (the format itself is IndexFormatTest's): a save goes through one fixed
// temporary name and a move, keeps the index's attributes and leaves the previous index
// whole when any call fails; a load refuses what it cannot read whole and blocks nobody.
#include "quarantine/IndexFileFormat.h"
#include "tests/quarantine/FaultTable.h"
#include "tests/quarantine/IndexSamples.h"
#include "tests/support/TestFiles.h"
#include <gtest/gtest.h>

namespace {

class IndexFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ReadIndexBytes(kSampleIndex, m_Item));
        // Over 1 MiB, so the file takes two writes and two reads.
        m_Item.m_Files[0].subject = std::wstring(1536 * 1024, L's');
        ASSERT_TRUE(WriteFileBytes(m_sIndex, "previous index"));
    }
    std::vector<std::wstring> Files() const { return FilesIn(m_Dir.Path()); }

    CTempDir m_Dir;
    const std::wstring m_sIndex = m_Dir.Join(L"A1.xml"), m_sTemp = m_sIndex + L".tmp";
    QuarItem m_Item;
};

} // namespace

TEST_F(IndexFile, SaveWritesTheFormatThroughATemporaryFileAndReadsBack)
{
    std::vector<std::wstring> moves;
    CSysHook<&CSysCalls::MoveFileExW> move([&](LPCWSTR from, LPCWSTR to, DWORD flags) {
        moves = {from, to, std::to_wstring(flags)};
        return CSysHook<&CSysCalls::MoveFileExW>::Next()(from, to, flags);
    });
    CSysRecorder<&CSysCalls::CreateFileW> opens;
    CSysRecorder<&CSysCalls::CloseHandle> closes;
    ASSERT_TRUE(m_Item.SaveXml(m_sIndex.c_str()));
    EXPECT_EQ(moves, (std::vector<std::wstring>{
                         m_sTemp, m_sIndex,
                         std::to_wstring(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)}));
    EXPECT_EQ(closes.Count(), opens.Count()) << "each handle closed once";
    std::string bytes;
    ASSERT_TRUE(WriteIndexBytes(m_Item, bytes));
    EXPECT_TRUE(ReadFileBytes(m_sIndex) == bytes);
    EXPECT_EQ(Files(), std::vector<std::wstring>{L"A1.xml"});
    QuarItem back;
    ASSERT_TRUE(back.LoadXml(m_sIndex.c_str()));
    EXPECT_EQ(back.m_Files[0].subject, m_Item.m_Files[0].subject);
    EXPECT_FALSE(m_Item.SaveXml(nullptr) || m_Item.SaveXml(L""));
}

TEST_F(IndexFile, AFailedSaveLeavesThePreviousIndexAndNoTemporaryFile)
{
    using C = CSysCalls;
    const CFault faults[] = {
        FailNth<&C::GetFileAttributesW>(1, ERROR_ACCESS_DENIED, INVALID_FILE_ATTRIBUTES),
        FailNth<&C::CreateFileW>(1, ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE),
        FailNth<&C::WriteFile>(2, ERROR_DISK_FULL, FALSE),
        FailNth<&C::FlushFileBuffers>(1, ERROR_IO_DEVICE, FALSE),
        FailNth<&C::MoveFileExW>(1, ERROR_ACCESS_DENIED, FALSE),
        // A close that reports a lost delayed write (the handle is closed all the same).
        Answer<&C::CloseHandle>([](HANDLE h) {
            CSysHook<&CSysCalls::CloseHandle>::Next()(h);
            return FALSE;
        }),
    };
    for (size_t i = 0; i < std::size(faults); ++i) {
        std::shared_ptr<void> fault = faults[i]();
        EXPECT_FALSE(m_Item.SaveXml(m_sIndex.c_str())) << "fault " << i;
        EXPECT_EQ(ReadFileBytes(m_sIndex), "previous index");
        EXPECT_EQ(Files(), std::vector<std::wstring>{L"A1.xml"});
    }
}

// One fixed temporary name: a leftover of a killed save is removed first, whatever its
// attributes, and one that cannot be removed fails the save. The new index keeps the
// attributes of the one it replaces (not read-only: Windows would not replace it at all).
TEST_F(IndexFile, LeftoverTemporaryFileGoesAndTheIndexKeepsItsAttributes)
{
    const DWORD hs = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    const std::pair<DWORD, DWORD> cases[] = {// leftover (0: none), index before and after
                                             {0, FILE_ATTRIBUTE_ARCHIVE},
                                             {FILE_ATTRIBUTE_ARCHIVE, hs},
                                             {hs, FILE_ATTRIBUTE_ARCHIVE}};
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteFileBytes(m_sIndex, "previous index"));
        SetFileAttributesW(m_sIndex.c_str(), c.second);
        if (c.first) {
            ASSERT_TRUE(WriteFileBytes(m_sTemp, "half a save"));
            SetFileAttributesW(m_sTemp.c_str(), c.first);
        }
        EXPECT_TRUE(m_Item.SaveXml(m_sIndex.c_str()));
        EXPECT_EQ(GetFileAttributesW(m_sIndex.c_str()), c.second);
        EXPECT_EQ(Files(), std::vector<std::wstring>{L"A1.xml"});
        SetFileAttributesW(m_sIndex.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    ASSERT_TRUE(WriteFileBytes(m_sTemp, "half a save"));
    CSysFailNth<&CSysCalls::DeleteFileW> stuck(1, ERROR_ACCESS_DENIED, FALSE);
    EXPECT_FALSE(m_Item.SaveXml(m_sIndex.c_str()));
    EXPECT_EQ(ReadFileBytes(m_sTemp), "half a save"); // not written through
}

// A load refuses a file it cannot read whole, or one larger than any index (before reading
// a byte). While it reads, another program can rename the index away or delete it.
TEST_F(IndexFile, LoadReadsWholeFilesAndBlocksNobody)
{
    ASSERT_TRUE(WriteFileBytes(m_sIndex, kSampleIndex));
    QuarItem item;
    EXPECT_FALSE(item.LoadXml(nullptr) || item.LoadXml(m_Dir.Join(L"missing.xml").c_str()));
    using C = CSysCalls;
    const CFault faults[] = {
        FailNth<&C::GetFileSizeEx>(1, ERROR_ACCESS_DENIED, FALSE),
        FailNth<&C::ReadFile>(1, ERROR_LOCK_VIOLATION, FALSE),
        Answer<&C::GetFileSizeEx>([](HANDLE, PLARGE_INTEGER size) {
            size->QuadPart = 64LL * 1024 * 1024 + 1; // larger than any index
            return TRUE;
        }),
    };
    for (const CFault& fault : faults) {
        CSysRecorder<&CSysCalls::ReadFile> reads; // below the fault: sees what passes it
        std::shared_ptr<void> armed = fault();
        EXPECT_FALSE(item.LoadXml(m_sIndex.c_str()));
        EXPECT_EQ(reads.Count(), 0u);
    }
    for (bool rename : {true, false}) {
        ASSERT_TRUE(WriteFileBytes(m_sIndex, kSampleIndex));
        BOOL done = FALSE;
        CSysHook<&CSysCalls::ReadFile> meanwhile(
            [&](HANDLE h, LPVOID data, DWORD size, LPDWORD got, LPOVERLAPPED at) -> BOOL {
                if (!done)
                    done = rename ? MoveFileExW(m_sIndex.c_str(), m_Dir.Join(L"moved").c_str(), 0)
                                  : DeleteFileW(m_sIndex.c_str());
                return CSysHook<&CSysCalls::ReadFile>::Next()(h, data, size, got, at);
            });
        EXPECT_TRUE(item.LoadXml(m_sIndex.c_str()));
        EXPECT_TRUE(done) << (rename ? "rename" : "delete") << " refused, error " << GetLastError();
        DeleteFileW(m_Dir.Join(L"moved").c_str());
    }
}
