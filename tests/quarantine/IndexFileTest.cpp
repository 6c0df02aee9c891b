// Index files on disk: saved through one fixed temporary name and a move, attributes kept, the
// previous index whole on failure; loaded only whole.
#include "quarantine/IndexFileFormat.h"
#include "tests/support/SysHooks.h"
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
        m_Item.m_Files[0].subject = std::wstring(1536 * 1024, L's'); // two writes, two reads
    }
    // The save's outcome, with the index and the folder's files after it.
    std::string Save(DWORD indexAttributes = FILE_ATTRIBUTE_ARCHIVE)
    {
        EXPECT_TRUE(WriteWholeFile(m_sIndex, "previous index"));
        SetFileAttributesW(m_sIndex.c_str(), indexAttributes);
        bool saved = m_Item.SaveXml(m_sIndex.c_str());
        std::string index = GetFileAttributesW(m_sIndex.c_str()) == indexAttributes ? "" : " (attrs)";
        SetFileAttributesW(m_sIndex.c_str(), FILE_ATTRIBUTE_NORMAL);
        std::wstring files;
        for (const std::wstring& name : FilesIn(m_Dir.Path()))
            files += L" " + name;
        return (saved ? "saved" : "failed") +
               std::string(ReadFileBytes(m_sIndex) == "previous index" ? "" : " new index") +
               index + (files == L" A1.xml" ? "" : " and more files");
    }

    CTempDir m_Dir;
    const std::wstring m_sIndex = m_Dir.Join(L"A1.xml"), m_sTemp = m_sIndex + L".tmp";
    QuarItem m_Item;
};

} // namespace

// A killed save's leftover goes first, whatever its attributes; the replaced index's attributes stay.
TEST_F(IndexFile, SaveThroughATemporaryFileAndLoadWholeFilesOnly)
{
    std::vector<std::wstring> moves;
    CSysHook<&CSysCalls::MoveFileExW> move([&](LPCWSTR from, LPCWSTR to, DWORD flags) {
        moves = {from, to, std::to_wstring(flags)};
        return CSysHook<&CSysCalls::MoveFileExW>::Next()(from, to, flags);
    });
    const DWORD hs = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    for (DWORD leftover : {DWORD(0), hs}) {
        if (leftover && WriteWholeFile(m_sTemp, "half a save"))
            SetFileAttributesW(m_sTemp.c_str(), leftover);
        EXPECT_EQ(Save(leftover ? hs : FILE_ATTRIBUTE_ARCHIVE), "saved new index");
    }
    EXPECT_EQ(moves, (std::vector<std::wstring>{
                         m_sTemp, m_sIndex,
                         std::to_wstring(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)}));
    std::string bytes;
    ASSERT_TRUE(WriteIndexBytes(m_Item, bytes));
    EXPECT_TRUE(ReadFileBytes(m_sIndex) == bytes);
    QuarItem back;
    ASSERT_TRUE(back.LoadXml(m_sIndex.c_str()));
    EXPECT_EQ(back.m_Files[0].subject, m_Item.m_Files[0].subject);

    // Any failing call, a lost write at close, or a leftover that cannot go: previous index kept.
    using C = CSysCalls;
    const CFault faults[] = {
        FailNth<&C::GetFileAttributesW>(1, ERROR_ACCESS_DENIED, INVALID_FILE_ATTRIBUTES),
        FailNth<&C::CreateFileW>(1, ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE),
        FailNth<&C::WriteFile>(2, ERROR_DISK_FULL, FALSE),
        FailNth<&C::FlushFileBuffers>(1, ERROR_IO_DEVICE, FALSE),
        FailNth<&C::MoveFileExW>(1, ERROR_ACCESS_DENIED, FALSE),
        Answer<&C::CloseHandle>([](HANDLE h) { return !CSysHook<&C::CloseHandle>::Next()(h); }),
    };
    for (const CFault& fault : faults) {
        Hold armed = fault();
        EXPECT_EQ(Save(), "failed") << &fault - faults;
    }
    ASSERT_TRUE(WriteWholeFile(m_sTemp, "half a save"));
    CSysFailNth<&CSysCalls::DeleteFileW> stuck(1, ERROR_ACCESS_DENIED, FALSE);
    EXPECT_EQ(Save(), "failed and more files");
    EXPECT_EQ(ReadFileBytes(m_sTemp), "half a save");

    // A load refuses a file it cannot read whole, or one larger than any index (before reading).
    ASSERT_TRUE(WriteWholeFile(m_sIndex, kSampleIndex));
    QuarItem item;
    const CFault loadFaults[] = {
        FailNth<&C::ReadFile>(1, ERROR_LOCK_VIOLATION, FALSE),
        Answer<&C::GetFileSizeEx>([](HANDLE, PLARGE_INTEGER size) {
            size->QuadPart = 64LL * 1024 * 1024 + 1;
            return TRUE;
        }),
    };
    for (const CFault& fault : loadFaults) {
        CSysRecorder<&CSysCalls::ReadFile> reads; // below the fault: sees what passes it
        Hold armed = fault();
        EXPECT_FALSE(item.LoadXml(m_sIndex.c_str()));
        EXPECT_EQ(reads.Count(), 0u);
    }
    EXPECT_TRUE(item.LoadXml(m_sIndex.c_str()));
}
