// The ordinary writer: what BackupWrite receives (security first, records deciphered in
// buffer-sized runs, one context, the release), the digests, and every failure path.
#include "platform/BackupWriteStandin.h"
#include "platform/Owners.h"
#include "restore/StagingFile.h"
#include "restore/Writers.h"
#include "tests/restore/StoredItem.h"
#include "tests/support/SysHooks.h"
#include "tests/support/TestFiles.h"
#include <gtest/gtest.h>
#include <climits>
#include <optional>

namespace {

const int64_t kCrt = 130000000000000000;
const int64_t kLwt = 131000000000000000;
const int64_t kLat = 132000000000000000;
const int64_t kNoBound = INT64_MAX;
const Lines kImpersonation = {L"[VAULTKIT]: StartImpersonatingUser",
                              L"[VAULTKIT]: StartImpersonatingUser : invalid pid 0"};

struct CBackupCall
{
    std::string bytes;
    BOOL abort;
    BOOL processSecurity;
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
    CSysHook<&CSysCalls::BackupWrite> m_hook{
        [this](HANDLE h, LPBYTE b, DWORD n, LPDWORD w, BOOL a, BOOL s, LPVOID* c) {
            m_Calls.push_back({std::string(reinterpret_cast<char*>(b), b ? n : 0), a, s, c,
                               c ? *c : nullptr});
            return CSysHook<&CSysCalls::BackupWrite>::Next()(h, b, n, w, a, s, c);
        }};
};

std::string Joined(const DigestList& list)
{
    std::vector<uint8_t> joined;
    list.Concatenate(joined);
    return std::string(joined.begin(), joined.end());
}

class NormalWriter : public ::testing::Test
{
protected:
    void SetUp() override { m_nContexts = StandinBackupWriteOpenContexts(); }

    void UsePayload(const std::string& bytes)
    {
        m_Payload.reset();
        std::wstring path = m_Dir.Join(L"A1.cvq");
        ASSERT_TRUE(WriteFileBytes(path, bytes));
        m_Payload.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(m_Payload);
    }
    // The writer leaves the staging file (here m_Dest) open on success; it is closed here.
    int32_t Restore(const std::string& security = std::string(), int64_t size = kNoBound)
    {
        std::optional<CStagingFile> staged;
        staged.emplace(m_Dest.c_str(), (m_Dir.Path() + L"\\").c_str(), L"item.bin");
        return RestoreNormalFile(*staged, m_Payload.get(), m_Original, m_Crypted,
                                 reinterpret_cast<const uint8_t*>(security.data()),
                                 static_cast<int32_t>(security.size()), kCrt, kLwt, kLat, size);
    }
    // A failed write leaves no file and no backup context behind.
    void ExpectFailure(int32_t expected, const Lines& lines, int64_t size = kNoBound)
    {
        EXPECT_EQ(Restore(std::string(), size), expected);
        EXPECT_EQ(m_Trace.Lines(), lines);
        EXPECT_FALSE(FileExists(m_Dest));
        EXPECT_EQ(StandinBackupWriteOpenContexts(), m_nContexts);
    }

    CTempDir m_Dir;
    std::wstring m_Dest = m_Dir.Join(L"restored.bin");
    CUniqueFile m_Payload;
    DigestList m_Original;
    DigestList m_Crypted;
    CDebugCapture m_Trace;
    long m_nContexts = 0;
};

const CTestStream kMain = {1, L"", "plain text of the main stream"};

} // namespace

TEST_F(NormalWriter, EmptyPayloadStillGetsSecurityReleaseAndTimes)
{
    UsePayload("");
    std::string security = RecordHeader(3, 4, 0) + "abcd";
    CSysRecorder<&CSysCalls::CreateFileW> create;
    std::vector<int64_t> times;
    CSysHook<&CSysCalls::SetFileTime> setTimes(
        [&](HANDLE h, const FILETIME* c, const FILETIME* a, const FILETIME* w) {
            for (const FILETIME* t : {c, a, w})
                times.push_back(static_cast<int64_t>(
                    (static_cast<uint64_t>(t->dwHighDateTime) << 32) | t->dwLowDateTime));
            return CSysHook<&CSysCalls::SetFileTime>::Next()(h, c, a, w);
        });
    CBackupLog backup;

    EXPECT_EQ(Restore(security), 0);
    EXPECT_TRUE(m_Trace.Lines().empty());
    ASSERT_EQ(create.Count(), 1u);
    auto args = create.Calls()[0];
    EXPECT_EQ(std::get<1>(args), 0x411F01FFu);
    EXPECT_EQ(std::get<2>(args), 0u);
    EXPECT_EQ(std::get<3>(args), nullptr);
    EXPECT_EQ(std::get<4>(args), DWORD(CREATE_NEW));
    EXPECT_EQ(std::get<5>(args), 0x0A000000u);

    ASSERT_EQ(backup.m_Calls.size(), 2u);
    EXPECT_EQ(backup.m_Calls[0].bytes, security);
    EXPECT_FALSE(backup.m_Calls[0].abort);
    EXPECT_TRUE(backup.m_Calls[0].processSecurity);
    EXPECT_TRUE(backup.m_Calls[1].abort);
    EXPECT_TRUE(backup.m_Calls[1].processSecurity);
    EXPECT_EQ(backup.m_Calls[1].bytes, "");
    EXPECT_EQ(backup.m_Calls[1].slot, backup.m_Calls[0].slot);
    EXPECT_NE(backup.m_Calls[1].context, nullptr);
    EXPECT_EQ(StandinBackupWriteOpenContexts(), m_nContexts);

    EXPECT_EQ(times, (std::vector<int64_t>{kCrt, kLat, kLwt}));
    bool read = false;
    EXPECT_EQ(ReadFileBytes(m_Dest, &read), "");
    EXPECT_TRUE(read);
    EXPECT_EQ(m_Original.GetCount(), 0);
    EXPECT_EQ(m_Crypted.GetCount(), 0);
}

