// The restore on a machine where the owner of a destination folder has set traps: names
// and folders that lead elsewhere, folders turned into links, files planted under the
// staging name, final paths that differ. Links are Unix symbolic links in the prefix,
// which Wine follows like links; what Wine cannot make (junctions, mount points, reparse
// tags) is played through the table of calls. Every refusal keeps the item as stored,
// leaves nothing of ours anywhere and touches nothing that is not ours.
#include "platform/EfsRawStandin.h"
#include "tests/restore/RestoreFixture.h"
#include "tests/support/UnixLinks.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>
#include <memory>

namespace {

const wchar_t kWriteRefused[] = L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION ";
const wchar_t kLeftAlone[] = L"[VAULTKIT] Not an unfinished restore, left alone: ";

std::wstring Redirected(const std::wstring& finalPath)
{
    return kWriteRefused + std::wstring(L"redirected to |\\\\?\\") + finalPath + L"|";
}

std::wstring LeafOf(const std::wstring& path)
{
    return path.substr(path.find_last_of(L'\\') + 1);
}

// A file that is not ours: its bytes and attributes must come through unchanged.
struct CVictim
{
    std::wstring path;
    std::string bytes = "someone else's file";
    explicit CVictim(const std::wstring& at) : path(at)
    {
        EXPECT_TRUE(WriteFileBytes(path, bytes));
        EXPECT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    ~CVictim() { SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL); }
    void ExpectUntouched() const
    {
        EXPECT_EQ(ReadFileBytes(path), bytes);
        EXPECT_EQ(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY, DWORD(FILE_ATTRIBUTE_READONLY));
    }
};

class HostileDestination : public DecryptAndRestore
{
protected:
    // An item with one location of the given name and folder.
    void StoreAt(const CTestItem& stored, const std::wstring& name, const std::wstring& path)
    {
        CTestItem item = stored;
        CTestLocation at;
        at.name = name;
        at.path = path;
        item.files = {at};
        StoreAs(item);
    }
    void ExpectItemKept()
    {
        EXPECT_EQ(ReadFileBytes(m_Index), m_IndexBytes);
        EXPECT_EQ(ReadFileBytes(m_Payload), m_PayloadBytes);
    }
    CTempDir m_Elsewhere;  // a place the item never came from
};

} // namespace

// A name or folder that could reach anything but the folder it spells out is refused
// before the destination is even looked at.
TEST_F(HostileDestination, NamesAndFoldersThatLeadElsewhereAreRefusedUpFront)
{
    const std::wstring f = m_Folder;
    struct Case
    {
        std::wstring name;
        std::wstring path;
        const wchar_t* why;  // null: restored
    };
    const Case cases[] = {
        {L"..\\..\\windows\\dotdot.dll", f, L"not a file name"},
        {L"sub/evil.dll", f, L"not a file name"},
        {L"doc.txt:hidden", f, L"not a file name"},
        {L"doc.txt ", f, L"not a file name"},
        {L"..", f, L"not a file name"},
        {L"CON", f, L"not a file name"},
        {L"nul", f, L"not a file name"},
        {L"COM1", f, L"not a file name"},
        {L"lpt1.txt", f, L"not a file name"},
        {L"CON.", f, L"not a file name"},
        {L"doc.txt", L"", L"not a full folder path"},
        {L"doc.txt", L"relative\\dir", L"not a full folder path"},
        {L"doc.txt", L"C:", L"not a full folder path"},
        {L"doc.txt", f + L"\\..\\" + LeafOf(f), L"not a full folder path"},
        {L"doc.txt", f + L"/.", L"not a full folder path"},
        {L"doc.txt", L"\\\\.\\" + f, L"not a full folder path"},
        {L"doc.txt", L"\\\\?\\" + f, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + L" in " + c.path);
        StoreAt(NormalItem({kMain}), c.name, c.path);
        CSysRecorder<&CSysCalls::CreateFileW> opens;
        CSysRecorder<&CSysCalls::GetDiskFreeSpaceExW> space;
        int32_t result = Run();
        if (!c.why) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(ReadFileBytes(Destination()), kMain.data);
            ASSERT_TRUE(DeleteFileW(Destination().c_str()));
            continue;
        }
        EXPECT_EQ(result, 5);
        std::wstring shown = std::wstring(c.why) == L"not a file name" ? c.name : c.path;
        EXPECT_EQ(m_Trace.Lines(), (Lines{Call(), kWriteRefused + std::wstring(c.why) + L" |" + shown + L"|"}));
        ASSERT_EQ(opens.Count(), 1u);  // the index, read
        EXPECT_EQ(std::get<4>(opens.Calls()[0]), DWORD(OPEN_EXISTING));
        EXPECT_EQ(space.Count(), 0u);
        ExpectItemKept();
        EXPECT_TRUE(FilesIn(m_Folder).empty());
    }
}

