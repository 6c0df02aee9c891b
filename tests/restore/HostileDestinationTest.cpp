// The restore on a machine where the owner of a destination folder has set traps: folders
// turned into links, files planted under the staging name, final paths that differ.
// Links are Unix symbolic links in the prefix, which Wine follows like links; what Wine
// cannot make (junctions, mount points, reparse tags) is played through the table of
// calls. Every refusal keeps the item as stored, leaves nothing of ours anywhere and
// touches nothing that is not ours. What a location may name is LocationRulesTest's.
#include "tests/restore/RestoreFixture.h"
#include "tests/support/UnixLinks.h"
#include <functional>

namespace {

std::wstring Redirected(const std::wstring& finalPath)
{
    return kRefused + std::wstring(L"redirected to |") + finalPath + L"|";
}

// A file that is not ours: its bytes and its read-only attribute must come through.
struct CVictim
{
    std::wstring path;
    explicit CVictim(const std::wstring& at) : path(at)
    {
        EXPECT_TRUE(WriteFileBytes(path, "someone else's file"));
        EXPECT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    ~CVictim() { SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL); }
    void ExpectUntouched() const
    {
        EXPECT_EQ(ReadFileBytes(path), "someone else's file");
        EXPECT_EQ(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY, DWORD(FILE_ATTRIBUTE_READONLY));
    }
};

using HostileDestination = DecryptAndRestore;

} // namespace

// A folder on the item's path made a link, at any depth: the file created through it is
// found elsewhere on its own handle and removed before a byte is written; a file the link
// leads to is not "already there". Both writers.
TEST_F(HostileDestination, ALinkOnAnyFolderOfThePathIsNeverWrittenThrough)
{
    struct Case
    {
        int level;  // the folder that is a link: 0 top, 1 mid, 2 leaf
        bool efs;
        bool fileBehind;  // the link leads to a file of the item's name
    };
    const Case cases[] = {{0, false, false}, {1, false, false}, {2, false, false},
                          {1, true, false},  {2, false, true},  {2, true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level * 100 + c.efs * 10 + c.fileBehind);
        CTempDir here, there;
        std::wstring path = here.Path(), target = there.Path(), linkAt, linkTo;
        for (int i = 0; i < 3; ++i) {
            path += std::wstring(L"\\") + L"tml"[i];
            target += std::wstring(L"\\") + L"tml"[i];
            ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
            if (i < c.level)
                ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
            if (i == c.level)
                linkAt = path, linkTo = target;
        }
        std::unique_ptr<CVictim> behind(c.fileBehind ? new CVictim(target + L"\\doc.txt") : nullptr);
        CUnixSymlink link(linkAt, linkTo);
        ASSERT_TRUE(link.Made());
        CItemDescription item = c.efs ? EfsItem("raw") : Item();
        item.locations = {{L"doc.txt", path}};
        Store(item);
        CSysRecorder<&CSysCalls::BackupWrite> writes;
        CSysRecorder<&CSysCalls::OpenEncryptedFileRawW> imports;

        EXPECT_EQ(Run(), 5);
        std::wstring leaf = c.fileBehind ? L"doc.txt" : Staging().substr(Staging().rfind(L'\\') + 1);
        EXPECT_EQ(m_Trace.Lines(), Traced({c.efs ? kEfs : kNormal, Redirected(L"\\\\?\\" + target + L"\\" + leaf)}));
        EXPECT_EQ(writes.Count() + imports.Count(), 0u);
        ExpectItemKept();
        if (behind)
            behind->ExpectUntouched();
        EXPECT_EQ(FilesIn(target), c.fileBehind ? Lines{L"doc.txt"} : Lines{});
    }
}

