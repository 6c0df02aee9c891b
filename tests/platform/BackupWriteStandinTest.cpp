// Our BackupWrite for Wine: records split anywhere across calls, what each stream kind
// leaves on the file, the security descriptor, failures and the context's lifetime.
#include "platform/BackupWriteStandin.h"
#include "platform/Owners.h"
#include "platform/WineStandins.h"
#include "tests/support/SecurityText.h"
#include "tests/support/SysHooks.h"
#include "tests/support/TestFiles.h"
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Record(DWORD id, const std::wstring& name, const std::string& data,
                   DWORD attributes = 0)
{
    std::string r(20, '\0');
    LONGLONG size = LONGLONG(data.size());
    DWORD nameBytes = DWORD(name.size() * sizeof(wchar_t));
    std::memcpy(&r[0], &id, 4);
    std::memcpy(&r[4], &attributes, 4);
    std::memcpy(&r[8], &size, 8);
    std::memcpy(&r[16], &nameBytes, 4);
    r.append(reinterpret_cast<const char*>(name.data()), nameBytes);
    return r + data;
}

std::string Pattern(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = char((i * 131 + seed * 17 + (i >> 8)) & 0xFF);
    return s;
}

class CBackupTarget
{
public:
    explicit CBackupTarget(const std::wstring& path)
        : m_hFile(CreateFileW(path.c_str(), GENERIC_WRITE | WRITE_DAC | WRITE_OWNER | READ_CONTROL,
                              /*dwShareMode=*/0, /*lpSecurityAttributes=*/nullptr, CREATE_ALWAYS,
                              FILE_FLAG_BACKUP_SEMANTICS, /*hTemplateFile=*/nullptr))
    {
    }
    ~CBackupTarget() { Abort(); }
    HANDLE Get() const { return m_hFile.get(); }
    BOOL Write(const std::string& bytes, BOOL processSecurity = TRUE, DWORD* written = nullptr)
    {
        DWORD n = 0xDEAD;
        BOOL ok = StandinBackupWrite(m_hFile.get(),
                                     reinterpret_cast<LPBYTE>(const_cast<char*>(bytes.data())),
                                     DWORD(bytes.size()), &n, /*bAbort=*/FALSE, processSecurity,
                                     &m_pContext);
        if (written)
            *written = n;
        return ok;
    }
    void Abort()
    {
        DWORD n = 0;
        StandinBackupWrite(m_hFile.get(), nullptr, 0, &n, /*bAbort=*/TRUE, TRUE, &m_pContext);
    }
    void Close()
    {
        Abort();
        m_hFile.reset();
    }
    LPVOID Context() const { return m_pContext; }

private:
    CUniqueFile m_hFile;
    LPVOID m_pContext = nullptr;
};

// Feeds the pieces of bytes cut at the given offsets and returns the file's content.
std::string FeedInPieces(const std::wstring& path, const std::string& bytes,
                         const std::vector<size_t>& cuts)
{
    CBackupTarget target(path);
    EXPECT_TRUE(target.Get() != INVALID_HANDLE_VALUE);
    size_t from = 0;
    for (size_t i = 0; i <= cuts.size(); ++i) {
        size_t to = i < cuts.size() ? cuts[i] : bytes.size();
        DWORD written = 0;
        EXPECT_TRUE(target.Write(bytes.substr(from, to - from), TRUE, &written));
        EXPECT_EQ(written, to - from);
        from = to;
    }
    target.Close();
    return ReadFileBytes(path);
}

// Main data, a named stream, a record of every other kind and a second main data record.
std::string MixedStream(std::string* mainData)
{
    std::string a = Pattern(37, 1), b = Pattern(11, 2);
    *mainData = a + b;
    std::string s = Record(BACKUP_DATA, L"", a);
    s += Record(BACKUP_ALTERNATE_DATA, L":Zone.Identifier:$DATA", "[ZoneTransfer]", 0);
    const DWORD others[] = {BACKUP_EA_DATA,      BACKUP_LINK,      BACKUP_OBJECT_ID,
                            BACKUP_REPARSE_DATA, BACKUP_SPARSE_BLOCK, BACKUP_TXFS_DATA, 0x77};
    for (DWORD id : others)
        s += Record(id, id == 0x77 ? L"x" : L"", Pattern(id, id));
    s += Record(BACKUP_DATA, L"", "");
    s += Record(BACKUP_DATA, L"", b);
    return s;
}

} // namespace

