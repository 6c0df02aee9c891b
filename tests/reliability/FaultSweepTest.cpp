// The fault sweep: a quarantine of several items is restored location by location, once
// to count every call the restore makes, then once per call with exactly that call
// failing. After each run every item must be whole in one of two ways: each location that
// left the index has its verified file at the destination, and while a location is still
// listed its index reads and its payload is as stored; no part-written file is left at a
// destination, a file that stood there before is untouched, and nothing else is left in
// the quarantine folder.
#include "quarantine/QuarItem.h"
#include "restore/DecryptAndRestore.h"
#include "tests/support/SysHooks.h"
#include "tests/support/TestFiles.h"
#include "tools/itembuilder/ItemBuilder.h"
#include <gtest/gtest.h>
#include <set>

namespace {

template <auto Slot>
using Ret = typename SysThunk<Slot>::Ret;

// Hooks on every table row that the restore operation and the quarantine store call and
// that can fail. Armed with k, the k-th call fails with one of the two errors its row meets
// in the field (a virus scanner or another process holding the file, missing rights, a
// full disk, a bad sector, a volume that cannot compress), taken in turn; 0 only counts.
// Closes and the release of a backup context still happen when they "fail", so a failed
// run leaks nothing that would disturb the next one.
struct CFaultInjector
{
    explicit CFaultInjector(size_t failAt) : m_nFailAt(failAt) {}
    size_t m_nFailAt;
    size_t m_nCalls = 0;
    const char* m_pFailedRow = nullptr;
    DWORD m_dwFailedError = 0;

    // Counts the call; true, with the row's error as the last error, when it is to fail.
    bool Due(const char* row, DWORD error1, DWORD error2)
    {
        if (++m_nCalls != m_nFailAt)
            return false;
        m_pFailedRow = row;
        m_dwFailedError = m_nCalls % 2 ? error2 : error1;
        g_Sys.SetLastError(m_dwFailedError);
        return true;
    }
    // Runs the call; after an injected failure its own last error does not count.
    template <auto Slot, class... A>
    static Ret<Slot> CallKeepingError(bool failed, A... args)
    {
        DWORD error = g_Sys.GetLastError();
        Ret<Slot> result = CSysHook<Slot>::Next()(args...);
        if (failed)
            g_Sys.SetLastError(error);
        return result;
    }

// A failing call returns the row's failure value without running.
#define SWEEP_FAIL(row, failValue, error1, error2)                                                           \
    CSysHook<&CSysCalls::row> m_##row{[this](auto... args) -> Ret<&CSysCalls::row> {                         \
        return Due(#row, error1, error2) ? failValue : CSysHook<&CSysCalls::row>::Next()(args...);           \
    }};
    SWEEP_FAIL(CreateFileW, INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION)
    SWEEP_FAIL(ReadFile, FALSE, ERROR_READ_FAULT, ERROR_LOCK_VIOLATION)
    SWEEP_FAIL(WriteFile, FALSE, ERROR_DISK_FULL, ERROR_WRITE_FAULT)
    SWEEP_FAIL(FlushFileBuffers, FALSE, ERROR_DISK_FULL, ERROR_WRITE_FAULT)
    SWEEP_FAIL(GetFileSizeEx, FALSE, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED)
    SWEEP_FAIL(DeleteFileW, FALSE, ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED)
    SWEEP_FAIL(MoveFileExW, FALSE, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION)
    SWEEP_FAIL(GetFileAttributesW, INVALID_FILE_ATTRIBUTES, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED)
    SWEEP_FAIL(SetFileTime, FALSE, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED)
    SWEEP_FAIL(GetDiskFreeSpaceExW, FALSE, ERROR_ACCESS_DENIED, ERROR_NOT_READY)
    SWEEP_FAIL(DeviceIoControl, FALSE, ERROR_INVALID_FUNCTION, ERROR_ACCESS_DENIED)
    SWEEP_FAIL(SetKernelObjectSecurity, FALSE, ERROR_ACCESS_DENIED, ERROR_PRIVILEGE_NOT_HELD)
    SWEEP_FAIL(GetFileInformationByHandle, FALSE, ERROR_ACCESS_DENIED, ERROR_INVALID_FUNCTION)
    SWEEP_FAIL(GetFinalPathNameByHandleW, 0, ERROR_PATH_NOT_FOUND, ERROR_NOT_ENOUGH_MEMORY)
    SWEEP_FAIL(SetFileInformationByHandle, FALSE, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION)
    SWEEP_FAIL(GetLongPathNameW, 0, ERROR_ACCESS_DENIED, ERROR_PATH_NOT_FOUND)
    // The raw EFS calls answer with their error code.
    SWEEP_FAIL(OpenEncryptedFileRawW, m_dwFailedError, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION)
    SWEEP_FAIL(WriteEncryptedFileRaw, m_dwFailedError, ERROR_DISK_FULL, ERROR_ACCESS_DENIED)
#undef SWEEP_FAIL
    // The abort call releases the backup context, and a close that fails has still closed
    // the handle (a lost delayed write): both run even when they are to fail.
    CSysHook<&CSysCalls::BackupWrite> m_BackupWrite{
        [this](HANDLE h, LPBYTE b, DWORD n, LPDWORD written, BOOL abort, BOOL security, LPVOID* ctx) -> BOOL {
            if (!Due("BackupWrite", ERROR_DISK_FULL, ERROR_ACCESS_DENIED))
                return CSysHook<&CSysCalls::BackupWrite>::Next()(h, b, n, written, abort, security, ctx);
            if (abort)
                CallKeepingError<&CSysCalls::BackupWrite>(true, h, b, n, written, abort, security, ctx);
            return FALSE;
        }};
    CSysHook<&CSysCalls::CloseHandle> m_CloseHandle{[this](HANDLE h) -> BOOL {
        bool fail = Due("CloseHandle", ERROR_DISK_FULL, ERROR_DISK_FULL);
        return CallKeepingError<&CSysCalls::CloseHandle>(fail, h) && !fail;
    }};
};