// What only Windows makes (a junction or mount point on the way, a volume without a
// letter) shows as a final path that differs or cannot be had: at the staging file's
// creation, at the EFS claim, after the file is taken back from the import, and after the
// rename, which resolves the destination by its path. The file goes each time, through its
// handle, from wherever it is.
TEST_F(HostileDestination, AFinalPathThatDiffersOrCannotBeHadFailsTheLocation)
{
    const wchar_t kElsewhere[] = L"\\\\?\\C:\\windows\\system32\\x.tmp";
    struct Case
    {
        bool efs;
        int nth;         // final path asked: staging or claim, (take back,) after the rename
        bool unanswered;
        size_t writes;   // BackupWrite calls or imports before the refusal
    };
    const Case cases[] = {
        {false, 1, false, 0}, {false, 1, true, 0}, {false, 2, false, 4},
        {true, 1, false, 0},  {true, 2, false, 1}, {true, 3, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.efs * 100 + c.nth * 10 + c.unanswered);
        Store(c.efs ? EfsItem("raw") : Item());
        int asked = 0;
        CSysHook<&CSysCalls::GetFinalPathNameByHandleW> lie([&](HANDLE h, LPWSTR out, DWORD room, DWORD flags) -> DWORD {
            if (++asked != c.nth)
                return CSysHook<&CSysCalls::GetFinalPathNameByHandleW>::Next()(h, out, room, flags);
            g_Sys.SetLastError(ERROR_PATH_NOT_FOUND);
            if (c.unanswered)
                return 0;
            wcscpy(out, kElsewhere);
            return DWORD(wcslen(kElsewhere));
        });
        CSysRecorder<&CSysCalls::BackupWrite> writes;
        CSysRecorder<&CSysCalls::OpenEncryptedFileRawW> imports;
        EXPECT_EQ(Run(), 5);
        EXPECT_EQ(m_Trace.Lines().back(), c.unanswered ? L"[VAULTKIT] GetFinalPathNameByHandle [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (3)]"
                                                       : Redirected(kElsewhere));
        EXPECT_EQ(writes.Count() + imports.Count(), c.writes);
        ExpectNothingLost();
    }
}