TEST_F(NormalWriter, EmptyRecordIsOneWriteOfHeaderAndName)
{
    CTestStream empty = {4, L"side", ""};
    UsePayload(StoredRecord(empty));
    CBackupLog backup;
    EXPECT_EQ(Restore(), 0);
    EXPECT_EQ(backup.Runs(), (std::vector<std::string>{PlainRecord(empty)}));
    EXPECT_EQ(Joined(m_Original), Md5Text(PlainRecord(empty)));
    EXPECT_EQ(Joined(m_Crypted), Md5Text(StoredRecord(empty)));
}

TEST_F(NormalWriter, LargeRecordRunsOnAcrossWritesOnOneContext)
{
    CTestStream big = {1, L"big", Filler(150000, 7)};
    UsePayload(StoredRecord(big));
    CBackupLog backup;
    EXPECT_EQ(Restore(), 0);

    std::vector<std::string> runs = backup.Runs();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].size(), 65536u);
    EXPECT_EQ(runs[1].size(), 65536u);
    EXPECT_EQ(runs[0] + runs[1] + runs[2], PlainRecord(big));  // header and name once, first
    for (size_t i = 1; i < backup.m_Calls.size(); ++i) {
        EXPECT_EQ(backup.m_Calls[i].slot, backup.m_Calls[0].slot);
        EXPECT_EQ(backup.m_Calls[i].context, backup.m_Calls[1].context);
    }
    EXPECT_EQ(ReadFileBytes(m_Dest), big.data);
    EXPECT_EQ(Joined(m_Original), Md5Text(PlainRecord(big)));
    EXPECT_EQ(Joined(m_Crypted), Md5Text(StoredRecord(big)));
}

TEST_F(NormalWriter, EveryRecordRestartsTheCipherAndDigestsAreSorted)
{
    CTestStream side = {4, L":s", "side data"};
    CTestItem item = NormalItem({kMain, side, kMain});
    UsePayload(item.payload);
    EXPECT_EQ(Restore(), 0);
    EXPECT_EQ(ReadFileBytes(m_Dest), kMain.data + kMain.data);
    EXPECT_EQ(m_Original.GetCount(), 3);
    EXPECT_EQ(Joined(m_Original), item.hash);
    EXPECT_EQ(Joined(m_Crypted), item.qhash);
}

TEST_F(NormalWriter, LongestNameThatFitsTheBuffer)
{
    CTestStream named = {4, std::wstring(65516 / 2, L'n'), "tail"};
    UsePayload(StoredRecord(named));
    CBackupLog backup;
    EXPECT_EQ(Restore(), 0);
    EXPECT_EQ(backup.Runs(), (std::vector<std::string>{PlainRecord(named).substr(0, 65536),
                                                       "tail"}));
}

