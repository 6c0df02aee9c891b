// The ordinary writer: what BackupWrite receives (security first, records deciphered in
// buffer-sized runs, one context, the release), the file times, every failure path, and
// the item's size as the bound of what a payload can write. The record loop itself is
// tested with the codecs.
#include "platform/BackupWriteStandin.h"
#include "restore/StagingFile.h"
#include "restore/Writers.h"
#include "tests/restore/RestoreFixture.h"
#include <optional>

namespace {

const int64_t kCrt = 130000000000000000;
const int64_t kLwt = 131000000000000000;
const int64_t kLat = 132000000000000000;

struct CBackupCall
{
    std::string bytes;
    BOOL abort;
    LPVOID* slot;
    LPVOID context;  // as it stood when the call came in
};

// Copies what every BackupWrite call is given, then lets the stand-in write it.
class CBackupLog
{
public:
    std::vector<CBackupCall> m_Calls;
    // Data calls only: neither the first call (the security write) nor the release.
    std::vector<std::string> Runs() const
    {
        std::vector<std::string> runs;
        for (size_t i = 1; i < m_Calls.size(); ++i)
            if (!m_Calls[i].abort)
                runs.push_back(m_Calls[i].bytes);
        return runs;
    }

private:
    CSysHook<&CSysCalls::BackupWrite> m_hook{[this](HANDLE h, LPBYTE b, DWORD n, LPDWORD w, BOOL a, BOOL s, LPVOID* c) {
        EXPECT_TRUE(s);  // processSecurity throughout
        m_Calls.push_back({std::string(reinterpret_cast<char*>(b), b ? n : 0), a, c, c ? *c : nullptr});
        return CSysHook<&CSysCalls::BackupWrite>::Next()(h, b, n, w, a, s, c);
    }};
};

CItemStream Stream(uint32_t id, const std::string& data, const std::wstring& name = L"")
{
    CItemStream s;
    s.id = id;
    s.name = name;
    s.data = data;
    return s;
}

class NormalWriter : public ::testing::Test
{
protected:
    void UsePayload(const std::vector<CItemStream>& streams)
    {
        m_Stored = BuildNormalPayload(streams);
        m_Payload.reset();
        ASSERT_TRUE(WriteFileBytes(m_Dir.Join(L"A1.cvq"), m_Stored.bytes));
        m_Payload.reset(::CreateFileW(m_Dir.Join(L"A1.cvq").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        m_Original.Clear();
        m_Crypted.Clear();
        m_Trace.Clear();
    }
    int32_t Restore(const std::string& security = std::string(), int64_t size = INT64_MAX)
    {
        m_Staged.emplace(m_Dir.Join(L"~vk.tmp").c_str(), (m_Dir.Path() + L"\\").c_str(), L"item.bin");
        return RestoreNormalFile(*m_Staged, m_Payload.get(), m_Original, m_Crypted,
                                 reinterpret_cast<const uint8_t*>(security.data()),
                                 static_cast<int32_t>(security.size()), kCrt, kLwt, kLat, size);
    }
    // The written file under its name, once the staging file took it; after a failure, the
    // staging file's owner leaves nothing.
    std::string Written(bool rename = true)
    {
        if (rename)
            EXPECT_TRUE(m_Staged->Rename());
        m_Staged.reset();
        EXPECT_EQ(FilesIn(m_Dir.Path()), (rename ? Lines{L"A1.cvq", L"item.bin"} : Lines{L"A1.cvq"}));
        std::string written = ReadFileBytes(m_Dir.Join(L"item.bin"));
        DeleteFileW(m_Dir.Join(L"item.bin").c_str());
        return written;
    }
    std::string Joined(const DigestList& list)
    {
        std::vector<uint8_t> joined;
        list.Concatenate(joined);
        return std::string(joined.begin(), joined.end());
    }

    CTempDir m_Dir;
    CItemPayload m_Stored;
    CUniqueFile m_Payload;
    std::optional<CStagingFile> m_Staged;
    DigestList m_Original;
    DigestList m_Crypted;
    CDebugCapture m_Trace;
};

} // namespace

// New, never over anything, unshared, with the rights the security list needs; security
// first, then every record in runs of at most one buffer, header and name once at the
// start, all on one context, which the abort call releases; then the times.
TEST_F(NormalWriter, SecurityThenRunsOnOneContextThenTheTimes)
{
    std::string big(150000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char(i * 7 + (i >> 8));
    const std::vector<CItemStream> streams = {Stream(1, big, L"big"), Stream(4, "", L"side"), Stream(1, "tail")};
    UsePayload(streams);
    CSysRecorder<&CSysCalls::CreateFileW> create;
    std::vector<int64_t> times;
    CSysHook<&CSysCalls::SetFileTime> setTimes([&](HANDLE h, const FILETIME* c, const FILETIME* a, const FILETIME* w) {
        EXPECT_EQ(h, m_Staged->Handle());
        for (const FILETIME* t : {c, a, w})
            times.push_back((int64_t(t->dwHighDateTime) << 32) | t->dwLowDateTime);
        return CSysHook<&CSysCalls::SetFileTime>::Next()(h, c, a, w);
    });
    long contexts = StandinBackupWriteOpenContexts();
    CBackupLog backup;
    const std::string security = MakeStreamRecord(Stream(BACKUP_SECURITY_DATA, "abcd"));

    EXPECT_EQ(Restore(security), 0);
    EXPECT_TRUE(m_Trace.Lines().empty());
    ASSERT_EQ(create.Count(), 1u);
    EXPECT_EQ(std::get<1>(create.Calls()[0]), DWORD(GENERIC_WRITE | ACCESS_SYSTEM_SECURITY | FILE_ALL_ACCESS));
    EXPECT_EQ(std::get<2>(create.Calls()[0]), 0u);
    EXPECT_EQ(std::get<4>(create.Calls()[0]), DWORD(CREATE_NEW));
    EXPECT_EQ(std::get<5>(create.Calls()[0]), DWORD(FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN));
    EXPECT_EQ(backup.m_Calls.front().bytes, security);
    const std::string first = MakeStreamRecord(streams[0]);
    EXPECT_EQ(backup.Runs(), (std::vector<std::string>{first.substr(0, 65536), first.substr(65536, 65536),
                                                       first.substr(131072), MakeStreamRecord(streams[1]),
                                                       MakeStreamRecord(streams[2])}));
    for (const CBackupCall& call : backup.m_Calls) {
        EXPECT_EQ(call.slot, backup.m_Calls[0].slot);
        EXPECT_TRUE(&call == &backup.m_Calls[0] || call.context == backup.m_Calls[1].context);
    }
    EXPECT_TRUE(backup.m_Calls.back().abort);
    EXPECT_EQ(StandinBackupWriteOpenContexts(), contexts);
    EXPECT_EQ(times, (std::vector<int64_t>{kCrt, kLat, kLwt}));
    EXPECT_EQ(Joined(m_Original), m_Stored.hash);
    EXPECT_EQ(Joined(m_Crypted), m_Stored.qhash);
    EXPECT_EQ(Written(), big + "tail");
}

// Every way the writer fails: its result and trace, how far the streams got, and nothing
// left behind, neither the file nor the backup context. A disk full in the security write
// is only told once every stream was tried; without the rights for the security list the
// file is written plainly.
TEST_F(NormalWriter, FailuresAndWhatTheyLeave)
{
    const Lines tried = Lines{L"[VAULTKIT] trying to impersonate user"} + kImpersonation +
                        Lines{kRefused + std::wstring(L"!write DACL")};
    struct Case
    {
        std::function<Hold()> hook;
        int32_t result;
        Lines trace;
        size_t runs;  // data runs that reached BackupWrite
    };
    const Case cases[] = {
        {[] { return std::make_shared<CSysFailNth<&CSysCalls::BackupWrite>>(1, ERROR_DISK_FULL, FALSE); }, 3,
         {L"[VAULTKIT] BackupWrite DACL error: GetlastError = 112", L"[VAULTKIT] VAULTKIT_ERROR_NOT_ENOUGH_SPACE"}, 2},
        {[] { return std::make_shared<CSysFailNth<&CSysCalls::BackupWrite>>(1, ERROR_ACCESS_DENIED, FALSE); }, 5,
         Lines{L"[VAULTKIT] BackupWrite DACL error: GetlastError = 5"} + kImpersonation +
             Lines{L"[VAULTKIT] BackupWrite DACL: failed switching user impersonation"}, 0},
        {[] { return std::make_shared<CSysFailNth<&CSysCalls::BackupWrite>>(3, ERROR_WRITE_FAULT, FALSE); }, 5,
         {L"[VAULTKIT] Eroare Belea la backupWrite: GetlastError = 29", kRefused + std::wstring(L"4")}, 2},
        {[] { return std::make_shared<CSysFailNth<&CSysCalls::ReadFile>>(3, ERROR_CRC, FALSE); }, 7,
         {L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_READ_SOURCE"}, 0},
        {[] { return std::make_shared<CSysFailNth<&CSysCalls::CreateFileW>>(1, ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE); }, 13,
         {kExists}, 0},
        {[] {
             int calls = 0;  // refused, then taken meanwhile
             return std::make_shared<CSysHook<&CSysCalls::CreateFileW>>([calls](auto...) mutable {
                 g_Sys.SetLastError(++calls == 1 ? ERROR_ACCESS_DENIED : ERROR_FILE_EXISTS);
                 return INVALID_HANDLE_VALUE;
             });
         }, 13, tried + Lines{kExists}, 0},
        {[] { return std::make_shared<CSysFailNth<&CSysCalls::CreateFileW>>(1, ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE, true); }, 5,
         tried + Lines{kRefused + std::wstring(L"give up")}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        UsePayload({Stream(1, kContent), Stream(4, "side", L":s")});
        long contexts = StandinBackupWriteOpenContexts();
        size_t runs = 0;
        {
            Hold hook = c.hook();
            CBackupLog backup;  // above the fault: failed calls count too
            EXPECT_EQ(Restore("security bytes"), c.result);
            runs = backup.Runs().size();
        }
        EXPECT_EQ(m_Trace.Lines(), c.trace);
        EXPECT_EQ(runs, c.runs);
        EXPECT_EQ(Written(false), "");
        EXPECT_EQ(StandinBackupWriteOpenContexts(), contexts);
    }
    UsePayload({Stream(1, kContent)});
    CSysRecorder<&CSysCalls::CreateFileW> create;
    CSysFailNth<&CSysCalls::CreateFileW> denied(1, ERROR_PRIVILEGE_NOT_HELD, INVALID_HANDLE_VALUE);
    CBackupLog backup;
    EXPECT_EQ(Restore("security bytes"), 0);
    EXPECT_EQ(m_Trace.Lines(), tried);
    ASSERT_EQ(create.Count(), 1u);  // the first create never reached the recorder
    // Write access, and what the file's own handle needs to be renamed or removed.
    EXPECT_EQ(std::get<1>(create.Calls()[0]), DWORD(GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES));
    EXPECT_EQ(backup.m_Calls[0].bytes, MakeStreamRecord(Stream(1, kContent)));  // no security write
    EXPECT_EQ(Written(), kContent);
}

// The item's size bounds what a payload can write: a record that would take the main data
// past it, or everything else past it and the allowance, is refused before any of it is
// read on or written, and nothing is left behind.
TEST_F(NormalWriter, TheItemsSizeBoundsWhatThePayloadCanWrite)
{
    std::string filler(kStreamAllowance + 200000, '\0');
    for (size_t i = 0; i < filler.size(); ++i)
        filler[i] = char(i * 13 + (i >> 10));
    const CItemStream side = Stream(4, filler.substr(0, kStreamAllowance + 980));  // 20 header bytes more: 1 MiB + 1000
    struct Case
    {
        std::vector<CItemStream> streams;
        int32_t result;
        size_t runs;
    };
    const Case cases[] = {
        {{Stream(1, filler.substr(0, 200000))}, 12, 0},
        {{Stream(1, filler.substr(0, 1000))}, 0, 1},
        {{Stream(1, filler.substr(0, 600)), Stream(1, filler.substr(1, 600))}, 12, 1},
        {{side}, 0, 17},
        {{Stream(1, filler.substr(0, 1000)), side}, 12, 1},
        {{Stream(4, filler.substr(0, kStreamAllowance + 981))}, 12, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        UsePayload(c.streams);
        CBackupLog backup;
        EXPECT_EQ(Restore(std::string(), 1000), c.result);
        EXPECT_EQ(m_Trace.Lines(), c.result ? Lines{L"[VAULTKIT] VAULTKIT_ERROR_FILE_SIZE_MISMATCH"} : Lines{});
        EXPECT_EQ(backup.Runs().size(), c.runs);
        Written(c.result == 0);
    }
}
