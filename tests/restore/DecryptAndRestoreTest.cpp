// The restore operation end to end under Wine (with the stand-ins): every result code with
// its trace lines in order, and what is left of destination, index and payload.
#include "platform/BackupWriteStandin.h"
#include "platform/EfsRawStandin.h"
#include "tests/restore/RestoreFixture.h"
#include "tests/support/UnixLinks.h"
#include <memory>

TEST_F(DecryptAndRestore, RestoresChecksAndRetiresTheOnlyLocation)
{
    Store(NormalItem({kMain, kSide}));
    m_Item.files[0].attr = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE;
    StoreAs(m_Item);

    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(m_Trace.Lines(), (Lines{Call(), kNormal, kRetire, kOnlyOne, kSuccess}));
    EXPECT_EQ(ReadFileBytes(Destination()), kMain.data);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(Destination().c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.dwFileAttributes & 0xFF, DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(FileTimeOf(data.ftLastWriteTime), m_Item.files[0].lwt);
    ExpectRetired();
}

TEST_F(DecryptAndRestore, NotStartedTracesOnlyTheCall)
{
    int32_t saved = g_nVaultkitInit;
    g_nVaultkitInit = 0;
    int32_t result = VaultkitDecryptAndRestore(L"C:\\Q\\A1.xml", L"a.txt", L"C:\\D");
    g_nVaultkitInit = saved;
    EXPECT_EQ(result, 18);
    EXPECT_EQ(m_Trace.Lines(), (Lines{L"[VAULTKIT] VaultkitDecryptAndRestore(|C:\\Q\\A1.xml|, |a.txt|, |C:\\D|, |(null)|, 0, 0)"}));
}

TEST_F(DecryptAndRestore, IndexAndLocationLookup)
{
    EXPECT_EQ(VaultkitDecryptAndRestore(m_Index.c_str(), L"doc.txt", m_Folder.c_str()), 10);
    EXPECT_EQ(m_Trace.Lines().size(), 1u);

    Store(NormalItem({kMain}), {});
    EXPECT_EQ(VaultkitDecryptAndRestore(m_Index.c_str(), L"doc.txt", m_Folder.c_str()), 8);
    EXPECT_EQ(m_Trace.Lines().size(), 1u);
    EXPECT_EQ(ReadFileBytes(m_Index), m_IndexBytes);
    EXPECT_EQ(ReadFileBytes(m_Payload), m_PayloadBytes);

    Store(NormalItem({kMain}));
    const Lines notFound = {L"[VAULTKIT] VAULTKIT_ERROR_XML_DUPLICATE_ENTRY_NOT_FOUND"};
    for (const std::wstring& path : {m_Folder, m_Folder + L"\\"}) {
        for (const wchar_t* name : {L"DOC.txt", L"doc.txt"}) {
            if (path == m_Folder && std::wstring(name) == L"doc.txt")
                continue;  // the one spelling the index holds
            m_Trace.Clear();
            EXPECT_EQ(VaultkitDecryptAndRestore(m_Index.c_str(), name, path.c_str()), 9);
            EXPECT_EQ(m_Trace.Lines().size(), 2u);
            EXPECT_EQ(m_Trace.Lines().back(), notFound[0]);
        }
    }
    ExpectNothingLost();
}

TEST_F(DecryptAndRestore, TrailingBackslashInTheIndexLeadsToTheSameFile)
{
    Store(NormalItem({kMain}));
    m_Item.files[0].path = m_Folder + L"\\";
    StoreAs(m_Item);
    CFreeSpace space(1ull << 40);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(ReadFileBytes(m_Dir.Join(L"doc.txt")), kMain.data);
    EXPECT_EQ(space.m_Folders, std::vector<std::wstring>{m_Folder + L"\\"});
}

TEST_F(DecryptAndRestore, DestinationOfAtMost260Characters)
{
    std::wstring path = m_Folder + L"\\" + std::wstring(200 - m_Folder.size() - 1, L'p');
    ASSERT_EQ(path.size(), 200u);
    Store(NormalItem({kMain}), {std::wstring(56, L'n') + L".txt", std::wstring(57, L'n') + L".txt"});
    for (CTestLocation& at : m_Item.files)
        at.path = path;
    StoreAs(m_Item);

    EXPECT_EQ(Run(1), 4);
    EXPECT_EQ(m_Trace.Lines(), (Lines{Call(1), L"[VAULTKIT] VAULTKIT_ERROR_DEST_PATH_TO_BIG"}));
    // 260 in all is accepted; the folder does not exist, so the space check is skipped and
    // the writer gives up after the user attempt and the write-only attempt.
    m_Trace.Clear();
    EXPECT_EQ(Run(0), 5);
    EXPECT_EQ(m_Trace.Lines(), (Lines{Call(0), kNormal} + kCannotCreate));
    EXPECT_EQ(ReadFileBytes(m_Index), m_IndexBytes);
    EXPECT_EQ(ReadFileBytes(m_Payload), m_PayloadBytes);
}

TEST_F(DecryptAndRestore, FreeSpaceOfSizePlus1024IsEnough)
{
    CTestItem item = NormalItem({kMain});
    Store(item);
    {
        CFreeSpace space(item.size + 1023);
        EXPECT_EQ(Run(), 3);
        EXPECT_EQ(m_Trace.Lines(), (Lines{Call(), L"[VAULTKIT] VAULTKIT_ERROR_NOT_ENOUGH_SPACE"}));
        ExpectNothingLost();
    }
    // A size at the 64-bit limit must not wrap round into "fits".
    CTestItem huge = item;
    huge.size = INT64_MAX;
    Store(huge);
    {
        CFreeSpace space(1ull << 40);
        EXPECT_EQ(Run(), 3);
        ExpectNothingLost();
    }
    Store(item);
    CFreeSpace space(item.size + 1024);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(space.m_Folders, std::vector<std::wstring>{m_Folder + L"\\"});
    EXPECT_EQ(ReadFileBytes(Destination()), kMain.data);
}

TEST_F(DecryptAndRestore, FailedQueriesSkipTheirChecks)
{
    CTestItem item = NormalItem({kMain});
    item.size += 1;  // would be a size mismatch
    Store(item);
    CSysFailNth<&CSysCalls::GetDiskFreeSpaceExW> space(1, ERROR_NOT_READY, FALSE);
    // The first size asked is the index file's, as it is read.
    CSysFailNth<&CSysCalls::GetFileSizeEx> size(2, ERROR_SHARING_VIOLATION, FALSE);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(space.Failed() + size.Failed(), 2);
    EXPECT_EQ(ReadFileBytes(Destination()), kMain.data);
}

TEST_F(DecryptAndRestore, UnreadablePayload)
{
    // An index path without a dot names no payload.
    Store(NormalItem({kMain}));
    std::wstring dotless = m_Quarantine.Join(L"A1");
    ASSERT_TRUE(MoveFileW(m_Index.c_str(), dotless.c_str()));
    EXPECT_EQ(VaultkitDecryptAndRestore(dotless.c_str(), L"doc.txt", m_Folder.c_str()), 7);
    EXPECT_EQ(m_Trace.Lines().back(), kUnreadable);
    EXPECT_EQ(m_Trace.Lines().size(), 2u);
    ASSERT_TRUE(MoveFileW(dotless.c_str(), m_Index.c_str()));
    ExpectNothingLost();

    m_Trace.Clear();
    ASSERT_TRUE(DeleteFileW(m_Payload.c_str()));
    m_PayloadBytes.clear();
    EXPECT_EQ(Run(), 7);
    EXPECT_EQ(m_Trace.Lines(), (Lines{Call(), kUnreadable}));
    EXPECT_EQ(ReadFileBytes(m_Index), m_IndexBytes);

    Store(NormalItem({kMain}));
    {
        CPayloadReadFault fail(m_Payload, 3, ERROR_CRC);  // header, name, then the data
        EXPECT_EQ(Run(), 7);
        EXPECT_EQ(m_Trace.Lines(), (Lines{Call(), kNormal, kUnreadable}));
        ExpectNothingLost();
    }
    // Cut inside the data: the record ends there and the size check rejects the file.
    CTestItem cut = NormalItem({kMain});
    cut.payload.resize(cut.payload.size() - 1);
    Store(cut);
    EXPECT_EQ(Run(), 12);
    EXPECT_EQ(m_Trace.Lines(),
              (Lines{Call(), kNormal, L"[VAULTKIT] VAULTKIT_ERROR_FILE_SIZE_MISMATCH"}));
    ExpectNothingLost();
}

TEST_F(DecryptAndRestore, WriterFailuresLoseNothing)
{
    struct Case
    {
        int nth;  // BackupWrite call: 1 is the security write, 2 the first stream
        DWORD error;
        int32_t result;
        Lines lines;
    };
    const Case cases[] = {
        {1, ERROR_DISK_FULL, 3,
         {L"[VAULTKIT] BackupWrite DACL error: GetlastError = 112",
          L"[VAULTKIT] VAULTKIT_ERROR_NOT_ENOUGH_SPACE"}},
        {1, ERROR_ACCESS_DENIED, 5,
         Lines{L"[VAULTKIT] BackupWrite DACL error: GetlastError = 5"} + kImpersonation +
             Lines{L"[VAULTKIT] BackupWrite DACL: failed switching user impersonation"}},
        {2, ERROR_DISK_FULL, 3,
         {L"[VAULTKIT] Eroare Belea la backupWrite: GetlastError = 112",
          L"[VAULTKIT] VAULTKIT_ERROR_NOT_ENOUGH_SPACE"}},
        {3, ERROR_WRITE_FAULT, 5,
         {L"[VAULTKIT] Eroare Belea la backupWrite: GetlastError = 29",
          L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION 4"}},
    };
    long contexts = StandinBackupWriteOpenContexts();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nth * 1000 + c.error);
        Store(NormalItem({kMain, kSide}));
        CSysFailNth<&CSysCalls::BackupWrite> fail(c.nth, c.error, FALSE);
        EXPECT_EQ(Run(), c.result);
        EXPECT_EQ(m_Trace.Lines(), (Lines{Call(), kNormal} + c.lines));
        ExpectNothingLost();
        EXPECT_EQ(StandinBackupWriteOpenContexts(), contexts);  // released on failure too
    }
    Store(NormalItem({kMain}));
    ASSERT_TRUE(CreateDirectoryW(m_Dir.Join(L"gone").c_str(), nullptr));
    m_Item.files[0].path = m_Dir.Join(L"gone\\missing");
    StoreAs(m_Item);
    EXPECT_EQ(Run(), 5);
    EXPECT_EQ(m_Trace.Lines(), (Lines{Call(), kNormal} + kCannotCreate));
}

TEST_F(DecryptAndRestore, SizeAndDigestMismatchesDeleteTheFile)
{
    struct Case
    {
        int64_t sizeDelta;
        const char* hash;  // null: the right one
        const char* qhash;
        int32_t result;
        const wchar_t* line;
    };
    const Case cases[] = {
        {1, nullptr, nullptr, 12, L"[VAULTKIT] VAULTKIT_ERROR_FILE_SIZE_MISMATCH"},
        // The original digests are checked first.
        {0, "00", "00", 14, L"[VAULTKIT] VAULTKIT_ERROR_ORIGINAL_MD5_MISMATCH"},
        {0, nullptr, "", 11, L"[VAULTKIT] VAULTKIT_ERROR_CRYPTED_MD5_MISMATCH"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        CTestItem item = NormalItem({kMain, kSide});
        item.size += c.sizeDelta;
        if (c.hash)
            item.hash = c.hash;
        if (c.qhash)
            item.qhash = c.qhash;
        Store(item);
        m_Item.files[0].attr = FILE_ATTRIBUTE_READONLY;  // must not keep the file alive
        StoreAs(m_Item);
        EXPECT_EQ(Run(), c.result);
        EXPECT_EQ(m_Trace.Lines(), (Lines{Call(), kNormal, c.line}));
        ExpectNothingLost();
    }
}

TEST_F(DecryptAndRestore, ExistingFileStaysAndTheLocationIsRetired)
{
    Store(NormalItem({kMain}));
    ASSERT_TRUE(WriteFileBytes(Destination(), "the user's newer file"));
    EXPECT_EQ(Run(), 13);
    EXPECT_EQ(m_Trace.Lines(), (Lines{Call(), kNormal, kExists, kRetire, kOnlyOne}));
    EXPECT_EQ(ReadFileBytes(Destination()), "the user's newer file");
    ExpectRetired();
}

TEST_F(DecryptAndRestore, TwoLocationsOneAfterTheOther)
{
    Store(NormalItem({kMain}), {L"first.txt", L"second.txt"});
    EXPECT_EQ(Run(0), 0);
    EXPECT_EQ(m_Trace.Lines(), (Lines{Call(0), kNormal, kRetire, kSuccess}));
    QuarItem left;
    ASSERT_TRUE(left.LoadXml(m_Index.c_str()));
    ASSERT_EQ(left.GetFileCount(), 1u);
    EXPECT_EQ(std::wstring(left.m_Files[0].name), L"second.txt");
    EXPECT_EQ(ReadFileBytes(m_Payload), m_PayloadBytes);

    m_Trace.Clear();
    EXPECT_EQ(Run(1), 0);
    EXPECT_EQ(m_Trace.Lines(), (Lines{Call(1), kNormal, kRetire, kOnlyOne, kSuccess}));
    ExpectRetired();
    EXPECT_EQ(ReadFileBytes(Destination(0)), kMain.data);
    EXPECT_EQ(ReadFileBytes(Destination(1)), kMain.data);
}

TEST_F(DecryptAndRestore, IndexNotSavedUndoesTheRestore)
{
    Lines saveFailed = Lines{L"[VAULTKIT] Failed saving xml [5]"} + kImpersonation + Lines{kGaveUp};
    const wchar_t kCannotSave[] = L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_SAVE_XML";
    Store(NormalItem({kMain}), {L"first.txt", L"second.txt"});
    // The index is saved by a move; the restored file is renamed through its handle.
    {
        CSysFailNth<&CSysCalls::MoveFileExW> fail(1, ERROR_ACCESS_DENIED, FALSE, /*persist=*/true);
        EXPECT_EQ(Run(), 6);
        EXPECT_EQ(m_Trace.Lines(), (Lines{Call(), kNormal, kRetire} + saveFailed + Lines{kCannotSave}));
        ExpectNothingLost();
    }
    // Our file cannot be deleted either: one more user attempt, and it stays.
    m_Trace.Clear();
    {
        std::wstring destination = Destination();
        CHandleSteps refuse("remove", ERROR_SHARING_VIOLATION);
        CSysFailNth<&CSysCalls::MoveFileExW> fail(1, ERROR_ACCESS_DENIED, FALSE, /*persist=*/true);
        EXPECT_EQ(Run(), 6);
        EXPECT_EQ(m_Trace.Lines(), (Lines{Call(), kNormal, kRetire} + saveFailed + kImpersonation +
                                       Lines{kCannotSave}));
        EXPECT_TRUE(FileExists(destination));
        // Removed through the very handle that renamed it, not by its path.
        ASSERT_EQ(refuse.m_Steps.back(), "remove");
        const std::vector<std::string>& steps = refuse.m_Steps;
        size_t rename = std::find(steps.begin(), steps.end(), "rename") - steps.begin();
        ASSERT_LT(rename, steps.size());
        EXPECT_EQ(refuse.m_Handles.back(), refuse.m_Handles[rename]);
    }
    // After 13 the file at the destination is not ours: it stays whatever happens.
    m_Trace.Clear();
    ASSERT_TRUE(WriteFileBytes(Destination(), "the user's own"));
    CSysFailNth<&CSysCalls::MoveFileExW> fail(1, ERROR_ACCESS_DENIED, FALSE, /*persist=*/true);
    EXPECT_EQ(Run(), 6);
    EXPECT_EQ(m_Trace.Lines(), (Lines{Call(), kNormal, kExists, kRetire} + saveFailed + Lines{kCannotSave}));
    EXPECT_EQ(ReadFileBytes(Destination()), "the user's own");
    EXPECT_EQ(ReadFileBytes(m_Index), m_IndexBytes);
}

TEST_F(DecryptAndRestore, FailedDeletionsOfIndexAndPayloadAreBestEffort)
{
    Store(NormalItem({kMain}));
    std::vector<std::wstring> deleted;
    std::wstring refused = m_Payload;
    CSysHook<&CSysCalls::DeleteFileW> refuse([&](LPCWSTR path) {
        deleted.push_back(path);
        if (refused != path)
            return CSysHook<&CSysCalls::DeleteFileW>::Next()(path);
        g_Sys.SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    });
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(m_Trace.Lines(), (Lines{Call(), kNormal, kRetire, kOnlyOne, L"[VAULTKIT] Failed deleting cvq file [32]"} +
                                kImpersonation + Lines{kGaveUp, kSuccess}));
    EXPECT_EQ(deleted, (std::vector<std::wstring>{m_Index, m_Payload}));  // never tried twice
    EXPECT_EQ(ReadFileBytes(Destination()), kMain.data);
    EXPECT_FALSE(FileExists(m_Index));
}

// An index that cannot be deleted keeps its payload, so that the next run meets the
// restored file, answers 13 and retires the location for good.
TEST_F(DecryptAndRestore, AnIndexThatStaysKeepsItsPayloadForTheNextRun)
{
    Store(NormalItem({kMain}));
    {
        std::vector<std::wstring> deleted;
        CSysHook<&CSysCalls::DeleteFileW> refuse([&](LPCWSTR path) {
            deleted.push_back(path);
            g_Sys.SetLastError(ERROR_SHARING_VIOLATION);
            return FALSE;
        });
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(m_Trace.Lines(), (Lines{Call(), kNormal, kRetire, kOnlyOne, L"[VAULTKIT] Failed deleting xml file [32]"} +
                                    kImpersonation + Lines{kGaveUp, kSuccess}));
        EXPECT_EQ(deleted, std::vector<std::wstring>{m_Index});
    }
    EXPECT_EQ(ReadFileBytes(m_Index), m_IndexBytes);
    EXPECT_EQ(ReadFileBytes(m_Payload), m_PayloadBytes);
    EXPECT_EQ(ReadFileBytes(Destination()), kMain.data);

    m_Trace.Clear();
    EXPECT_EQ(Run(), 13);
    EXPECT_EQ(m_Trace.Lines(), (Lines{Call(), kNormal, kExists, kRetire, kOnlyOne}));
    EXPECT_EQ(ReadFileBytes(Destination()), kMain.data);
    ExpectRetired();
}

// Everything after the write goes through the one handle that created the file: a
// compressed item is compressed before its attributes are set, the file is flushed, takes
// its name without replacing anything, and gets its attributes once more, since a rename
// may set the archive bit. Only the attributes a file can be given are asked for; none
// means "normal", as 0 would leave them as they are.
TEST_F(DecryptAndRestore, AttributesAreSetBeforeAndAfterTheRenameOnTheOneHandle)
{
    struct Case
    {
        uint32_t attr;
        std::vector<std::string> steps;
    };
    const Case cases[] = {
        {FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_ARCHIVE,
         {"compress", "attributes 32", "flush", "rename", "attributes 32"}},
        {FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN,
         {"attributes 3", "flush", "rename", "attributes 3"}},
        {0, {"attributes 128", "flush", "rename", "attributes 128"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.attr);
        Store(NormalItem({kMain}));
        m_Item.files[0].attr = c.attr;
        StoreAs(m_Item);
        std::vector<HANDLE> created;
        CSysHook<&CSysCalls::CreateFileW> create(
            [&](LPCWSTR p, DWORD a, DWORD sh, LPSECURITY_ATTRIBUTES sa, DWORD d, DWORD f, HANDLE t) {
                HANDLE h = CSysHook<&CSysCalls::CreateFileW>::Next()(p, a, sh, sa, d, f, t);
                if (d == CREATE_NEW)
                    created.push_back(h);
                return h;
            });
        CHandleSteps steps;
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(steps.m_Steps, c.steps);
        ASSERT_EQ(created.size(), 1u);
        EXPECT_EQ(steps.m_Handles, std::vector<HANDLE>(c.steps.size(), created[0]));
        EXPECT_EQ(steps.m_sRenamedTo, Destination());
        EXPECT_FALSE(steps.m_bReplaced);
        EXPECT_EQ(ReadFileBytes(Destination()), kMain.data);
        ASSERT_TRUE(SetFileAttributesW(Destination().c_str(), FILE_ATTRIBUTE_NORMAL));
        ASSERT_TRUE(DeleteFileW(Destination().c_str()));
    }
}

TEST_F(DecryptAndRestore, EfsItemGoesThroughTheRawImportWithoutTimes)
{
    std::string content = "an encrypted file's raw export";
    Store(EfsItem(content));
    CSysRecorder<&CSysCalls::SetFileTime> times;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(m_Trace.Lines(),
              (Lines{Call(), kEfs, L"[VAULTKIT] --> EFSRawWriteCallback", L"[VAULTKIT] <-- EFSRawWriteCallback",
                     L"[VAULTKIT] --> EFSRawWriteCallback",
                     L"[VAULTKIT] EFSRawWriteCallback: finished reading the file",
                     L"[VAULTKIT] <-- EFSRawWriteCallback", kRetire, kOnlyOne, kSuccess}));
    EXPECT_EQ(ReadFileBytes(Destination()), content);
    EXPECT_EQ(times.Count(), 0u);
    ExpectRetired();
}

TEST_F(DecryptAndRestore, EfsItemNeverReplacesAFileAndFailsCleanly)
{
    long contexts = StandinEfsOpenContexts();
    Store(EfsItem("raw"));
    ASSERT_TRUE(WriteFileBytes(Destination(), "the user's own"));
    {
        CSysRecorder<&CSysCalls::OpenEncryptedFileRawW> open;
        EXPECT_EQ(Run(), 13);
        EXPECT_EQ(m_Trace.Lines(), (Lines{Call(), kEfs, kExists, kRetire, kOnlyOne}));
        EXPECT_EQ(open.Count(), 0u);
        EXPECT_EQ(ReadFileBytes(Destination()), "the user's own");
        ExpectRetired();
    }
    ASSERT_TRUE(DeleteFileW(Destination().c_str()));
    Store(EfsItem("raw"));
    {
        CSysFailNth<&CSysCalls::OpenEncryptedFileRawW> fail(1, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED);
        EXPECT_EQ(Run(), 5);
        EXPECT_EQ(m_Trace.Lines(),
                  (Lines{Call(), kEfs, L"[VAULTKIT] OpenEncryptedFileRaw [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (5)]"}));
        ExpectNothingLost();
    }
    m_Trace.Clear();
    CPayloadReadFault fail(m_Payload, 1, ERROR_CRC);
    EXPECT_EQ(Run(), 5);
    EXPECT_EQ(m_Trace.Lines().back(),
              L"[VAULTKIT] WriteEncryptedFileRaw [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (23)]");
    ExpectNothingLost();
    EXPECT_EQ(StandinEfsOpenContexts(), contexts);
}

// The restored file is written under a staging name and only takes the item's name once
// size and digests are proven, so a run cut short leaves nothing under that name.
TEST_F(DecryptAndRestore, TheFileTakesItsNameOnlyOnceVerified)
{
    Store(NormalItem({kMain, kSide}));
    std::wstring destination = Destination();
    std::wstring staging = Staging();
    std::vector<bool> destinationSeen;
    std::vector<bool> stagingSeen;
    CSysHook<&CSysCalls::BackupWrite> watch(
        [&](HANDLE h, LPBYTE b, DWORD n, LPDWORD w, BOOL abort, BOOL sec, LPVOID* ctx) {
            destinationSeen.push_back(FileExists(destination));
            stagingSeen.push_back(FileExists(staging));
            return CSysHook<&CSysCalls::BackupWrite>::Next()(h, b, n, w, abort, sec, ctx);
        });
    CHandleSteps steps;
    EXPECT_EQ(Run(), 0);
    ASSERT_FALSE(destinationSeen.empty());
    EXPECT_EQ(destinationSeen, std::vector<bool>(destinationSeen.size(), false));
    EXPECT_EQ(stagingSeen, std::vector<bool>(stagingSeen.size(), true));
    EXPECT_EQ(steps.m_sRenamedTo, destination);
    EXPECT_EQ(ReadFileBytes(destination), kMain.data);
    EXPECT_EQ(StagingFiles(), 0u);
    ExpectRetired();
}

TEST_F(DecryptAndRestore, AnUnfinishedRestoreOfAnEarlierRunIsReplaced)
{
    Store(NormalItem({kMain}));
    std::wstring staging = Staging();
    ASSERT_TRUE(WriteFileBytes(staging, "the first half of"));
    ASSERT_TRUE(SetFileAttributesW(staging.c_str(), FILE_ATTRIBUTE_READONLY));
    {
        CHandleSteps refuse("remove", ERROR_ACCESS_DENIED);
        EXPECT_EQ(Run(), 5);
        EXPECT_EQ(m_Trace.Lines(),
                  (Lines{Call(), kNormal, L"[VAULTKIT] Cannot remove unfinished restore " + staging + L" [5]"}));
        EXPECT_EQ(ReadFileBytes(m_Index), m_IndexBytes);
        EXPECT_EQ(ReadFileBytes(m_Payload), m_PayloadBytes);
        EXPECT_FALSE(FileExists(Destination()));
    }
    m_Trace.Clear();
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(m_Trace.Lines(), (Lines{Call(), kNormal, L"[VAULTKIT] Removed unfinished restore " + staging,
                                      kRetire, kOnlyOne, kSuccess}));
    EXPECT_EQ(ReadFileBytes(Destination()), kMain.data);
    EXPECT_EQ(StagingFiles(), 0u);
}

TEST_F(DecryptAndRestore, AFileThatTurnsUpMeanwhileIsKept)
{
    Store(NormalItem({kMain}));
    std::wstring destination = Destination();
    CSysHook<&CSysCalls::BackupWrite> arrive(
        [&](HANDLE h, LPBYTE b, DWORD n, LPDWORD w, BOOL abort, BOOL sec, LPVOID* ctx) {
            if (!FileExists(destination))
                WriteFileBytes(destination, "arrived meanwhile");
            return CSysHook<&CSysCalls::BackupWrite>::Next()(h, b, n, w, abort, sec, ctx);
        });
    EXPECT_EQ(Run(), 13);
    EXPECT_EQ(m_Trace.Lines(), (Lines{Call(), kNormal, kExists, kRetire, kOnlyOne}));
    EXPECT_EQ(ReadFileBytes(destination), "arrived meanwhile");
    EXPECT_EQ(StagingFiles(), 0u);
    ExpectRetired();
}

// A link that turns up under the item's name is neither replaced nor taken for the
// user's file: the item stays, and what the link leads to is untouched.
TEST_F(DecryptAndRestore, ALinkThatTurnsUpMeanwhileIsNeitherReplacedNorRetired)
{
    CTempDir elsewhere;
    std::wstring victim = elsewhere.Join(L"victim.dll");
    ASSERT_TRUE(WriteFileBytes(victim, "not to be touched"));
    Store(NormalItem({kMain}));
    std::wstring destination = Destination();
    std::unique_ptr<CUnixSymlink> link;
    CSysHook<&CSysCalls::BackupWrite> arrive(
        [&](HANDLE h, LPBYTE b, DWORD n, LPDWORD w, BOOL abort, BOOL sec, LPVOID* ctx) {
            if (!link)
                link = std::make_unique<CUnixSymlink>(destination, victim);
            return CSysHook<&CSysCalls::BackupWrite>::Next()(h, b, n, w, abort, sec, ctx);
        });
    EXPECT_EQ(Run(), 5);
    ASSERT_TRUE(link && link->Made());
    EXPECT_EQ(m_Trace.Lines(),
              (Lines{Call(), kNormal, L"[VAULTKIT] MoveFileEx [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (183)]"}));
    EXPECT_EQ(ReadFileBytes(victim), "not to be touched");
    EXPECT_EQ(ReadFileBytes(m_Index), m_IndexBytes);
    EXPECT_EQ(ReadFileBytes(m_Payload), m_PayloadBytes);
    EXPECT_EQ(StagingFiles(), 0u);
}

// A file whose data may not have reached the disk is never put in place: the quarantined
// copy stays the only sure one.
TEST_F(DecryptAndRestore, AFailedFlushOrRenameOrAFolderInTheWayLosesNothing)
{
    Store(NormalItem({kMain}));
    m_Item.files[0].attr = FILE_ATTRIBUTE_READONLY;  // must not keep the staging file alive
    StoreAs(m_Item);
    const std::pair<const char*, const wchar_t*> refusals[] = {
        {"flush", L"[VAULTKIT] FlushFileBuffers [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (29)]"},
        {"rename", L"[VAULTKIT] MoveFileEx [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (29)]"},
    };
    for (const auto& [step, line] : refusals) {
        m_Trace.Clear();
        CHandleSteps refuse(step, ERROR_WRITE_FAULT);
        EXPECT_EQ(Run(), 5);
        EXPECT_EQ(m_Trace.Lines(), (Lines{Call(), kNormal, line}));
        EXPECT_EQ(refuse.m_Steps.back(), "remove");
        ExpectNothingLost();
    }
    // A folder of the item's name is not the user's file: the item stays in the quarantine.
    m_Trace.Clear();
    ASSERT_TRUE(CreateDirectoryW(Destination().c_str(), nullptr));
    EXPECT_EQ(Run(), 5);
    EXPECT_EQ(m_Trace.Lines(),
              (Lines{Call(), kNormal, L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION give up"}));
    EXPECT_EQ(ReadFileBytes(m_Index), m_IndexBytes);
    EXPECT_EQ(ReadFileBytes(m_Payload), m_PayloadBytes);
    EXPECT_EQ(StagingFiles(), 0u);
}

// When the destination cannot be looked at, the rename decides: it never replaces.
TEST_F(DecryptAndRestore, AnUnansweredProbeLeavesTheDecisionToTheRename)
{
    Store(EfsItem("raw content"));
    std::wstring destination = Destination();
    CRefuseOpen probe(destination, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(ReadFileBytes(destination), "raw content");
    ExpectRetired();

    // The rename refuses, and what it refused for cannot be told either: a file is kept
    // and so is the item, for a later run to decide.
    ASSERT_TRUE(WriteFileBytes(destination, "the user's own"));
    Store(NormalItem({kMain}));
    EXPECT_EQ(Run(), 5);
    EXPECT_EQ(m_Trace.Lines(),
              (Lines{Call(), kNormal, L"[VAULTKIT] MoveFileEx [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (183)]"}));
    EXPECT_EQ(ReadFileBytes(destination), "the user's own");
    EXPECT_EQ(ReadFileBytes(m_Index), m_IndexBytes);
    EXPECT_EQ(ReadFileBytes(m_Payload), m_PayloadBytes);
    EXPECT_EQ(StagingFiles(), 0u);
}

// A folder so deep that the staging path passes MAX_PATH: it is reached by its long form.
TEST_F(DecryptAndRestore, DeepFolderStagesThroughTheLongPathForm)
{
    std::wstring folder = m_Folder;
    while (folder.size() < 250) {
        folder += L"\\" + std::wstring(std::min<size_t>(40, 250 - folder.size()), L'd');
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr)) << folder.size();
    }
    Store(NormalItem({kMain}), {L"deep.txt"});
    m_Item.files[0].path = folder;
    StoreAs(m_Item);
    ASSERT_EQ(Staging().compare(0, 4, L"\\\\?\\"), 0);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(ReadFileBytes(L"\\\\?\\" + folder + L"\\deep.txt"), kMain.data);
    EXPECT_EQ(FilesIn(L"\\\\?\\" + folder), std::vector<std::wstring>{L"deep.txt"});
    ExpectRetired();
}