TEST_F(NormalWriter, CorruptPayloadsAreUnreadableSource)
{
    std::string header = RecordHeader(1, 100, 0);
    std::vector<std::string> corrupt = {
        header.substr(0, 7),                               // ends inside a header
        RecordHeader(4, 0, 65518) + std::string(65518, 'n'), // name beyond the buffer
        RecordHeader(1, -1, 0),                            // negative data size
        RecordHeader(4, 0, 8) + "abcd",                    // name cut short
        StoredRecord(kMain) + header.substr(0, 19),        // a good record, then a cut one
    };
    for (const std::string& payload : corrupt) {
        SCOPED_TRACE(payload.size());
        UsePayload(payload);
        m_Trace.Clear();
        ExpectFailure(7, {L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_READ_SOURCE"});
    }
}

TEST_F(NormalWriter, PayloadEndingInsideTheDataEndsTheRecord)
{
    // The record's header and name are written, then what data there is; the caller's
    // size and digest checks reject the short file.
    std::string header = RecordHeader(1, 100, 0);
    UsePayload(header + std::string(10, 'd'));
    CBackupLog backup;
    EXPECT_EQ(Restore(), 0);
    ASSERT_EQ(backup.Runs().size(), 1u);
    EXPECT_EQ(backup.Runs()[0].size(), 30u);
}

TEST_F(NormalWriter, ReadFailureEndsWithSeven)
{
    UsePayload(StoredRecord(kMain));
    CSysFailNth<&CSysCalls::ReadFile> fail(3, ERROR_CRC, FALSE);  // header, name, data
    ExpectFailure(7, {L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_READ_SOURCE"});
}

TEST_F(NormalWriter, DiskFullInSecurityWriteStillWritesEveryStream)
{
    UsePayload(NormalItem({kMain, kMain}).payload);
    CSysFailNth<&CSysCalls::BackupWrite> fail(1, ERROR_DISK_FULL, FALSE);
    CBackupLog backup;
    ExpectFailure(3, {L"[VAULTKIT] BackupWrite DACL error: GetlastError = 112",
                      L"[VAULTKIT] VAULTKIT_ERROR_NOT_ENOUGH_SPACE"});
    EXPECT_EQ(backup.Runs().size(), 2u);
    EXPECT_TRUE(backup.m_Calls.back().abort);
}

TEST_F(NormalWriter, WithoutSecurityRightsTheFileIsWrittenPlainly)
{
    UsePayload(StoredRecord(kMain));
    CSysRecorder<&CSysCalls::CreateFileW> create;
    CSysFailNth<&CSysCalls::CreateFileW> fail(1, ERROR_PRIVILEGE_NOT_HELD, INVALID_HANDLE_VALUE);
    CBackupLog backup;
    EXPECT_EQ(Restore("security bytes"), 0);
    EXPECT_EQ(m_Trace.Lines(), Lines{L"[VAULTKIT] trying to impersonate user"} + kImpersonation +
                                   Lines{L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION !write DACL"});
    ASSERT_EQ(create.Count(), 1u);  // the first create never reached the recorder
    // Write access, and what the file's own handle needs to be renamed or removed.
    EXPECT_EQ(std::get<1>(create.Calls()[0]), DWORD(GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES));
    EXPECT_EQ(std::get<4>(create.Calls()[0]), DWORD(CREATE_NEW));
    ASSERT_FALSE(backup.m_Calls.empty());
    EXPECT_EQ(backup.m_Calls[0].bytes, PlainRecord(kMain));  // no security write
    EXPECT_EQ(ReadFileBytes(m_Dest), kMain.data);
}

TEST_F(NormalWriter, SecondCreateFailing)
{
    UsePayload(StoredRecord(kMain));
    Lines tried = Lines{L"[VAULTKIT] trying to impersonate user"} + kImpersonation +
                  Lines{L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION !write DACL"};
    {
        CSysFailNth<&CSysCalls::CreateFileW> fail(1, ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        CSysFailNth<&CSysCalls::CreateFileW> exists(2, ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
        EXPECT_EQ(Restore(), 13);
        EXPECT_EQ(m_Trace.Lines(),
                  tried + Lines{L"[VAULTKIT] VAULTKIT_ERROR_OUTPUT_FILE_ALREADY_EXISTS"});
    }
    m_Trace.Clear();
    m_Dest = m_Dir.Join(L"no such folder\\restored.bin");
    ExpectFailure(5, tried + Lines{L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION give up"});
}

// The item's size bounds what a payload can write: a record that would take the main data
// past it, or everything else past it and the allowance, is refused before any of it is
// read on or written, and nothing is left behind.
TEST_F(NormalWriter, TheItemsSizeBoundsWhatThePayloadCanWrite)
{
    const uint64_t allowance = kStreamAllowance;
    struct Case
    {
        std::vector<CTestStream> streams;
        int64_t size;
        int32_t result;
        size_t runs;  // BackupWrite calls with record bytes
    };
    const CTestStream side = {4, L"", Filler(allowance + 980, 5)};  // 20 header bytes more: 1 MiB + 1000
    const Case cases[] = {
        {{{1, L"", Filler(200000, 1)}}, 1000, 12, 0},
        {{{1, L"", Filler(1000, 1)}}, 1000, 0, 1},
        {{{1, L"", Filler(600, 1)}, {1, L"", Filler(600, 2)}}, 1000, 12, 1},
        {{side}, 1000, 0, 17},
        {{{1, L"", Filler(1000, 1)}, side}, 1000, 12, 1},
        {{{4, L"", Filler(allowance + 981, 5)}}, 1000, 12, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        UsePayload(NormalItem(c.streams).payload);
        m_Trace.Clear();
        CBackupLog backup;
        if (c.result != 0) {
            ExpectFailure(c.result, {L"[VAULTKIT] VAULTKIT_ERROR_FILE_SIZE_MISMATCH"}, c.size);
        } else {
            EXPECT_EQ(Restore(std::string(), c.size), 0);
            EXPECT_TRUE(m_Trace.Lines().empty());
            ASSERT_TRUE(DeleteFileW(m_Dest.c_str()));
        }
        EXPECT_EQ(backup.Runs().size(), c.runs);
    }
}