// A folder on the item's path made a link, at any depth: the file created through it is
// found elsewhere on its own handle and removed before a byte is written; a file the link
// leads to is not "already there". Both writers.
TEST_F(HostileDestination, ALinkOnAnyFolderOfThePathIsNeverWrittenThrough)
{
    const std::wstring parts[] = {L"top", L"mid", L"leaf"};
    struct Case
    {
        int level;  // the folder that is a link
        bool efs;
        bool fileBehind;  // the link leads to a file of the item's name
    };
    const Case cases[] = {{0, false, false}, {1, false, false}, {2, false, false},
                          {1, true, false},  {2, false, true},  {2, true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level * 100 + c.efs * 10 + c.fileBehind);
        CTempDir here;
        CTempDir there;
        std::wstring path = here.Path();
        std::wstring target = there.Path();
        for (int i = 0; i < 3; ++i) {
            path += L"\\" + parts[i];
            target += L"\\" + parts[i];
            ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
            if (i < c.level) {
                ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
            }
        }
        std::wstring linkAt = here.Path();
        std::wstring linkTo = there.Path();
        for (int i = 0; i <= c.level; ++i) {
            linkAt += L"\\" + parts[i];
            linkTo += L"\\" + parts[i];
        }
        std::unique_ptr<CVictim> behind;
        if (c.fileBehind)
            behind = std::make_unique<CVictim>(target + L"\\doc.txt");
        CUnixSymlink link(linkAt, linkTo);
        ASSERT_TRUE(link.Made());
        StoreAt(c.efs ? EfsItem("raw") : NormalItem({kMain}), L"doc.txt", path);
        CSysRecorder<&CSysCalls::BackupWrite> writes;
        CSysRecorder<&CSysCalls::OpenEncryptedFileRawW> imports;

        EXPECT_EQ(Run(), 5);
        std::wstring landed = target + L"\\" + (c.fileBehind ? L"doc.txt" : LeafOf(Staging()));
        EXPECT_EQ(m_Trace.Lines(), (Lines{Call(), c.efs ? kEfs : kNormal, Redirected(landed)}));
        EXPECT_EQ(writes.Count() + imports.Count(), 0u);
        ExpectItemKept();
        if (behind)
            behind->ExpectUntouched();
        EXPECT_EQ(FilesIn(target), c.fileBehind ? std::vector<std::wstring>{L"doc.txt"}
                                                : std::vector<std::wstring>{});
    }
}

// What only Windows makes (a junction or mount point on the way, a volume without a
// letter) shows as a final path that differs or cannot be had: at the staging file's
// creation, at the EFS claim, after the file is taken back from the import, and after the
// rename, which resolves the destination by its path. The file is removed through its
// handle each time, from wherever it is.
TEST_F(HostileDestination, AFinalPathThatDiffersOrCannotBeHadFailsTheLocation)
{
    const wchar_t kElsewhere[] = L"\\\\?\\C:\\windows\\system32\\x.tmp";
    struct Case
    {
        bool efs;
        int nth;         // final path asked: staging/claim, (take back,) after the rename
        bool unanswered;
        size_t writes;   // BackupWrite calls or imports before the refusal
    };
    const Case cases[] = {
        {false, 1, false, 0}, {false, 1, true, 0}, {false, 2, false, 3},
        {true, 1, false, 0},  {true, 2, false, 1}, {true, 3, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.efs * 100 + c.nth * 10 + c.unanswered);
        Store(c.efs ? EfsItem("raw") : NormalItem({kMain}));
        int asked = 0;
        CSysHook<&CSysCalls::GetFinalPathNameByHandleW> lie(
            [&](HANDLE h, LPWSTR out, DWORD room, DWORD flags) -> DWORD {
                if (++asked != c.nth)
                    return CSysHook<&CSysCalls::GetFinalPathNameByHandleW>::Next()(h, out, room, flags);
                if (c.unanswered) {
                    g_Sys.SetLastError(ERROR_PATH_NOT_FOUND);
                    return 0;
                }
                wcscpy(out, kElsewhere);
                return DWORD(wcslen(kElsewhere));
            });
        CSysRecorder<&CSysCalls::BackupWrite> writes;
        CSysRecorder<&CSysCalls::OpenEncryptedFileRawW> imports;
        EXPECT_EQ(Run(), 5);
        EXPECT_EQ(m_Trace.Lines().back(),
                  c.unanswered ? L"[VAULTKIT] GetFinalPathNameByHandle [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (3)]"
                               : kWriteRefused + std::wstring(L"redirected to |") + kElsewhere + L"|");
        EXPECT_EQ(writes.Count() + imports.Count(), c.writes);
        ExpectNothingLost();
    }
}

