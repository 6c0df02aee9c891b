// The restore on a machine where the owner of a destination folder has set traps: folders
// turned into links, files planted under the staging name, final paths that differ.
// Links are Unix symbolic links in the prefix, which Wine follows like links; what Wine
// cannot make (junctions, mount points, reparse tags) is played through the table of
// calls. Every refusal keeps the item as stored, leaves nothing of ours anywhere and
// touches nothing that is not ours. What a location may name is LocationRulesTest's.
#include "tests/restore/RestoreFixture.h"
#include "tests/support/UnixLinks.h"

namespace {

using HostileDestination = DecryptAndRestore;

// Answers the nth question for a final path (counted from 1) with path, or with nothing
// (0, "path not found") when path is empty; a later question can be changed by respell.
struct CFinalPathLie
{
    CFinalPathLie(int nth, std::wstring path, std::function<std::wstring(std::wstring)> respell = nullptr)
        : m_Hook([=, asked = 0](HANDLE h, LPWSTR out, DWORD room, DWORD flags) mutable -> DWORD {
              DWORD n = CSysHook<&CSysCalls::GetFinalPathNameByHandleW>::Next()(h, out, room, flags);
              std::wstring answer = ++asked == nth ? path
                                    : respell      ? respell(std::wstring(out, n))
                                                   : std::wstring(out, n);
              g_Sys.SetLastError(ERROR_PATH_NOT_FOUND);
              wcscpy(out, answer.c_str());
              return DWORD(answer.size());
          })
    {
    }
    CSysHook<&CSysCalls::GetFinalPathNameByHandleW> m_Hook;
};

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
    for (const Case& c :
         {Case{0, false, false}, {1, true, false}, {2, false, false}, {2, false, true}, {2, true, true}}) {
        SCOPED_TRACE(c.level * 100 + c.efs * 10 + c.fileBehind);
        CTempDir here, there;
        std::wstring path = here.Path(), target = there.Path(), linkAt, linkTo;
        for (int i = 0; i < 3; ++i) {
            path += std::wstring(L"\\") + L"tml"[i];
            target += std::wstring(L"\\") + L"tml"[i];
            ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
            if (i < c.level) {
                ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
            }
            if (i == c.level)
                linkAt = path, linkTo = target;
        }
        if (c.fileBehind) {
            ASSERT_TRUE(WriteFileBytes(target + L"\\doc.txt", "someone else's file"));
        }
        CUnixSymlink link(linkAt, linkTo);
        ASSERT_TRUE(link.Made());
        CItemDescription item = c.efs ? EfsItem("raw") : Item();
        item.locations = {{L"doc.txt", path}};
        Store(item);
        size_t runs = 0;
        Hold count = CountRuns(runs);
        CSysRecorder<&CSysCalls::OpenEncryptedFileRawW> imports;

        EXPECT_EQ(Run(), 5);
        std::wstring leaf = c.fileBehind ? L"doc.txt" : Staging().substr(Staging().rfind(L'\\') + 1);
        EXPECT_EQ(m_Trace.Lines(),
                  Traced({c.efs ? kEfs : kNormal, kRefused + std::wstring(L"redirected to |\\\\?\\") +
                                                      target + L"\\" + leaf + L"|"}));
        EXPECT_EQ(runs + imports.Count(), 0u);
        ExpectItemKept();
        EXPECT_EQ(FilesIn(target), c.fileBehind ? Lines{L"doc.txt"} : Lines{});
        if (c.fileBehind) {
            EXPECT_EQ(ReadFileBytes(target + L"\\doc.txt"), "someone else's file");
        }
    }
}