TEST(StandinBackupWrite, OnlyMainDataReachesTheFileWhateverTheCuts)
{
    CTempDir dir;
    std::wstring path = dir.Join(L"mixed.bin");
    long before = StandinBackupWriteOpenContexts();
    std::string expected;
    std::string stream = MixedStream(&expected);

    EXPECT_EQ(FeedInPieces(path, stream, {}), expected);
    for (size_t cut = 0; cut <= stream.size(); ++cut)
        ASSERT_EQ(FeedInPieces(path, stream, {cut}), expected) << "cut at " << cut;
    std::vector<size_t> everyByte;
    for (size_t i = 1; i < stream.size(); ++i)
        everyByte.push_back(i);
    EXPECT_EQ(FeedInPieces(path, stream, everyByte), expected);
    // Empty calls in the middle of a header and of a name change nothing.
    EXPECT_EQ(FeedInPieces(path, stream, {7, 7, 60, 60}), expected);
    EXPECT_EQ(StandinBackupWriteOpenContexts(), before);
}

TEST(StandinBackupWrite, DataSpanningManyCallsArrivesWhole)
{
    CTempDir dir;
    std::wstring path = dir.Join(L"big.bin");
    std::string data = Pattern(200000, 9);
    std::string stream = Record(BACKUP_DATA, L"", data);
    std::vector<size_t> cuts;
    for (size_t at = 65536; at < stream.size(); at += 65536)
        cuts.push_back(at);
    EXPECT_EQ(FeedInPieces(path, stream, cuts), data);
}

TEST(StandinBackupWrite, SecurityDescriptorIsSetOnceItIsComplete)
{
    CTempDir dir;
    std::string sd = SecurityDescriptorBytes(L"O:BAG:BAD:P(A;;FA;;;WD)");
    ASSERT_FALSE(sd.empty());
    std::vector<std::string> seen;
    std::vector<SECURITY_INFORMATION> parts;
    CSysHook<&CSysCalls::SetKernelObjectSecurity> hook(
        [&](HANDLE, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR p) -> BOOL {
            seen.emplace_back(static_cast<const char*>(p), sd.size());
            parts.push_back(info);
            return TRUE;
        });
    std::string stream = Record(BACKUP_SECURITY_DATA, L"", sd, STREAM_CONTAINS_SECURITY) +
                         Record(BACKUP_DATA, L"", "content");
    std::vector<size_t> everyByte;
    for (size_t i = 1; i < stream.size(); ++i)
        everyByte.push_back(i);

    EXPECT_EQ(FeedInPieces(dir.Join(L"a"), stream, everyByte), "content");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], sd);
    EXPECT_EQ(parts[0], SECURITY_INFORMATION(OWNER_SECURITY_INFORMATION |
                                             GROUP_SECURITY_INFORMATION |
                                             DACL_SECURITY_INFORMATION));

    // Without bProcessSecurity the descriptor is consumed and not applied.
    seen.clear();
    {
        CBackupTarget target(dir.Join(L"b"));
        EXPECT_TRUE(target.Write(stream, /*processSecurity=*/FALSE));
    }
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(ReadFileBytes(dir.Join(L"b")), "content");
}

TEST(StandinBackupWrite, RefusedOrMalformedSecurityIsDroppedNotFailed)
{
    CTempDir dir;
    std::string sd = SecurityDescriptorBytes(L"O:BAG:BAD:(A;;FA;;;WD)");
    ASSERT_FALSE(sd.empty());
    CSysFailNth<&CSysCalls::SetKernelObjectSecurity> refuse(1, ERROR_INVALID_OWNER, FALSE,
                                                             /*persist=*/true);
    std::string content = Record(BACKUP_DATA, L"", "kept");
    {
        // Wine refuses the owner: the DACL alone is tried, then given up quietly.
        CBackupTarget target(dir.Join(L"a"));
        SetLastError(4321);
        EXPECT_TRUE(target.Write(Record(BACKUP_SECURITY_DATA, L"", sd) + content));
        EXPECT_EQ(GetLastError(), 4321u);
    }
    EXPECT_EQ(refuse.Calls(), 2);
    EXPECT_EQ(ReadFileBytes(dir.Join(L"a")), "kept");

    // Not a descriptor, one cut short (its parts would lie past its end), an absolute one:
    // never handed to the system.
    std::string truncated = sd.substr(0, 24);
    std::string absolute = sd;
    absolute[3] = 0; // control without SE_SELF_RELATIVE
    for (const std::string& bad : {std::string("garbage"), truncated, absolute}) {
        CBackupTarget target(dir.Join(L"b"));
        EXPECT_TRUE(target.Write(Record(BACKUP_SECURITY_DATA, L"", bad) + content));
    }
    EXPECT_EQ(refuse.Calls(), 2);
}