// Under the staging name only a plain file with one name, at the intended place, is an
// unfinished restore of ours: removed through its own handle, read-only or not. A link of
// any kind (reparse tags played through the table), a folder or a file with other names
// stays as it is, attributes included, and the item is kept. A name that cannot be probed
// is no leftover: the create, which never goes over anything, decides.
TEST_F(HostileDestination, OnlyAPlainLeftoverOfOursIsRemoved)
{
    const wchar_t kLeftAlone[] = L"[VAULTKIT] Not an unfinished restore, left alone: ";
    CTempDir elsewhere;
    CVictim victim(elsewhere.Join(L"protected.dll"));
    const std::wstring folderVictim = elsewhere.Join(L"folder");
    ASSERT_TRUE(CreateDirectoryW(folderVictim.c_str(), nullptr));
    std::unique_ptr<CUnixSymlink> link;
    Hold hook;
    const std::wstring kOurs = L"[VAULTKIT] Removed unfinished restore %s";
    struct Case
    {
        std::function<void(const std::wstring&)> plant;
        int32_t result;
        Lines after;  // the staging path put in for %s
    };
    const Case cases[] = {
        {[](const std::wstring& s) { WriteFileBytes(s, "half"), SetFileAttributesW(s.c_str(), FILE_ATTRIBUTE_READONLY); },
         0, {kNormal, kOurs, kRetire, kOnlyOne, kSuccess}},
        {[&](const std::wstring& s) { CreateHardLinkW(s.c_str(), victim.path.c_str(), nullptr); }, 5,
         {kNormal, kLeftAlone + std::wstring(L"%s [2 links]")}},
        {[&](const std::wstring& s) { link = std::make_unique<CUnixSymlink>(s, victim.path); }, 5,
         {kNormal, kLeftAlone + std::wstring(L"%s [redirected to |\\\\?\\") + victim.path + L"|]"}},
        {[&](const std::wstring& s) { link = std::make_unique<CUnixSymlink>(s, folderVictim); }, 5,
         {kNormal, kLeftAlone + std::wstring(L"%s [folder]")}},
        {[](const std::wstring& s) { CreateDirectoryW(s.c_str(), nullptr); }, 5, {kNormal, kLeftAlone + std::wstring(L"%s [folder]")}},
        {[&](const std::wstring& s) {
             WriteFileBytes(s, "tagged");
             hook = std::make_shared<CSysHook<&CSysCalls::GetFileInformationByHandle>>([](HANDLE h, LPBY_HANDLE_FILE_INFORMATION info) {
                 BOOL ok = CSysHook<&CSysCalls::GetFileInformationByHandle>::Next()(h, info);
                 info->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
                 return ok;
             });
         }, 5, {kNormal, kLeftAlone + std::wstring(L"%s [link]")}},
        // Not probed: taken for nothing there, and the create will not go over it.
        {[&](const std::wstring& s) { WriteFileBytes(s, "locked"), hook = std::make_shared<CRefuseOpen>(s, ERROR_ACCESS_DENIED, 1); },
         5, {kNormal, kExists, kRefused + std::wstring(L"give up")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        Store(Item());
        const std::wstring staging = Staging();
        c.plant(staging);
        Lines after = c.after;
        for (std::wstring& line : after)
            if (line.find(L"%s") != std::wstring::npos)
                line.replace(line.find(L"%s"), 2, staging);
        EXPECT_EQ(Run(), c.result);
        EXPECT_EQ(m_Trace.Lines(), Traced(after));
        victim.ExpectUntouched();
        EXPECT_TRUE(FilesIn(folderVictim).empty());
        hook.reset();
        if (c.result == 0) {
            EXPECT_EQ(ReadFileBytes(Destination()), kContent);
            EXPECT_EQ(StagingFiles(), 0u);
            ASSERT_TRUE(DeleteFileW(Destination().c_str()));
            continue;
        }
        EXPECT_EQ(ReadFileBytes(m_Index), m_IndexBytes);
        EXPECT_FALSE(FileExists(Destination()));
        EXPECT_EQ(StagingFiles(), 1u);  // what was planted, still there
        link.reset();
        SetFileAttributesW(staging.c_str(), FILE_ATTRIBUTE_NORMAL);  // a hard link's too
        DeleteFileW(staging.c_str()) || RemoveDirectoryW(staging.c_str());
        SetFileAttributesW(victim.path.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    // A probe that fails for another reason than "not found" finds nothing: the create decides.
    Store(Item());
    CRefuseOpen probe(Staging(), ERROR_SHARING_VIOLATION, 1);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(ReadFileBytes(Destination()), kContent);
}

// The raw import fills the claimed file by its path; what is taken back must be that very
// file. Where the file's data cannot be opened (an encrypted file without its owner's
// key), it is taken back without, and not flushed.
TEST_F(HostileDestination, WhatTheImportFilledMustBeTheFileClaimed)
{
    Store(EfsItem("raw"));
    {
        int asked = 0;
        CSysHook<&CSysCalls::GetFileInformationByHandle> swapped([&](HANDLE h, LPBY_HANDLE_FILE_INFORMATION info) {
            BOOL ok = CSysHook<&CSysCalls::GetFileInformationByHandle>::Next()(h, info);
            if (++asked == 2)
                info->nFileIndexLow ^= 1;
            return ok;
        });
        EXPECT_EQ(Run(), 5);
        EXPECT_EQ(m_Trace.Lines().back(), kRefused + std::wstring(L"not our file |") + Staging() + L"|");
        EXPECT_EQ(ReadFileBytes(m_Payload), m_PayloadBytes);
        EXPECT_FALSE(FileExists(Destination()));
    }
    ASSERT_TRUE(DeleteFileW(Staging().c_str()));  // stands in for "someone else's"
    const std::wstring staging = Staging();
    CSysHook<&CSysCalls::CreateFileW> noData([&](LPCWSTR p, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD d, DWORD f, HANDLE t) {
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
        Store(Item());
        CSysHook<&CSysCalls::GetFinalPathNameByHandleW> final([&](HANDLE h, LPWSTR out, DWORD room, DWORD flags) -> DWORD {
            DWORD n = CSysHook<&CSysCalls::GetFinalPathNameByHandleW>::Next()(h, out, room, flags);
            std::wstring path(out, n);
            path = c.shortName ? L"\\\\?\\" + longFolder + path.substr(4 + m_Folder.size()) : L"\\\\?\\" + path.substr(4);
            for (wchar_t& ch : path)
                ch = c.shortName ? ch : towlower(ch);
            wcscpy(out, path.c_str());
            return DWORD(path.size());
        });
        int lookups = 0;
        CSysHook<&CSysCalls::GetLongPathNameW> spell([&](LPCWSTR asked, LPWSTR out, DWORD) -> DWORD {
            ++lookups;
            EXPECT_EQ(m_Folder + L"\\", asked);
            g_Sys.SetLastError(ERROR_ACCESS_DENIED);
            if (c.lookupFails)
                return 0;
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