// What only Windows makes (a junction or mount point on the way, a volume without a
// letter) shows as a final path that differs or cannot be had: at the staging file's
// creation, at the EFS claim, after the file is taken back from the import, and after the
// rename, which resolves the destination by its path. The file goes each time, through its
// handle, from wherever it is. Letter case, the long-path prefix and short names are no
// difference; the folder's long spelling is looked up only when the index's does not match.
TEST_F(HostileDestination, WhereTheFileReallyIsDecides)
{
    const std::wstring elsewhere = L"\\\\?\\C:\\windows\\system32\\x.tmp";
    const std::wstring redirected = kRefused + std::wstring(L"redirected to |") + elsewhere + L"|";
    const std::wstring unanswered =
        L"[VAULTKIT] GetFinalPathNameByHandle [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (3)]";
    auto lie = [](int nth, std::wstring path) { return [=] { return Arrange<CFinalPathLie>(nth, path); }; };
    // The final path spells the destination folder by a long name the index lacks; its long
    // spelling can be looked up, or not.
    const std::wstring longFolder = L"\\\\?\\C:\\Long Folder Name\\";
    auto shortName = [&](bool lookupFails) {
        return [=] {
            auto respell = [=](std::wstring path) { return longFolder + path.substr(path.rfind(L'\\') + 1); };
            return Hold(std::make_shared<std::pair<CFinalPathLie, CSysHook<&CSysCalls::GetLongPathNameW>>>(
                std::piecewise_construct, std::forward_as_tuple(0, L"", respell),
                std::forward_as_tuple([=](LPCWSTR asked, LPWSTR out, DWORD) -> DWORD {
                    EXPECT_EQ(Folder(), asked);
                    g_Sys.SetLastError(ERROR_ACCESS_DENIED);
                    wcscpy(out, longFolder.c_str() + 4);
                    return lookupFails ? 0 : DWORD(longFolder.size() - 4);
                })));
        };
    };
    auto otherCase = [&] {
        return Hold(std::make_shared<std::pair<CFinalPathLie, CSysHook<&CSysCalls::GetLongPathNameW>>>(
            std::piecewise_construct, std::forward_as_tuple(0, L"", [](std::wstring path) {
                for (wchar_t& ch : path)
                    ch = towlower(ch);
                return path;
            }),
            std::forward_as_tuple([](LPCWSTR, LPWSTR, DWORD) -> DWORD {
                ADD_FAILURE() << "looked up although the spelling matched";
                return 0;
            })));
    };
    RunCases({
        {"staging file elsewhere", false, {}, lie(1, elsewhere), 5, {kNormal, redirected}, "", 0, 0},
        {"staging file nowhere", false, {}, lie(1, L""), 5, {kNormal, unanswered}, "", 0, 0},
        {"renamed elsewhere", false, {}, lie(2, elsewhere), 5, {kNormal, redirected}, "", 0, 2},
        {"claimed elsewhere", true, {}, lie(1, elsewhere), 5, {kEfs, redirected}},
        {"taken back elsewhere", true, {}, lie(2, elsewhere), 5, Lines{kEfs} + kEfsReads + Lines{redirected}},
        {"renamed EFS nowhere", true, {}, lie(3, L""), 5, Lines{kEfs} + kEfsReads + Lines{unanswered}},
        {"other letter case", false, {}, otherCase, 0, {kNormal, kRetire, kOnlyOne, kSuccess}},
        {"short folder name", false, {}, shortName(false), 0, {kNormal, kRetire, kOnlyOne, kSuccess}},
        {"short folder name, no lookup", false, {}, shortName(true), 5,
         {kNormal, kRefused + std::wstring(L"redirected to |") + longFolder + L"%n|"}},
    });
}