std::string Filler(size_t n, uint32_t seed)
{
    std::string s(n, '\0');
    for (char& c : s) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    return s;
}

// A quarantine folder Q and two destination folders, filled afresh for every run:
// A1 one location, a side stream and security data; B2 two locations in two folders (one
// given with a backslash at its end), a record larger than the writer's buffer, read-only,
// archive and compressed; C3 an EFS item; D4 a location where a file already stands.
class CSweepWorld
{
public:
    CSweepWorld()
    {
        for (const wchar_t* sub : {L"Q", L"D1", L"D2"})
            CreateDirectoryW(m_Dir.Join(sub).c_str(), nullptr);
        const std::string security = std::string("\x01\x00\x04\x80", 4) + std::string(16, '\0');
        const std::wstring d1 = m_Dir.Join(L"D1"), d2 = m_Dir.Join(L"D2");
        m_Items.resize(4);
        m_Items[0] = {L"A1", Filler(3000, 1), {{L"one.txt", d1}}};
        m_Items[0].desc.extraStreams = {{4, 0, L":side", "an alternate stream"}};
        m_Items[0].desc.security = security;
        m_Items[1] = {L"B2", Filler(70000, 2), {{L"two.bin", d1 + L"\\"}, {L"two.bin", d2}}};
        m_Items[1].desc.security = security;
        m_Items[1].desc.attr = 0x821;
        m_Items[2] = {L"C3", Filler(5000, 3), {{L"efs.dat", d2}}};
        m_Items[2].desc.dflags = QUAR_DFLAG_EFS;
        m_Items[3] = {L"D4", "restored content", {{L"there.txt", d1}}, "was here first"};
        for (CItem& item : m_Items) {
            EXPECT_TRUE(BuildQuarItem(item.desc, Quarantined(item, L"")));
            item.index = ReadFileBytes(Quarantined(item, L".xml"));
            item.payload = ReadFileBytes(Quarantined(item, L".cvq"));
            if (!item.standing.empty()) {
                EXPECT_TRUE(WriteFileBytes(Destination(item.desc.locations[0]), item.standing));
            }
        }
    }

    // Every location of every item, in order, as the restore driver would ask; the results.
    std::string RestoreAll() const
    {
        std::string results;
        for (const CItem& item : m_Items)
            for (const CItemLocation& at : item.desc.locations)
                results += (results.empty() ? "" : ",") +
                           std::to_string(VaultkitDecryptAndRestore(Quarantined(item, L".xml").c_str(),
                                                                    at.name.c_str(), at.path.c_str()));
        return results;
    }

    // What is wrong after a run. A staging file is allowed when its own removal failed; a
    // complete copy at a location that is still listed, and a payload whose index is gone,
    // are allowed unless everything was to be restored.
    std::vector<std::string> Check(bool deletionFailed, bool allRestored) const
    {
        std::vector<std::string> wrong;
        std::set<std::wstring> inQuarantine;
        for (const CItem& item : m_Items)
            CheckItem(item, allRestored, inQuarantine, wrong);
        if (allRestored && !inQuarantine.empty())
            wrong.push_back("the quarantine is not empty");
        for (const std::wstring& name : FilesIn(m_Dir.Join(L"Q")))
            if (!inQuarantine.count(name))
                wrong.push_back("stray file in the quarantine");
        for (const wchar_t* sub : {L"D1", L"D2"})
            for (const std::wstring& name : FilesIn(m_Dir.Join(sub)))
                if (name.compare(0, 3, L"~vk") == 0 && !deletionFailed)
                    wrong.push_back("staging file left");
        return wrong;
    }

private:
    struct CItem
    {
        CItem() = default;
        CItem(const wchar_t* base, std::string content, std::vector<CItemLocation> locations,
              std::string standing = "")
            : base(base), standing(std::move(standing))
        {
            desc.content = std::move(content);
            desc.locations = std::move(locations);
        }
        std::wstring base;  // in the quarantine folder, without extension
        CItemDescription desc;
        std::string standing;  // what stood at the first location before the restore
        std::string index, payload;
    };

