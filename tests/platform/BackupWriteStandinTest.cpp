// Our BackupWrite for Wine: records cut anywhere, stream kinds, security, failures, the context.
#include "platform/BackupWriteStandin.h"
#include "platform/Owners.h"
#include "tools/common/SecurityText.h"
#include "tests/support/SysHooks.h"
#include "tests/support/TestFiles.h"
#include "tools/itembuilder/ItemPayload.h"
#include <gtest/gtest.h>
#include <cstring>

static std::string Record(DWORD id, const std::string& data, const std::wstring& name = L"")
{
    return MakeStreamRecord({id, 0, name, data});
}

// Writes through the stand-in, one context for all calls, released at the end.
struct CBackupTarget
{
    explicit CBackupTarget(const std::wstring& path)
        : m_hFile(CreateFileW(path.c_str(), GENERIC_WRITE | WRITE_DAC | WRITE_OWNER | READ_CONTROL, 0,
                              nullptr, CREATE_ALWAYS, FILE_FLAG_BACKUP_SEMANTICS, nullptr)) {}
    ~CBackupTarget() { Abort(); }
    BOOL Write(const std::string& bytes, BOOL processSecurity = TRUE)
    {
        m_dwWritten = 0xDEAD;
        return StandinBackupWrite(m_hFile.get(), LPBYTE(bytes.data()), DWORD(bytes.size()), &m_dwWritten,
                                  FALSE, processSecurity, &m_pContext);
    }
    void Abort() { StandinBackupWrite(m_hFile.get(), nullptr, 0, &m_dwWritten, TRUE, TRUE, &m_pContext); }

    CUniqueFile m_hFile;
    LPVOID m_pContext = nullptr;
    DWORD m_dwWritten = 0;
};

// Feeds bytes cut at the given offsets (at every byte when none are given); the file's content.
static std::string FeedInPieces(const std::wstring& path, const std::string& bytes, std::vector<size_t> cuts)
{
    for (size_t i = 1; cuts.empty() && i < bytes.size(); ++i)
        cuts.push_back(i);
    cuts.push_back(bytes.size());
    {
        CBackupTarget target(path);
        for (size_t i = 0, from = 0; i < cuts.size(); from = cuts[i++]) {
            EXPECT_TRUE(target.Write(bytes.substr(from, cuts[i] - from)));
            EXPECT_EQ(target.m_dwWritten, cuts[i] - from);
        }
    }
    return ReadFileBytes(path);
}