TEST(StandinBackupWrite, DescriptorReachesWine)
{
    // Wine maps the DACL to Unix permissions; what matters is that it takes the call and
    // the file stays usable.
    CTempDir dir;
    std::string sd = SecurityDescriptorBytes(L"D:(A;;FA;;;WD)");
    ASSERT_FALSE(sd.empty());
    CSysRecorder<&CSysCalls::SetKernelObjectSecurity> rec;
    {
        CBackupTarget target(dir.Join(L"a"));
        EXPECT_TRUE(target.Write(Record(BACKUP_SECURITY_DATA, L"", sd) +
                                 Record(BACKUP_DATA, L"", "data")));
    }
    ASSERT_EQ(rec.Count(), 1u);
    EXPECT_EQ(std::get<1>(rec.Calls()[0]), SECURITY_INFORMATION(DACL_SECURITY_INFORMATION));
    EXPECT_EQ(ReadFileBytes(dir.Join(L"a")), "data");
    EXPECT_TRUE(DeleteFileW(dir.Join(L"a").c_str()));
}

TEST(StandinBackupWrite, WriteFailureKeepsItsError)
{
    CTempDir dir;
    long before = StandinBackupWriteOpenContexts();
    {
        CBackupTarget target(dir.Join(L"full"));
        CSysFailNth<&CSysCalls::WriteFile> full(2, ERROR_DISK_FULL, FALSE);
        std::string stream = Record(BACKUP_DATA, L"", "first") + Record(BACKUP_DATA, L"", "second");
        DWORD written = 0;
        EXPECT_FALSE(target.Write(stream, TRUE, &written));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_DISK_FULL));
        EXPECT_EQ(written, 20u + 5u + 20u);
        EXPECT_NE(target.Context(), nullptr);
        target.Abort();
        EXPECT_EQ(target.Context(), nullptr);
    }
    EXPECT_EQ(StandinBackupWriteOpenContexts(), before);
}

TEST(StandinBackupWrite, BadArgumentsAndNegativeSizesFail)
{
    CTempDir dir;
    CBackupTarget target(dir.Join(L"x"));
    std::string negative = Record(BACKUP_DATA, L"", "");
    LONGLONG minusOne = -1;
    std::memcpy(&negative[8], &minusOne, 8);
    EXPECT_FALSE(target.Write(negative));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_DATA));

    DWORD n = 0;
    BYTE byte = 0;
    EXPECT_FALSE(StandinBackupWrite(target.Get(), &byte, 1, &n, FALSE, TRUE, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    LPVOID ctx = nullptr;
    EXPECT_FALSE(StandinBackupWrite(target.Get(), nullptr, 5, &n, FALSE, TRUE, &ctx));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(ctx, nullptr);
}

TEST(StandinBackupWrite, AbortFreesTheContextAndTheNextCallStartsAfresh)
{
    CTempDir dir;
    long before = StandinBackupWriteOpenContexts();
    LPVOID ctx = nullptr;
    DWORD n = 7;
    EXPECT_TRUE(StandinBackupWrite(nullptr, nullptr, 0, &n, /*bAbort=*/TRUE, TRUE, &ctx));
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(StandinBackupWriteOpenContexts(), before);

    CBackupTarget target(dir.Join(L"x"));
    std::string record = Record(BACKUP_DATA, L"", "abc");
    EXPECT_TRUE(target.Write(record.substr(0, 9))); // stops inside the header
    EXPECT_EQ(StandinBackupWriteOpenContexts(), before + 1);
    target.Abort();
    EXPECT_EQ(target.Context(), nullptr);
    EXPECT_EQ(StandinBackupWriteOpenContexts(), before);
    EXPECT_TRUE(target.Write(record));
    target.Close();
    EXPECT_EQ(ReadFileBytes(dir.Join(L"x")), "abc");
    EXPECT_EQ(StandinBackupWriteOpenContexts(), before);
}

TEST(StandinBackupWrite, InstalledIntoTheTableOnWine)
{
    InstallWineStandins();
    EXPECT_EQ(g_Sys.BackupWrite, &StandinBackupWrite);
    SysRestoreAllCalls();
    EXPECT_TRUE(SysCallIsDefault("BackupWrite"));
}
