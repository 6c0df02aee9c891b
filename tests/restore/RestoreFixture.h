// The restore tests' fixture: an item built into a quarantine folder of its own, one destination
// folder, the trace captured, a runner for tables of cases, and the shared hooks.
#pragma once
#include "quarantine/QuarItem.h"
#include "quarantine/Vaultkit.h"
#include "restore/DecryptAndRestore.h"
#include "restore/StagingPath.h"
#include "tests/support/SysHooks.h"
#include "tests/support/TestFiles.h"
#include "tools/itembuilder/ItemBuilder.h"
#include <gtest/gtest.h>
#include <climits>
#include <functional>
#include <memory>

using Lines = std::vector<std::wstring>;
inline Lines operator+(Lines a, const Lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Lines kImpersonation = {L"[VAULTKIT]: StartImpersonatingUser",
                              L"[VAULTKIT]: StartImpersonatingUser : invalid pid 0"};
const wchar_t kNormal[] = L"[VAULTKIT] Restore normal file";
const wchar_t kEfs[] = L"[VAULTKIT] Restore EFS file";
const wchar_t kRetire[] = L"[VAULTKIT] Deleting original file";
const wchar_t kOnlyOne[] = L"[VAULTKIT] No duplicates, deleting xml & cvq";
const wchar_t kSuccess[] = L"[VAULTKIT] VAULTKIT_ERROR_SUCCESS";
const wchar_t kExists[] = L"[VAULTKIT] VAULTKIT_ERROR_OUTPUT_FILE_ALREADY_EXISTS";
const wchar_t kRefused[] = L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION ";
const wchar_t kGaveUp[] = L"[VAULTKIT] Failed switching user impersonation";
const std::wstring kGiveUp = kRefused + std::wstring(L"give up");
// The create refused: the user attempt, then the file is made without the security list.
const Lines kCreatePlainly = Lines{L"[VAULTKIT] trying to impersonate user"} + kImpersonation +
                             Lines{L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION !write DACL"};
// What the raw import's callback traces for a payload of one block.
const Lines kEfsReads = {L"[VAULTKIT] --> EFSRawWriteCallback", L"[VAULTKIT] <-- EFSRawWriteCallback",
                         L"[VAULTKIT] --> EFSRawWriteCallback",
                         L"[VAULTKIT] EFSRawWriteCallback: finished reading the file",
                         L"[VAULTKIT] <-- EFSRawWriteCallback"};
const Lines kRetiredLast = {kRetire, kOnlyOne};
const Lines kDone = {kRetire, kOnlyOne, kSuccess};
const std::string kContent = "the file's content, as it was";

// One run of a one-location item, ordinary or EFS ("raw"), read-only, with damages; 0 or 13
// retires the item, any other result keeps it as stored.
struct CRestoreCase
{
    const char* what;
    bool efs;
    std::vector<CItemDamage> damages;
    CFault arrange;
    int32_t result;
    Lines after;                  // after the call line; "%s": the staging path, "%n": its last part
    std::string destination = ""; // what the destination holds afterwards (0: the item's content)
    size_t stagingFiles = 0;      // left in the folder (planted ones that were not ours)
    int runs = -1;                // data runs that reached BackupWrite, where it matters
};

class DecryptAndRestore : public ::testing::Test
{
protected:
    // kContent with a side stream and malformed (dropped) security data, a location per name.
    CItemDescription Item(const std::vector<std::wstring>& names = {L"doc.txt"}) const
    {
        CItemDescription desc;
        desc.content = kContent;
        desc.extraStreams = {{4, 0, L":side", "an alternate stream"}};
        desc.security = "no-sd-ok";
        for (const std::wstring& name : names)
            desc.locations.push_back({name, m_Folder});
        return desc;
    }
    CItemDescription EfsItem(const std::string& content) const
    {
        CItemDescription desc = Item();
        desc.content = content;
        desc.dflags = QUAR_DFLAG_EFS;
        return desc;
    }
    // Builds A1 in the quarantine folder and notes its bytes; the trace starts afresh.
    void Store(const CItemDescription& desc)
    {
        m_Item = desc;
        ASSERT_TRUE(BuildQuarItem(desc, m_Quarantine.Join(L"A1")));
        m_IndexBytes = ReadFileBytes(m_Index);
        m_PayloadBytes = ReadFileBytes(m_Payload);
        m_Trace.Clear();
    }
    int32_t Run(size_t i = 0)
    {
        const CItemLocation& at = m_Item.locations[i];
        return VaultkitDecryptAndRestore(m_Index.c_str(), at.name.c_str(), at.path.c_str());
    }
    // The trace of a run of location i: its call line, then after.
    Lines Traced(const Lines& after, size_t i = 0) const
    {
        const CItemLocation& at = m_Item.locations[i];
        return Lines{L"[VAULTKIT] VaultkitDecryptAndRestore(|" + m_Index + L"|, |" + at.name +
                     L"|, |" + at.path + L"|, |(null)|, 0, 0)"} + after;
    }
    std::wstring Folder(size_t i = 0) const
    {
        std::wstring folder = m_Item.locations[i].path;
        return folder.back() == L'\\' ? folder : folder + L"\\";
    }
    std::wstring Destination(size_t i = 0) const { return Folder(i) + m_Item.locations[i].name; }
    // The path the restore of location i writes to before the file is verified.
    std::wstring Staging(size_t i = 0) const
    {
        wchar_t staging[kStagingPathChars] = {};
        MakeStagingPath(Folder(i).c_str(), m_Item.locations[i].name.c_str(), staging, kStagingPathChars);
        return staging;
    }
    size_t StagingFiles() const
    {
        size_t count = 0;
        for (const std::wstring& name : FilesIn(m_Folder))
            count += name.compare(0, 3, L"~vk") == 0;
        return count;
    }
    // The quarantine as stored and no staging file left.
    void ExpectItemKept()
    {
        EXPECT_EQ(ReadFileBytes(m_Index), m_IndexBytes);
        EXPECT_EQ(ReadFileBytes(m_Payload), m_PayloadBytes);
        EXPECT_EQ(StagingFiles(), 0u);
    }
    void ExpectRetired()
    {
        EXPECT_FALSE(PathExists(m_Index));
        EXPECT_FALSE(PathExists(m_Payload));
    }
    // Counts the data runs reaching BackupWrite: all calls but the first (security) and the release.
    static Hold CountRuns(size_t& runs)
    {
        using Hook = CSysHook<&CSysCalls::BackupWrite>;
        return Arrange<Hook>([&runs, calls = 0](HANDLE h, LPBYTE b, DWORD n, LPDWORD w, BOOL abort, BOOL sec,
                                                LPVOID* ctx) mutable {
            runs += !abort && calls++ > 0;
            return Hook::Next()(h, b, n, w, abort, sec, ctx);
        });
    }
    // Every file looked at by handle shows a reparse tag (a link Wine cannot make).
    static Hold ReparseTagged()
    {
        using Hook = CSysHook<&CSysCalls::GetFileInformationByHandle>;
        return Arrange<Hook>([](HANDLE h, LPBY_HANDLE_FILE_INFORMATION info) {
            BOOL ok = Hook::Next()(h, info);
            info->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
            return ok;
        });
    }
    void RunCases(const std::vector<CRestoreCase>& cases);

    CTempDir m_Quarantine;
    CTempDir m_Dir;
    std::wstring m_Folder = m_Dir.Path();
    std::wstring m_Index = m_Quarantine.Join(L"A1.xml");
    std::wstring m_Payload = m_Quarantine.Join(L"A1.cvq");
    CItemDescription m_Item;
    std::string m_IndexBytes;
    std::string m_PayloadBytes;
    CDebugCapture m_Trace;
};

inline void DecryptAndRestore::RunCases(const std::vector<CRestoreCase>& cases)
{
    for (const CRestoreCase& c : cases) {
        SCOPED_TRACE(c.what);
        CItemDescription item = c.efs ? EfsItem("raw") : Item();
        item.attr = FILE_ATTRIBUTE_READONLY;  // a file of ours must go all the same
        item.damages = c.damages;
        Store(item);
        const std::wstring staging = Staging();
        size_t runs = 0;
        {
            Hold arranged = c.arrange ? c.arrange() : nullptr;
            Hold count = CountRuns(runs);  // above the case's hooks: failed calls count too
            EXPECT_EQ(Run(), c.result);
        }
        const std::pair<std::wstring, std::wstring> marks[] = {
            {L"%s", staging}, {L"%n", staging.substr(staging.rfind(L'\\') + 1)}};
        Lines after = c.after;
        for (std::wstring& line : after)
            for (const auto& [mark, text] : marks)
                if (line.find(mark) != std::wstring::npos)
                    line.replace(line.find(mark), 2, text);
        EXPECT_EQ(m_Trace.Lines(), Traced(after));
        EXPECT_EQ(ReadFileBytes(Destination()), c.result == 0 ? item.content : c.destination);
        EXPECT_EQ(StagingFiles(), c.stagingFiles);
        if (c.runs >= 0) {
            EXPECT_EQ(runs, size_t(c.runs));
        }
        const bool retired = c.result == 0 || c.result == 13;
        EXPECT_EQ(ReadFileBytes(m_Index), retired ? "" : m_IndexBytes);
        EXPECT_EQ(ReadFileBytes(m_Payload), retired ? "" : m_PayloadBytes);
        for (const std::wstring& left : {Destination(), staging}) {
            SetFileAttributesW(left.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!DeleteFileW(left.c_str()))
                RemoveDirectoryW(left.c_str());
        }
    }
}

// The steps done by handle ("compress", "attributes N", "flush", "rename", "remove"); one can fail.
class CHandleSteps
{
public:
    explicit CHandleSteps(const std::string& refused = std::string(), DWORD error = 0)
        : m_sRefused(refused), m_dwError(error)
    {
    }
    std::vector<std::string> m_Steps;
    std::vector<HANDLE> m_Handles;
    std::wstring m_sRenamedTo;
    bool m_bReplaced = true;  // a rename asked to replace, or had a root folder

private:
    bool Refuse(const std::string& step, HANDLE h)
    {
        m_Steps.push_back(step);
        m_Handles.push_back(h);
        if (m_sRefused.empty() || step.compare(0, m_sRefused.size(), m_sRefused) != 0)
            return false;
        g_Sys.SetLastError(m_dwError);
        return true;
    }
    std::string m_sRefused;
    DWORD m_dwError;
    CSysHook<&CSysCalls::SetFileInformationByHandle> m_info{
        [this](HANDLE h, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size) -> BOOL {
            std::string step = "remove";
            if (kind == FileBasicInfo)
                step = "attributes " + std::to_string(static_cast<FILE_BASIC_INFO*>(info)->FileAttributes);
            if (kind == FileRenameInfo) {
                auto* rename = static_cast<FILE_RENAME_INFO*>(info);
                m_sRenamedTo.assign(rename->FileName, rename->FileNameLength / sizeof(wchar_t));
                m_bReplaced = rename->ReplaceIfExists || rename->RootDirectory;
                step = "rename";
            }
            return !Refuse(step, h) &&
                   CSysHook<&CSysCalls::SetFileInformationByHandle>::Next()(h, kind, info, size);
        }};
    CSysHook<&CSysCalls::FlushFileBuffers> m_flush{[this](HANDLE h) -> BOOL {
        return !Refuse("flush", h) && CSysHook<&CSysCalls::FlushFileBuffers>::Next()(h);
    }};
    CSysHook<&CSysCalls::DeviceIoControl> m_compress{
        [this](HANDLE h, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) -> BOOL {
            return !Refuse("compress", h);
        }};
};

// Fails the opens of one path (every one, or only the first ones).
inline Hold RefuseOpen(const std::wstring& path, DWORD error, int first = INT_MAX)
{
    return Arrange<CSysHook<&CSysCalls::CreateFileW>>(
        [=](LPCWSTR p, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD c, DWORD f, HANDLE t) mutable {
            if (path == p && first-- > 0) {
                g_Sys.SetLastError(error);
                return INVALID_HANDLE_VALUE;
            }
            return CSysHook<&CSysCalls::CreateFileW>::Next()(p, a, s, sa, c, f, t);
        });
}
