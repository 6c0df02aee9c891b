// The fixture of the restore operation's tests: an item stored in a quarantine folder of
// its own, one destination folder, the trace captured, and the hooks the tests share.
#pragma once
#include "quarantine/QuarItem.h"
#include "quarantine/Vaultkit.h"
#include "restore/DecryptAndRestore.h"
#include "restore/StagingPath.h"
#include "tests/restore/StoredItem.h"
#include "tests/support/SysHooks.h"
#include "tests/support/TestFiles.h"
#include <gtest/gtest.h>
#include <climits>

const Lines kImpersonation = {L"[VAULTKIT]: StartImpersonatingUser",
                              L"[VAULTKIT]: StartImpersonatingUser : invalid pid 0"};
const wchar_t kNormal[] = L"[VAULTKIT] Restore normal file";
const wchar_t kEfs[] = L"[VAULTKIT] Restore EFS file";
const wchar_t kRetire[] = L"[VAULTKIT] Deleting original file";
const wchar_t kOnlyOne[] = L"[VAULTKIT] No duplicates, deleting xml & cvq";
const wchar_t kSuccess[] = L"[VAULTKIT] VAULTKIT_ERROR_SUCCESS";
const wchar_t kUnreadable[] = L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_READ_SOURCE";
const wchar_t kExists[] = L"[VAULTKIT] VAULTKIT_ERROR_OUTPUT_FILE_ALREADY_EXISTS";
const wchar_t kGaveUp[] = L"[VAULTKIT] Failed switching user impersonation";
const Lines kCannotCreate = Lines{L"[VAULTKIT] trying to impersonate user"} + kImpersonation +
                            Lines{L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION !write DACL",
                                  L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION give up"};

const CTestStream kMain = {1, L"", "the file's content, as it was"};
const CTestStream kSide = {4, L":side", "an alternate stream"};

class DecryptAndRestore : public ::testing::Test
{
protected:
    // Stores an item at A1.xml with one location per name, all in the destination folder.
    void Store(CTestItem item, const std::vector<std::wstring>& names = {L"doc.txt"})
    {
        for (const std::wstring& name : names) {
            CTestLocation at;
            at.name = name;
            at.path = m_Folder;
            at.secStr = Base64Text(RecordHeader(3, 8, 0) + "no-sd-ok");
            item.files.push_back(at);
        }
        StoreAs(item);
    }
    void StoreAs(const CTestItem& item)
    {
        m_Item = item;
        StoreItem(m_Index, item);
        m_IndexBytes = ReadFileBytes(m_Index);
        m_PayloadBytes = ReadFileBytes(m_Payload);
        m_Trace.Clear();
    }
    int32_t Run(size_t i = 0)
    {
        const CTestLocation& at = m_Item.files[i];
        return VaultkitDecryptAndRestore(m_Index.c_str(), at.name.c_str(), at.path.c_str());
    }
    std::wstring Call(size_t i = 0) const
    {
        const CTestLocation& at = m_Item.files[i];
        return L"[VAULTKIT] VaultkitDecryptAndRestore(|" + m_Index + L"|, |" + at.name + L"|, |" +
               at.path + L"|, |(null)|, 0, 0)";
    }
    std::wstring Destination(size_t i = 0) const { return m_Dir.Join(m_Item.files[i].name); }
    // A failure before the location is retired: the quarantine as it was, no file of ours.
    void ExpectNothingLost(size_t i = 0)
    {
        EXPECT_EQ(ReadFileBytes(m_Index), m_IndexBytes);
        EXPECT_EQ(ReadFileBytes(m_Payload), m_PayloadBytes);
        EXPECT_FALSE(FileExists(Destination(i)));
        EXPECT_EQ(StagingFiles(), 0u);
    }
    size_t StagingFiles() const
    {
        size_t count = 0;
        for (const std::wstring& name : FilesIn(m_Folder))
            count += name.compare(0, 3, L"~vk") == 0;
        return count;
    }
    // The path the restore of location i writes to before the file is verified.
    std::wstring Staging(size_t i = 0) const
    {
        wchar_t staging[kStagingPathChars];
        std::wstring folder = m_Item.files[i].path;
        if (folder.back() != L'\\')
            folder += L'\\';
        EXPECT_TRUE(MakeStagingPath(folder.c_str(), m_Item.files[i].name.c_str(), staging,
                                    kStagingPathChars));
        return staging;
    }
    void ExpectRetired()
    {
        EXPECT_FALSE(FileExists(m_Index));
        EXPECT_FALSE(FileExists(m_Payload));
    }

    CTempDir m_Quarantine;
    CTempDir m_Dir;
    std::wstring m_Folder = m_Dir.Path();
    std::wstring m_Index = m_Quarantine.Join(L"A1.xml");
    std::wstring m_Payload = m_Quarantine.Join(L"A1.cvq");
    CTestItem m_Item;
    std::string m_IndexBytes;
    std::string m_PayloadBytes;
    CDebugCapture m_Trace;
};

// Free space as GetDiskFreeSpaceExW reports it for the destination folder.
class CFreeSpace
{
public:
    explicit CFreeSpace(uint64_t total) : m_ullFree(total) {}
    uint64_t m_ullFree;
    std::vector<std::wstring> m_Folders;

private:
    CSysHook<&CSysCalls::GetDiskFreeSpaceExW> m_hook{
        [this](LPCWSTR folder, PULARGE_INTEGER caller, PULARGE_INTEGER total, PULARGE_INTEGER free) {
            m_Folders.push_back(folder);
            caller->QuadPart = ~0ull;  // the quota view is not the one that counts
            total->QuadPart = ~0ull;
            free->QuadPart = m_ullFree;
            return TRUE;
        }};
};

// Fails the n-th read of the payload file; reads of other files (the index) go through.
class CPayloadReadFault
{
public:
    CPayloadReadFault(const std::wstring& payload, int nth, DWORD error)
        : m_open([this, payload](LPCWSTR path, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD c,
                                 DWORD f, HANDLE t) {
              HANDLE h = CSysHook<&CSysCalls::CreateFileW>::Next()(path, a, s, sa, c, f, t);
              if (payload == path)
                  m_hPayload = h;
              return h;
          }),
          m_read([this, nth, error](HANDLE h, LPVOID buffer, DWORD n, LPDWORD got, LPOVERLAPPED o) {
              if (h == m_hPayload && ++m_nReads == nth) {
                  g_Sys.SetLastError(error);
                  return FALSE;
              }
              return CSysHook<&CSysCalls::ReadFile>::Next()(h, buffer, n, got, o);
          })
    {
    }

private:
    HANDLE m_hPayload = nullptr;
    int m_nReads = 0;
    CSysHook<&CSysCalls::CreateFileW> m_open;
    CSysHook<&CSysCalls::ReadFile> m_read;
};

inline int64_t FileTimeOf(const FILETIME& ft)
{
    return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

// What is done to open files through their handles, in order: "compress", "attributes N",
// "flush", "rename <name>", "remove"; one kind of step can be made to fail.
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
        if (step.compare(0, m_sRefused.size(), m_sRefused) != 0 || m_sRefused.empty())
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
            if (Refuse(step, h))
                return FALSE;
            return CSysHook<&CSysCalls::SetFileInformationByHandle>::Next()(h, kind, info, size);
        }};
    CSysHook<&CSysCalls::FlushFileBuffers> m_flush{[this](HANDLE h) -> BOOL {
        return Refuse("flush", h) ? FALSE : CSysHook<&CSysCalls::FlushFileBuffers>::Next()(h);
    }};
    CSysHook<&CSysCalls::DeviceIoControl> m_compress{
        [this](HANDLE h, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) -> BOOL {
            return !Refuse("compress", h);
        }};
};

// Fails the opens of one path (every one, or only while `first` opens are left).
class CRefuseOpen
{
public:
    CRefuseOpen(const std::wstring& path, DWORD error, int first = INT_MAX)
        : m_hook([this, path, error, first](LPCWSTR p, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa,
                                           DWORD c, DWORD f, HANDLE t) {
              if (path == p && m_nRefused < first) {
                  ++m_nRefused;
                  g_Sys.SetLastError(error);
                  return INVALID_HANDLE_VALUE;
              }
              return CSysHook<&CSysCalls::CreateFileW>::Next()(p, a, s, sa, c, f, t);
          })
    {
    }
    int m_nRefused = 0;

private:
    CSysHook<&CSysCalls::CreateFileW> m_hook;
};

