// Traps set in a destination folder: folders made links, files planted under the staging name,
// final paths that differ (what Wine cannot make is played through the table of calls). Every
// refusal keeps the item, leaves nothing of ours and touches nothing that is not ours.
#include "tests/restore/RestoreFixture.h"
#include "tests/support/UnixLinks.h"

namespace {

using HostileDestination = DecryptAndRestore;

// Answers the nth final path asked (from 1) with path ("" = not found); respell changes the others.
CFault FinalPathLie(int nth, std::wstring path, std::function<std::wstring(std::wstring)> respell = nullptr)
{
    return Answer<&CSysCalls::GetFinalPathNameByHandleW>(
        [=, asked = 0](HANDLE h, LPWSTR out, DWORD room, DWORD flags) mutable -> DWORD {
            DWORD n = CSysHook<&CSysCalls::GetFinalPathNameByHandleW>::Next()(h, out, room, flags);
            std::wstring answer = ++asked == nth ? path
                                  : respell      ? respell(std::wstring(out, n))
                                                 : std::wstring(out, n);
            g_Sys.SetLastError(ERROR_PATH_NOT_FOUND);
            wcscpy(out, answer.c_str());
            return DWORD(answer.size());
        });
}

} // namespace

// A folder of the path made a link, at any depth: nothing written through it, nothing "already there".
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
            ASSERT_TRUE(WriteWholeFile(target + L"\\doc.txt", "someone else's file"));
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

// A final path that differs or cannot be had, at the create, the EFS claim, the take-back and after
// the rename: the file goes through its handle. Letter case, prefix and short names are no
// difference; the folder's long spelling is looked up only when the index's does not match.
TEST_F(HostileDestination, WhereTheFileReallyIsDecides)
{
    const std::wstring elsewhere = L"\\\\?\\C:\\windows\\system32\\x.tmp";
    const std::wstring redirected = kRefused + std::wstring(L"redirected to |") + elsewhere + L"|";
    const std::wstring unanswered =
        L"[VAULTKIT] GetFinalPathNameByHandle [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (3)]";
    const auto lie = [](int nth, const std::wstring& path) { return FinalPathLie(nth, path); };
    // The final path spells the folder by a long name the index lacks: lookup 1 finds it, 2 fails;
    // 0: only the letter case differs, no lookup wanted.
    const std::wstring longFolder = L"\\\\?\\C:\\Long Folder Name\\";
    auto respelt = [&](int lookup) {
        return [=] {
            auto respell = [=](std::wstring path) {
                if (lookup)
                    return longFolder + path.substr(path.rfind(L'\\') + 1);
                for (wchar_t& ch : path)
                    ch = towlower(ch);
                return path;
            };
            return Hold(std::make_shared<std::pair<Hold, CSysHook<&CSysCalls::GetLongPathNameW>>>(
                std::piecewise_construct, std::forward_as_tuple(FinalPathLie(0, L"", respell)()),
                std::forward_as_tuple([=](LPCWSTR asked, LPWSTR out, DWORD) -> DWORD {
                    EXPECT_TRUE(lookup && Folder() == asked) << "looked up although the spelling matched";
                    g_Sys.SetLastError(ERROR_ACCESS_DENIED);
                    wcscpy(out, longFolder.c_str() + 4);
                    return lookup == 2 ? 0 : DWORD(longFolder.size() - 4);
                })));
        };
    };
    RunCases({
        {"staging file elsewhere", false, {}, lie(1, elsewhere), 5, {kNormal, redirected}, "", 0, 0},
        {"staging file nowhere", false, {}, lie(1, L""), 5, {kNormal, unanswered}, "", 0, 0},
        {"renamed elsewhere", false, {}, lie(2, elsewhere), 5, {kNormal, redirected}, "", 0, 2},
        {"claimed elsewhere", true, {}, lie(1, elsewhere), 5, {kEfs, redirected}},
        {"taken back elsewhere", true, {}, lie(2, elsewhere), 5, Lines{kEfs} + kEfsReads + Lines{redirected}},
        {"renamed EFS nowhere", true, {}, lie(3, L""), 5, Lines{kEfs} + kEfsReads + Lines{unanswered}},
        {"other letter case", false, {}, respelt(0), 0, Lines{kNormal} + kDone},
        {"short folder name", false, {}, respelt(1), 0, Lines{kNormal} + kDone},
        {"short folder name, no lookup", false, {}, respelt(2), 5,
         {kNormal, kRefused + std::wstring(L"redirected to |") + longFolder + L"%n|"}},
    });
}

// Under the staging name only a plain one-name file in place is our leftover, removed by its handle
// even read-only; links, folders, hard links stay, and so does the item. Unprobed: the create decides.
TEST_F(HostileDestination, OnlyAPlainLeftoverOfOursIsRemoved)
{
    const std::wstring leftAlone = L"[VAULTKIT] Not an unfinished restore, left alone: %s [";
    CTempDir elsewhere;
    const std::wstring victim = elsewhere.Join(L"protected.dll"), folder = elsewhere.Join(L"folder");
    ASSERT_TRUE(WriteWholeFile(victim, "someone else's file") && CreateDirectoryW(folder.c_str(), nullptr));
    auto plant = [&](const char* bytes, std::function<Hold()> also = nullptr) {
        return [=] {
            WriteWholeFile(Staging(), bytes);
            SetFileAttributesW(Staging().c_str(), FILE_ATTRIBUTE_READONLY);
            return also ? also() : Hold();
        };
    };
    auto linkTo = [&](const std::wstring& target) {
        return [=] { return Arrange<CUnixSymlink>(Staging(), target); };
    };
    RunCases({
        {"ours", false, {}, plant("half"), 0,
         Lines{kNormal, L"[VAULTKIT] Removed unfinished restore %s"} + kDone},
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
        {"reparse tag", false, {}, plant("tagged", ReparseTagged), 5, {kNormal, leftAlone + L"link]"}, "", 1},
        {"not probed", false, {},
         plant("locked", [&] { return RefuseOpen(Staging(), ERROR_ACCESS_DENIED, 1); }), 5,
         {kNormal, kExists, kGiveUp}, "", 1},
        {"nothing, not probed", false, {},
         [&] { return RefuseOpen(Staging(), ERROR_SHARING_VIOLATION, 1); }, 0,
         Lines{kNormal} + kDone},
    });
    EXPECT_EQ(ReadFileBytes(victim), "someone else's file");
    EXPECT_TRUE(FilesIn(folder).empty());
}

// What the import filled must be the file claimed; without data access it is taken back unflushed.
TEST_F(HostileDestination, WhatTheImportFilledMustBeTheFileClaimed)
{
    const CFault swapped = Answer<&CSysCalls::GetFileInformationByHandle>(
        [asked = 0](HANDLE h, LPBY_HANDLE_FILE_INFORMATION info) mutable {
            BOOL ok = CSysHook<&CSysCalls::GetFileInformationByHandle>::Next()(h, info);
            if (++asked == 2)
                info->nFileIndexLow ^= 1;
            return ok;
        });
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
        {"no data access", true, {}, noData, 0, Lines{kEfs} + kEfsReads + kDone},
    });
}