// Under the staging name only a plain file with one name, at the intended place, is an
// unfinished restore of ours: removed through its own handle, read-only or not. A link of
// any kind, a folder or a file with other names stays as it is, attributes included, and
// the item is kept. A name that cannot be probed is no leftover: the create decides.
TEST_F(HostileDestination, OnlyAPlainLeftoverOfOursIsRemoved)
{
    struct Case
    {
        const char* what;
        std::function<std::unique_ptr<CUnixSymlink>(const std::wstring&, const CVictim&)> plant;
        int32_t result;
        std::wstring line;  // the trace line after "Restore normal file"; with the staging path
    };
    CVictim victim(m_Elsewhere.Join(L"protected.dll"));
    std::wstring folderVictim = m_Elsewhere.Join(L"folder");
    ASSERT_TRUE(CreateDirectoryW(folderVictim.c_str(), nullptr));
    const Case cases[] = {
        {"our own, read-only", [&](const std::wstring& s, const CVictim&) {
             WriteFileBytes(s, "half");
             SetFileAttributesW(s.c_str(), FILE_ATTRIBUTE_READONLY);
             return std::unique_ptr<CUnixSymlink>();
         }, 0, L"[VAULTKIT] Removed unfinished restore "},
        {"hard link", [&](const std::wstring& s, const CVictim& v) {
             CreateHardLinkW(s.c_str(), v.path.c_str(), nullptr);
             return std::unique_ptr<CUnixSymlink>();
         }, 5, kLeftAlone},
        {"file link", [&](const std::wstring& s, const CVictim& v) {
             return std::make_unique<CUnixSymlink>(s, v.path);
         }, 5, kLeftAlone},
        {"folder link", [&](const std::wstring& s, const CVictim&) {
             return std::make_unique<CUnixSymlink>(s, folderVictim);
         }, 5, kLeftAlone},
        {"folder", [&](const std::wstring& s, const CVictim&) {
             CreateDirectoryW(s.c_str(), nullptr);
             return std::unique_ptr<CUnixSymlink>();
         }, 5, kLeftAlone},
    };
    const wchar_t* reasons[] = {L"", L" [2 links]", nullptr, L" [folder]", L" [folder]"};
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        Store(NormalItem({kMain}));
        std::wstring staging = Staging();
        std::unique_ptr<CUnixSymlink> link = c.plant(staging, victim);
        m_Trace.Clear();
        EXPECT_EQ(Run(), c.result);
        std::wstring reason = reasons[i] ? reasons[i] : L" [redirected to |\\\\?\\" + victim.path + L"|]";
        EXPECT_EQ(m_Trace.Lines()[2], c.line + staging + reason);
        victim.ExpectUntouched();
        EXPECT_TRUE(FilesIn(folderVictim).empty());
        if (c.result == 0) {
            EXPECT_EQ(ReadFileBytes(Destination()), kMain.data);
            EXPECT_EQ(StagingFiles(), 0u);
            ASSERT_TRUE(DeleteFileW(Destination().c_str()));
            continue;
        }
        ExpectItemKept();
        EXPECT_FALSE(FileExists(Destination()));
        EXPECT_EQ(StagingFiles(), 1u);  // what was planted, still there
        if (link) {
            link.reset();
            continue;
        }
        SetFileAttributesW(staging.c_str(), FILE_ATTRIBUTE_NORMAL);  // a hard link's too
        DeleteFileW(staging.c_str());
        RemoveDirectoryW(staging.c_str());
        SetFileAttributesW(victim.path.c_str(), FILE_ATTRIBUTE_READONLY);
    }
}