    std::wstring Quarantined(const CItem& item, const wchar_t* ext) const
    {
        return m_Dir.Join(L"Q") + L"\\" + item.base + ext;
    }
    static std::wstring Destination(const CItemLocation& at)
    {
        return at.path + (at.path.back() == L'\\' ? L"" : L"\\") + at.name;
    }

    void CheckItem(const CItem& item, bool allRestored, std::set<std::wstring>& inQuarantine,
                   std::vector<std::string>& wrong) const
    {
        const std::string tag(item.base.begin(), item.base.end());
        const std::wstring xml = Quarantined(item, L".xml"), cvq = Quarantined(item, L".cvq");
        const bool hasIndex = FileExists(xml), hasPayload = FileExists(cvq);
        if (hasIndex)
            inQuarantine.insert(item.base + L".xml");
        if (hasPayload)
            inQuarantine.insert(item.base + L".cvq");
        QuarItem index;
        if (hasIndex && !index.LoadXml(xml.c_str())) {
            wrong.push_back(tag + ": the index no longer reads");
            return;
        }
        size_t listed = 0;
        for (size_t i = 0; i < item.desc.locations.size(); ++i) {
            const CItemLocation& at = item.desc.locations[i];
            bool isListed = false;
            for (uint32_t f = 0; hasIndex && f < index.GetFileCount(); ++f)
                isListed = isListed || (at.name == index.m_Files[f].name && at.path == index.m_Files[f].path);
            listed += isListed;
            bool exists = false;
            const std::string bytes = ReadFileBytes(Destination(at), &exists);
            const std::string where = tag + " location " + std::to_string(i) + ": ";
            if (i == 0 && !item.standing.empty()) {
                if (bytes != item.standing)
                    wrong.push_back(where + "the file that stood there was changed");
            } else if (!isListed && bytes != item.desc.content) {
                wrong.push_back(where + (exists ? "retired with a wrong file" : "retired, no file"));
            } else if (isListed && exists && (bytes != item.desc.content || allRestored)) {
                wrong.push_back(where + "a part-written file is left while still listed");
            }
        }
        if (hasIndex && listed == item.desc.locations.size() && ReadFileBytes(xml) != item.index)
            wrong.push_back(tag + ": the index changed though no location left it");
        if (hasIndex && listed != index.GetFileCount())
            wrong.push_back(tag + ": the index lists a location it never had");
        // The payload of a listed location must stay as it is, or every later run fails.
        if (listed > 0 && ReadFileBytes(cvq) != item.payload)
            wrong.push_back(tag + ": a location is still listed but the payload changed or went");
    }

    CTempDir m_Dir;
    std::vector<CItem> m_Items;
};

} // namespace

// Without faults every location is restored and the quarantine is left empty; with each
// call failing once in turn, nothing is ever lost.
TEST(FaultSweep, EveryCallFailingOnceLeavesEveryItemWhole)
{
    size_t calls = 0;
    {
        CSweepWorld world;
        CDebugCapture trace;
        {
            CFaultInjector counter(/*failAt=*/0);
            EXPECT_EQ(world.RestoreAll(), "0,0,0,0,13");
            calls = counter.m_nCalls;
        }
        EXPECT_EQ(world.Check(false, true), std::vector<std::string>());
    }
    ASSERT_GT(calls, 50u);
    for (size_t k = 1; k <= calls; ++k) {
        CSweepWorld world;
        std::string results, row;
        DWORD error = 0;
        {
            CDebugCapture trace;
            CFaultInjector injector(k);
            results = world.RestoreAll();
            ASSERT_TRUE(injector.m_pFailedRow) << "call " << k << " never came";
            row = injector.m_pFailedRow;
            error = injector.m_dwFailedError;
        }
        // The staging file is removed through its handle (attributes, then the deletion),
        // or by its path when no handle reaches it.
        EXPECT_EQ(world.Check(row == "DeleteFileW" || row == "SetFileInformationByHandle", false),
                  std::vector<std::string>())
            << "call " << k << " " << row << " (error " << error << "), results " << results;
    }
}