// Of main data, a named stream, every other kind and more main data, only main data reaches the
// file, however the calls cut the records (empty calls included).
TEST(StandinBackupWrite, OnlyMainDataReachesTheFileWhateverTheCutsAndFailuresKeepTheirError)
{
    CTempDir dir;
    const std::wstring path = dir.Join(L"mixed.bin");
    long before = StandinBackupWriteOpenContexts();
    std::string stream =
        Record(BACKUP_DATA, "first ") + Record(BACKUP_ALTERNATE_DATA, "[Zone]", L":Zone.Identifier:$DATA");
    const DWORD others[] = {BACKUP_EA_DATA,      BACKUP_LINK,      BACKUP_OBJECT_ID, BACKUP_REPARSE_DATA,
                            BACKUP_SPARSE_BLOCK, BACKUP_TXFS_DATA, 0x77};
    for (DWORD id : others)
        stream += Record(id, std::string(id, char('a' + id)), id == 0x77 ? L"x" : L"");
    stream += Record(BACKUP_DATA, "") + Record(BACKUP_DATA, "second");
    for (size_t cut = 0; cut <= stream.size(); ++cut)
        ASSERT_EQ(FeedInPieces(path, stream, {cut}), "first second") << "cut at " << cut;
    EXPECT_EQ(FeedInPieces(path, stream, {}), "first second");
    EXPECT_EQ(FeedInPieces(path, stream, {7, 7, 60, 60}), "first second");
    std::string big(200000, 'b');
    big[99999] = 'c';
    EXPECT_EQ(FeedInPieces(path, Record(BACKUP_DATA, big), {65536, 131072, 196608}), big);
    EXPECT_EQ(StandinBackupWriteOpenContexts(), before);

    // A failed write keeps its error and says what it consumed; the context lives until the
    // abort (also mid-header). Bad arguments and a negative size fail.
    CBackupTarget target(dir.Join(L"x"));
    {
        CSysFailNth<&CSysCalls::WriteFile> full(2, ERROR_DISK_FULL, FALSE);
        EXPECT_FALSE(target.Write(Record(BACKUP_DATA, "first") + Record(BACKUP_DATA, "second")));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_DISK_FULL));
        EXPECT_EQ(target.m_dwWritten, 20u + 5u + 20u);
    }
    EXPECT_EQ(StandinBackupWriteOpenContexts(), before + 1);
    target.Abort();
    EXPECT_EQ(target.m_pContext, nullptr);
    EXPECT_TRUE(target.Write(Record(BACKUP_DATA, "abc").substr(0, 9)));
    target.Abort();
    target.Abort();  // no context: nothing to do
    EXPECT_EQ(StandinBackupWriteOpenContexts(), before);
    std::string negative = Record(BACKUP_DATA, "");
    std::memset(&negative[8], 0xFF, 8);
    EXPECT_FALSE(target.Write(negative));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_DATA));
    target.Abort();
    DWORD n = 0;
    EXPECT_FALSE(StandinBackupWrite(target.m_hFile.get(), LPBYTE("x"), 1, &n, FALSE, TRUE, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(StandinBackupWrite(target.m_hFile.get(), nullptr, 5, &n, FALSE, TRUE, &target.m_pContext));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(target.Write(Record(BACKUP_DATA, "abc")));
    target.Abort();
    target.m_hFile.reset();
    EXPECT_EQ(ReadFileBytes(dir.Join(L"x")), "firstabc");
    EXPECT_EQ(StandinBackupWriteOpenContexts(), before);
}

// The whole descriptor is set once, with bProcessSecurity only; a refused owner leaves the DACL
// alone and the last error kept; a malformed descriptor is never handed on. Wine takes a DACL.
TEST(StandinBackupWrite, SecurityIsSetOnceWholeAndDroppedWhenRefused)
{
    CTempDir dir;
    const std::string sd = SecurityDescriptorBytes(L"O:BAG:BAD:P(A;;FA;;;WD)");
    const std::string stream = Record(BACKUP_SECURITY_DATA, sd) + Record(BACKUP_DATA, "content");
    std::vector<SECURITY_INFORMATION> parts;
    {
        CSysHook<&CSysCalls::SetKernelObjectSecurity> hook(
            [&](HANDLE, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR p) {
                parts.push_back(info);
                EXPECT_EQ(std::string(static_cast<const char*>(p), sd.size()), sd);
                return TRUE;
            });
        EXPECT_EQ(FeedInPieces(dir.Join(L"a"), stream, {}), "content");
        EXPECT_TRUE(CBackupTarget(dir.Join(L"b")).Write(stream, /*processSecurity=*/FALSE));
    }
    EXPECT_EQ(parts,
              std::vector<SECURITY_INFORMATION>{OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                                DACL_SECURITY_INFORMATION});
    {
        CSysFailNth<&CSysCalls::SetKernelObjectSecurity> refuse(1, ERROR_INVALID_OWNER, FALSE, true);
        CBackupTarget target(dir.Join(L"c"));
        SetLastError(4321);
        EXPECT_TRUE(target.Write(stream));
        EXPECT_EQ(GetLastError(), 4321u);
        std::string absolute = sd;
        absolute[3] = 0;  // control without SE_SELF_RELATIVE
        for (const std::string& bad : {std::string("garbage"), sd.substr(0, 24), absolute})
            EXPECT_TRUE(CBackupTarget(dir.Join(L"d"))
                            .Write(Record(BACKUP_SECURITY_DATA, bad) + Record(BACKUP_DATA, "kept")));
        EXPECT_EQ(refuse.Calls(), 2);
        EXPECT_EQ(ReadFileBytes(dir.Join(L"d")), "kept");
    }
    CSysRecorder<&CSysCalls::SetKernelObjectSecurity> real;
    const std::string dacl = SecurityDescriptorBytes(L"D:(A;;FA;;;WD)");
    EXPECT_TRUE(CBackupTarget(dir.Join(L"e"))
                    .Write(Record(BACKUP_SECURITY_DATA, dacl) + Record(BACKUP_DATA, "data")));
    ASSERT_EQ(real.Count(), 1u);
    EXPECT_EQ(std::get<1>(real.Calls()[0]), SECURITY_INFORMATION(DACL_SECURITY_INFORMATION));
}