// A reparse point of any tag under the staging name (Windows makes them, Wine cannot) is
// left alone; a probe that fails for another reason than "not found" finds no leftover,
// and the create, which never goes over anything, decides.
TEST_F(HostileDestination, ReparsePointsAndUnansweredProbesUnderTheStagingName)
{
    Store(NormalItem({kMain}));
    std::wstring staging = Staging();
    CVictim planted(staging);
    {
        CSysHook<&CSysCalls::GetFileInformationByHandle> tagged(
            [](HANDLE h, LPBY_HANDLE_FILE_INFORMATION info) {
                BOOL ok = CSysHook<&CSysCalls::GetFileInformationByHandle>::Next()(h, info);
                info->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
                return ok;
            });
        EXPECT_EQ(Run(), 5);
        EXPECT_EQ(m_Trace.Lines().back(), kLeftAlone + staging + L" [link]");
    }
    m_Trace.Clear();
    {
        CRefuseOpen probe(staging, ERROR_ACCESS_DENIED, /*first=*/1);
        EXPECT_EQ(Run(), 5);
        EXPECT_EQ(m_Trace.Lines().back(), L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION give up");
    }
    planted.ExpectUntouched();
    ExpectItemKept();
    SetFileAttributesW(staging.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(DeleteFileW(staging.c_str()));

    m_Trace.Clear();
    CRefuseOpen probe(staging, ERROR_SHARING_VIOLATION, /*first=*/1);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(ReadFileBytes(Destination()), kMain.data);
}

// The raw import fills the claimed file by its path; what is taken back must be that very
// file. Where the file's data cannot be opened (an encrypted file without its owner's
// key), it is taken back without and not flushed.
TEST_F(HostileDestination, WhatTheImportFilledMustBeTheFileClaimed)
{
    Store(EfsItem("raw"));
    {
        int asked = 0;
        CSysHook<&CSysCalls::GetFileInformationByHandle> swapped(
            [&](HANDLE h, LPBY_HANDLE_FILE_INFORMATION info) {
                BOOL ok = CSysHook<&CSysCalls::GetFileInformationByHandle>::Next()(h, info);
                if (++asked == 2)
                    info->nFileIndexLow ^= 1;
                return ok;
            });
        EXPECT_EQ(Run(), 5);
        EXPECT_EQ(m_Trace.Lines().back(), kWriteRefused + std::wstring(L"not our file |") + Staging() + L"|");
        ExpectItemKept();
        EXPECT_FALSE(FileExists(Destination()));
    }
    ASSERT_TRUE(DeleteFileW(Staging().c_str()));  // the stand-in for "someone else's"
    m_Trace.Clear();
    std::wstring staging = Staging();
    CSysHook<&CSysCalls::CreateFileW> noData(
        [&](LPCWSTR p, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD d, DWORD f, HANDLE t) {
            if (staging == p && (a & FILE_WRITE_DATA) && d == OPEN_EXISTING) {
                g_Sys.SetLastError(ERROR_ACCESS_DENIED);
                return INVALID_HANDLE_VALUE;
            }
            return CSysHook<&CSysCalls::CreateFileW>::Next()(p, a, s, sa, d, f, t);
        });
    CHandleSteps steps;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(ReadFileBytes(Destination()), "raw");
    EXPECT_EQ(std::count(steps.m_Steps.begin(), steps.m_Steps.end(), "flush"), 0);
    ExpectRetired();
}

// Letter case, the long-path prefix and short 8.3 names are no difference: a final path
// that differs only so is where the file was meant to be. The folder's long spelling is
// looked up only when the spelling of the index does not match.
TEST_F(HostileDestination, CaseAndShortNamesAreNoDifference)
{
    const std::wstring longFolder = L"C:\\Long Folder Name";
    struct Case
    {
        bool shortName;    // the final path shows the folder by a long name the index lacks
        bool lookupFails;  // and the long spelling cannot be looked up
        int32_t result;
        int lookups;
    };
    const Case cases[] = {{false, false, 0, 0}, {true, false, 0, 1}, {true, true, 5, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shortName * 10 + c.lookupFails);
        Store(NormalItem({kMain}));
        std::wstring folder = m_Folder + L"\\";
        CSysHook<&CSysCalls::GetFinalPathNameByHandleW> final(
            [&](HANDLE h, LPWSTR out, DWORD room, DWORD flags) -> DWORD {
                DWORD n = CSysHook<&CSysCalls::GetFinalPathNameByHandleW>::Next()(h, out, room, flags);
                std::wstring path(out, n);
                path = c.shortName ? L"\\\\?\\" + longFolder + path.substr(4 + m_Folder.size())
                                   : L"\\\\?\\" + path.substr(4);
                for (wchar_t& ch : path)
                    ch = c.shortName ? ch : towlower(ch);
                wcscpy(out, path.c_str());
                return DWORD(path.size());
            });
        int lookups = 0;
        CSysHook<&CSysCalls::GetLongPathNameW> spell([&](LPCWSTR asked, LPWSTR out, DWORD /*room*/) -> DWORD {
            ++lookups;
            EXPECT_EQ(folder, asked);
            if (c.lookupFails) {
                g_Sys.SetLastError(ERROR_ACCESS_DENIED);
                return 0;
            }
            wcscpy(out, (longFolder + L"\\").c_str());
            return DWORD(longFolder.size() + 1);
        });
        EXPECT_EQ(Run(), c.result);
        EXPECT_EQ(lookups, c.lookups);
        if (c.result == 0)
            ASSERT_TRUE(DeleteFileW(Destination().c_str()));
        else
            ExpectNothingLost();
    }
}