// Under the staging name only a plain file with one name, at the intended place, is an
// unfinished restore of ours: removed through its own handle, read-only or not. A link of
// any kind (reparse tags played through the table), a folder or a file with other names
// stays as it is, and so does the item. A name that cannot be probed is no leftover: the
// create, which never goes over anything, decides.
TEST_F(HostileDestination, OnlyAPlainLeftoverOfOursIsRemoved)
{
    const std::wstring leftAlone = L"[VAULTKIT] Not an unfinished restore, left alone: %s [";
    CTempDir elsewhere;
    const std::wstring victim = elsewhere.Join(L"protected.dll"), folder = elsewhere.Join(L"folder");
    ASSERT_TRUE(WriteFileBytes(victim, "someone else's file") && CreateDirectoryW(folder.c_str(), nullptr));
    auto plant = [&](const char* bytes, std::function<Hold()> also = nullptr) {
        return [=] {
            WriteFileBytes(Staging(), bytes);
            SetFileAttributesW(Staging().c_str(), FILE_ATTRIBUTE_READONLY);
            return also ? also() : Hold();
        };
    };
    auto linkTo = [&](const std::wstring& target) {
        return [=] { return Arrange<CUnixSymlink>(Staging(), target); };
    };
    auto tagged = [] {
        return Arrange<CSysHook<&CSysCalls::GetFileInformationByHandle>>(
            [](HANDLE h, LPBY_HANDLE_FILE_INFORMATION info) {
                BOOL ok = CSysHook<&CSysCalls::GetFileInformationByHandle>::Next()(h, info);
                info->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
                return ok;
            });
    };
    const Lines done = {kRetire, kOnlyOne, kSuccess};
    RunCases({
        {"ours", false, {}, plant("half"), 0,
         Lines{kNormal, L"[VAULTKIT] Removed unfinished restore %s"} + done},
        {"ours, not removable", false, {},
         plant("half", [] { return Arrange<CHandleSteps>("remove", ERROR_ACCESS_DENIED); }), 5,
         {kNormal, L"[VAULTKIT] Cannot remove unfinished restore %s [5]"}, "", 1},
        {"hard link", false, {}, [&] {
             CreateHardLinkW(Staging().c_str(), victim.c_str(), nullptr);
             return Hold();
         }, 5,
         {kNormal, leftAlone + L"2 links]"}, "", 1},
        {"file link", false, {}, linkTo(victim), 5,
         {kNormal, leftAlone + L"redirected to |\\\\?\\" + victim + L"|]"}},
        {"folder link", false, {}, linkTo(folder), 5, {kNormal, leftAlone + L"folder]"}},
        {"folder", false, {}, [&] {
             CreateDirectoryW(Staging().c_str(), nullptr);
             return Hold();
         }, 5,
         {kNormal, leftAlone + L"folder]"}, "", 1},
        {"reparse tag", false, {}, plant("tagged", tagged), 5, {kNormal, leftAlone + L"link]"}, "", 1},
        {"not probed", false, {},
         plant("locked", [&] { return Arrange<CRefuseOpen>(Staging(), ERROR_ACCESS_DENIED, 1); }), 5,
         {kNormal, kExists, kGiveUp}, "", 1},
        {"nothing, not probed", false, {},
         [&] { return Arrange<CRefuseOpen>(Staging(), ERROR_SHARING_VIOLATION, 1); }, 0,
         Lines{kNormal} + done},
    });
    EXPECT_EQ(ReadFileBytes(victim), "someone else's file");
    EXPECT_TRUE(FilesIn(folder).empty());
}

// The raw import fills the claimed file by its path; what is taken back must be that very
// file. Where the file's data cannot be opened (an encrypted file without its owner's
// key), it is taken back without, and not flushed.
TEST_F(HostileDestination, WhatTheImportFilledMustBeTheFileClaimed)
{
    auto swapped = [] {
        return Arrange<CSysHook<&CSysCalls::GetFileInformationByHandle>>(
            [asked = 0](HANDLE h, LPBY_HANDLE_FILE_INFORMATION info) mutable {
                BOOL ok = CSysHook<&CSysCalls::GetFileInformationByHandle>::Next()(h, info);
                if (++asked == 2)
                    info->nFileIndexLow ^= 1;
                return ok;
            });
    };
    auto noData = [&] {
        return Hold(std::make_shared<
                    std::pair<CSysHook<&CSysCalls::CreateFileW>, CSysHook<&CSysCalls::FlushFileBuffers>>>(
            [staging = Staging()](LPCWSTR p, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD d, DWORD f,
                                  HANDLE t) {
                if (staging != p || !(a & FILE_WRITE_DATA) || d != OPEN_EXISTING)
                    return CSysHook<&CSysCalls::CreateFileW>::Next()(p, a, s, sa, d, f, t);
                g_Sys.SetLastError(ERROR_ACCESS_DENIED);
                return INVALID_HANDLE_VALUE;
            },
            [](HANDLE) -> BOOL {
                ADD_FAILURE() << "flushed";
                return TRUE;
            }));
    };
    RunCases({
        {"another file", true, {}, swapped, 5,
         Lines{kEfs} + kEfsReads + Lines{kRefused + std::wstring(L"not our file |%s|")}, "", 1},
        {"no data access", true, {}, noData, 0, Lines{kEfs} + kEfsReads + Lines{kRetire, kOnlyOne, kSuccess}},
    });
}
