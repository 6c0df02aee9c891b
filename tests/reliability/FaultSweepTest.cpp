// The fault sweep: a quarantine restored once per call the restore makes, that call failing. After
// each run a location that left the index has its file, a listed one its index and payload as
// stored; no part-written or stray file is left, and a file that stood at a destination is kept.
#include "quarantine/QuarItem.h"
#include "restore/DecryptAndRestore.h"
#include "tests/support/SysHooks.h"
#include "tests/support/TestFiles.h"
#include "tools/common/PseudoRandom.h"
#include "tools/itembuilder/ItemBuilder.h"
#include <gtest/gtest.h>
#include <set>

template <auto Slot>
using Ret = typename SysThunk<Slot>::Ret;

// Hooks on every row the restore and the quarantine store call that can fail: armed with k, the
// k-th call fails with one of its row's two field errors in turn; 0 only counts.
struct CFaultInjector
{
    explicit CFaultInjector(size_t failAt) : m_nFailAt(failAt) {}
    size_t m_nFailAt, m_nCalls = 0;
    const char* m_pFailedRow = nullptr;
    DWORD m_dwFailedError = 0;

    bool Due(const char* row, DWORD error1, DWORD error2)
    {
        if (++m_nCalls != m_nFailAt)
            return false;
        m_pFailedRow = row;
        m_dwFailedError = m_nCalls % 2 ? error2 : error1;
        g_Sys.SetLastError(m_dwFailedError);
        return true;
    }
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
    // An abort still releases the backup context and a failed close still closes (a lost write).
    CSysHook<&CSysCalls::BackupWrite> m_BackupWrite{
        [this](HANDLE h, LPBYTE b, DWORD n, LPDWORD written, BOOL abort, BOOL security, LPVOID* ctx) -> BOOL {
            if (!Due("BackupWrite", ERROR_DISK_FULL, ERROR_ACCESS_DENIED))
                return CSysHook<&CSysCalls::BackupWrite>::Next()(h, b, n, written, abort, security, ctx);
            if (abort)
                CSysHook<&CSysCalls::BackupWrite>::Next()(h, b, n, written, abort, security, ctx);
            g_Sys.SetLastError(m_dwFailedError);
            return FALSE;
        }};
    CSysHook<&CSysCalls::CloseHandle> m_CloseHandle{[this](HANDLE h) -> BOOL {
        const bool fail = Due("CloseHandle", ERROR_DISK_FULL, ERROR_DISK_FULL);
        const BOOL ok = CSysHook<&CSysCalls::CloseHandle>::Next()(h);
        return fail ? (g_Sys.SetLastError(m_dwFailedError), FALSE) : ok;
    }};
};

// Quarantine Q, destinations D1 D2, afresh each run: A1 side stream and security; B2 two locations
// (one ending in a backslash), a record past the writer's buffer, attributes 0x821; C3 EFS; D4 a
// location where a file already stands.
class CSweepWorld
{
public:
    CSweepWorld()
    {
        for (const wchar_t* sub : {L"Q", L"D1", L"D2"})
            CreateDirectoryW(m_Dir.Join(sub).c_str(), nullptr);
        const std::string security = std::string("\x01\x00\x04\x80", 4) + std::string(16, '\0');
        const std::wstring d1 = m_Dir.Join(L"D1"), d2 = m_Dir.Join(L"D2");
        m_Items = {{L"A1", PseudoRandomBytes(3000, 1), {{L"one.txt", d1}}},
                   {L"B2", PseudoRandomBytes(70000, 2), {{L"two.bin", d1 + L"\\"}, {L"two.bin", d2}}},
                   {L"C3", PseudoRandomBytes(5000, 3), {{L"efs.dat", d2}}},
                   {L"D4", "restored content", {{L"there.txt", d1}}, "was here first"}};
        m_Items[0].desc.extraStreams = {{4, 0, L":side", "an alternate stream"}};
        m_Items[0].desc.security = m_Items[1].desc.security = security;
        m_Items[1].desc.attr = 0x821;
        m_Items[2].desc.dflags = QUAR_DFLAG_EFS;
        for (CItem& item : m_Items) {
            EXPECT_TRUE(BuildQuarItem(item.desc, Quarantined(item, L"")));
            item.index = ReadFileBytes(Quarantined(item, L".xml"));
            item.payload = ReadFileBytes(Quarantined(item, L".cvq"));
            const CItemLocation& at = item.desc.locations[0]; // where a file stands first
            EXPECT_TRUE(item.standing.empty() || WriteWholeFile(JoinPath(at.path, at.name), item.standing));
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

    // What is wrong after a run; a staging file is allowed when its own removal failed, a whole copy
    // at a listed location and a payload without index unless everything was to be restored.
    std::vector<std::string> Check(bool deletionFailed, bool allRestored) const
    {
        std::vector<std::string> wrong;
        std::set<std::wstring> inQuarantine;
        for (const CItem& item : m_Items) {
            const std::string tag(item.base.begin(), item.base.end());
            const std::wstring xml = Quarantined(item, L".xml"), cvq = Quarantined(item, L".cvq");
            const bool hasIndex = PathExists(xml);
            if (hasIndex)
                inQuarantine.insert(item.base + L".xml");
            if (PathExists(cvq))
                inQuarantine.insert(item.base + L".cvq");
            QuarItem index;
            if (hasIndex && !index.LoadXml(xml.c_str())) {
                wrong.push_back(tag + ": the index no longer reads");
                continue;
            }
            size_t listed = 0;
            for (size_t i = 0; i < item.desc.locations.size(); ++i) {
                const CItemLocation& at = item.desc.locations[i];
                bool isListed = false;
                for (uint32_t f = 0; hasIndex && f < index.GetFileCount(); ++f)
                    isListed = isListed || (at.name == index.m_Files[f].name && at.path == index.m_Files[f].path);
                listed += isListed;
                bool exists = false;
                const std::string bytes = ReadFileBytes(JoinPath(at.path, at.name), &exists);
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
            if (listed > 0 && ReadFileBytes(cvq) != item.payload)
                wrong.push_back(tag + ": a location is still listed but the payload changed or went");
        }
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

    CTempDir m_Dir;
    std::vector<CItem> m_Items;
};

// Without faults all is restored and the quarantine left empty; with any one call failing, nothing lost.
TEST(FaultSweep, EveryCallFailingOnceLeavesEveryItemWhole)
{
    size_t calls = 0;  // counted by the run without faults (k = 0)
    for (size_t k = 0; k <= calls; ++k) {
        CSweepWorld world;
        std::string results, row;
        DWORD error = 0;
        {
            CDebugCapture trace;
            CFaultInjector injector(k);
            results = world.RestoreAll();
            calls = k ? calls : injector.m_nCalls;
            ASSERT_TRUE(!k || injector.m_pFailedRow) << "call " << k << " never came";
            row = k ? injector.m_pFailedRow : "";
            error = injector.m_dwFailedError;
        }
        if (k == 0) {
            ASSERT_GT(calls, 50u);
            EXPECT_EQ(results, "0,0,0,0,13");
        }
        // The staging file goes through its handle (attributes, then deletion) or by its path.
        EXPECT_EQ(world.Check(row == "DeleteFileW" || row == "SetFileInformationByHandle", k == 0),
                  std::vector<std::string>())
            << "call " << k << " " << row << " (error " << error << "), results " << results;
    }
}
