// The restore operation under Wine (with the stand-ins): every result code with its trace
// lines in order, and what is left of destination, index and payload.
#include "platform/BackupWriteStandin.h"
#include "platform/EfsRawStandin.h"
#include "tests/restore/RestoreFixture.h"
#include "tests/support/UnixLinks.h"
#include <functional>

namespace {

int64_t FileTimeOf(const FILETIME& ft)
{
    return int64_t((uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

// Free space as GetDiskFreeSpaceExW reports it, the folders it was asked for noted.
Hold FreeSpace(uint64_t bytes, std::vector<std::wstring>* folders = nullptr)
{
    return std::make_shared<CSysHook<&CSysCalls::GetDiskFreeSpaceExW>>(
        [=](LPCWSTR folder, PULARGE_INTEGER caller, PULARGE_INTEGER total, PULARGE_INTEGER free) {
            if (folders)
                folders->push_back(folder);
            caller->QuadPart = total->QuadPart = ~0ull;  // the quota view is not the one that counts
            free->QuadPart = bytes;
            return TRUE;
        });
}

} // namespace

// Content, attributes and times come back; each location leaves the index as it is
// restored, the last one takes index and payload with it.
TEST_F(DecryptAndRestore, RestoresChecksAndRetiresEveryLocation)
{
    CItemDescription item = Item({L"first.txt", L"second.txt"});
    item.attr = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE;
    Store(item);
    EXPECT_EQ(Run(0), 0);
    EXPECT_EQ(m_Trace.Lines(), Traced({kNormal, kRetire, kSuccess}, 0));
    QuarItem left;
    ASSERT_TRUE(left.LoadXml(m_Index.c_str()));
    ASSERT_EQ(left.GetFileCount(), 1u);
    EXPECT_EQ(std::wstring(left.m_Files[0].name), L"second.txt");
    EXPECT_EQ(ReadFileBytes(m_Payload), m_PayloadBytes);

    m_Trace.Clear();
    EXPECT_EQ(Run(1), 0);
    EXPECT_EQ(m_Trace.Lines(), Traced({kNormal, kRetire, kOnlyOne, kSuccess}, 1));
    ExpectRetired();
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(ReadFileBytes(Destination(i)), kContent);
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExW(Destination(i).c_str(), GetFileExInfoStandard, &data));
        EXPECT_EQ(data.dwFileAttributes & 0xFF, DWORD(item.attr));
        EXPECT_EQ(FileTimeOf(data.ftLastWriteTime), item.lwt);
    }
}

TEST_F(DecryptAndRestore, EfsItemGoesThroughTheRawImportWithoutTimes)
{
    Store(EfsItem("an encrypted file's raw export"));
    CSysRecorder<&CSysCalls::SetFileTime> times;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(m_Trace.Lines(), Traced(Lines{kEfs} + kEfsReads + Lines{kRetire, kOnlyOne, kSuccess}));
    EXPECT_EQ(ReadFileBytes(Destination()), "an encrypted file's raw export");
    EXPECT_EQ(times.Count(), 0u);
    ExpectRetired();
}

// Refused before a file is created: the quarantine stays as it is.
TEST_F(DecryptAndRestore, RefusalsBeforeAnythingIsWritten)
{
    // 10 and 8 are told by the call line alone.
    EXPECT_EQ(VaultkitDecryptAndRestore(m_Index.c_str(), L"doc.txt", m_Folder.c_str()), 10);
    EXPECT_EQ(m_Trace.Lines().size(), 1u);
    Store(Item({}));
    EXPECT_EQ(VaultkitDecryptAndRestore(m_Index.c_str(), L"doc.txt", m_Folder.c_str()), 8);
    EXPECT_EQ(m_Trace.Lines().size(), 1u);
    Store(Item());
    for (const std::wstring& path : {m_Folder + L"\\", m_Folder})  // names and paths are exact
        EXPECT_EQ(VaultkitDecryptAndRestore(m_Index.c_str(), path.back() == L'\\' ? L"doc.txt" : L"DOC.txt", path.c_str()), 9);
    EXPECT_EQ(m_Trace.Lines().back(), L"[VAULTKIT] VAULTKIT_ERROR_XML_DUPLICATE_ENTRY_NOT_FOUND");
    EXPECT_EQ(m_Trace.Lines().size(), 4u);

    // Folder and name of at most 260 characters in all pass; this folder does not exist, so
    // the space check is skipped and the writer gives up after both creates.
    const std::wstring deep = m_Folder + L"\\" + std::wstring(199 - m_Folder.size(), L'p');
    struct Case
    {
        std::wstring path;
        std::wstring name;
        uint64_t freeBytes;
        int32_t result;
        Lines after;
    };
    const Case cases[] = {
        {deep, std::wstring(57, L'n') + L".txt", ~0ull, 4, {L"[VAULTKIT] VAULTKIT_ERROR_DEST_PATH_TO_BIG"}},
        {deep, std::wstring(56, L'n') + L".txt", ~0ull, 5, Lines{kNormal} + kCannotCreate},
        {m_Folder, L"doc.txt", kContent.size() + 1023, 3, {L"[VAULTKIT] VAULTKIT_ERROR_NOT_ENOUGH_SPACE"}},
        {m_Folder, L"CON", ~0ull, 5, {kRefused + std::wstring(L"not a file name |CON|")}},
        {L"C:", L"doc.txt", ~0ull, 5, {kRefused + std::wstring(L"not a full folder path |C:|")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        CItemDescription item = Item();
        item.locations = {{c.name, c.path}};
        Store(item);
        Hold space = FreeSpace(c.freeBytes);
        CSysRecorder<&CSysCalls::CreateFileW> opens;
        EXPECT_EQ(Run(), c.result);
        EXPECT_EQ(m_Trace.Lines(), Traced(c.after));
        ExpectItemKept();
        if (c.after.size() == 1)  // nothing opened but the index
            EXPECT_EQ(opens.Count(), 1u);
    }
    // A size at the 64-bit limit must not wrap round into "fits"; exactly size + 1024 fits,
    // asked for the folder with its backslash.
    CItemDescription huge = Item();
    huge.damages = {{EItemDamage::WrongSize, INT64_MAX}};
    Store(huge);
    Hold space = FreeSpace(1ull << 40);
    EXPECT_EQ(Run(), 3);
    std::vector<std::wstring> asked;
    Store(Item());
    space.reset();  // hooks go in the order they came
    space = FreeSpace(kContent.size() + 1024, &asked);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(asked, Lines{m_Folder + L"\\"});
    // Not started: only the call is traced.
    Store(Item());
    int32_t started = g_nVaultkitInit;
    g_nVaultkitInit = 0;
    EXPECT_EQ(Run(), 18);
    g_nVaultkitInit = started;
    EXPECT_EQ(m_Trace.Lines(), Traced({}));
}

// A failure between the create and the rename: the quarantine as it was, no file of ours,
// no backup or import context left open.
TEST_F(DecryptAndRestore, FailuresAfterTheCreateLoseNothing)
{
    const wchar_t kSizeDiffers[] = L"[VAULTKIT] VAULTKIT_ERROR_FILE_SIZE_MISMATCH";
    struct Case
    {
        bool efs;
        std::vector<CItemDamage> damages;
        std::function<Hold()> hook;
        int32_t result;
        Lines after;
    };
    const Case cases[] = {
        {false, {}, [] { return std::make_shared<CSysFailNth<&CSysCalls::BackupWrite>>(2, ERROR_DISK_FULL, FALSE); }, 3,
         {L"[VAULTKIT] Eroare Belea la backupWrite: GetlastError = 112", L"[VAULTKIT] VAULTKIT_ERROR_NOT_ENOUGH_SPACE"}},
        {false, {}, [&] { return std::make_shared<CPayloadReadFault>(m_Payload, 3, ERROR_CRC); }, 7,
         {L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_READ_SOURCE"}},
        // Cut inside the main data: the record ends there, the size tells.
        {false, {{EItemDamage::TruncatePayload, 40}}, nullptr, 12, {kSizeDiffers}},
        {false, {{EItemDamage::WrongSize, {}}}, nullptr, 12, {kSizeDiffers}},
        // The original digests are checked first.
        {false, {{EItemDamage::WrongHash, {}}, {EItemDamage::WrongQhash, {}}}, nullptr, 14,
         {L"[VAULTKIT] VAULTKIT_ERROR_ORIGINAL_MD5_MISMATCH"}},
        {false, {{EItemDamage::WrongQhash, {}}}, nullptr, 11, {L"[VAULTKIT] VAULTKIT_ERROR_CRYPTED_MD5_MISMATCH"}},
        {false, {}, [] { return std::make_shared<CHandleSteps>("flush", ERROR_WRITE_FAULT); }, 5,
         {L"[VAULTKIT] FlushFileBuffers [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (29)]"}},
        {false, {}, [] { return std::make_shared<CHandleSteps>("rename", ERROR_WRITE_FAULT); }, 5,
         {L"[VAULTKIT] MoveFileEx [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (29)]"}},
        {true, {}, [] { return std::make_shared<CSysFailNth<&CSysCalls::OpenEncryptedFileRawW>>(1, 5, 5u); }, 5,
         {L"[VAULTKIT] OpenEncryptedFileRaw [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (5)]"}},
        {true, {}, [&] { return std::make_shared<CPayloadReadFault>(m_Payload, 1, ERROR_CRC); }, 5,
         {L"[VAULTKIT] --> EFSRawWriteCallback", L"[VAULTKIT] <-- EFSRawWriteCallback VAULTKIT_ERROR_CANNOT_READ_SOURCE (23)",
          L"[VAULTKIT] WriteEncryptedFileRaw [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (23)]"}},
        {true, {{EItemDamage::WrongSize, {}}}, nullptr, 12, kEfsReads + Lines{kSizeDiffers}},
    };
    long backups = StandinBackupWriteOpenContexts();
    long imports = StandinEfsOpenContexts();
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        CItemDescription item = c.efs ? EfsItem("raw") : Item();
        item.attr = FILE_ATTRIBUTE_READONLY;  // must not keep the file alive
        item.damages = c.damages;
        Store(item);
        Hold hook = c.hook ? c.hook() : nullptr;
        EXPECT_EQ(Run(), c.result);
        EXPECT_EQ(m_Trace.Lines(), Traced(Lines{c.efs ? kEfs : kNormal} + c.after));
        ExpectNothingLost();
    }
    EXPECT_EQ(StandinBackupWriteOpenContexts(), backups);
    EXPECT_EQ(StandinEfsOpenContexts(), imports);
}

// A file that stands at the destination, before or by the time of the rename, is the
// user's: it stays and the location is retired (13). Anything else there, a link or what
// cannot be told, keeps the item for a later run.
TEST_F(DecryptAndRestore, WhatStandsAtTheDestinationStays)
{
    CTempDir elsewhere;
    const std::wstring victim = elsewhere.Join(L"victim.dll");
    ASSERT_TRUE(WriteFileBytes(victim, "not to be touched"));
    const std::wstring moveFailed = L"[VAULTKIT] MoveFileEx [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (183)]";
    std::unique_ptr<CUnixSymlink> link;
    auto userFile = [&] { WriteFileBytes(Destination(), "the user's own"); };
    struct Case
    {
        bool efs;
        std::function<void()> before;  // what stands there when the restore starts
        std::function<void()> during;  // what turns up while the file is written
        bool probeRefused;             // the destination cannot be looked at
        int32_t result;
        Lines after;
        std::string standing;          // what the destination reads afterwards
    };
    const Case cases[] = {
        {false, userFile, nullptr, false, 13, {kExists, kRetire, kOnlyOne}, "the user's own"},
        {true, userFile, nullptr, false, 13, {kExists, kRetire, kOnlyOne}, "the user's own"},
        {false, nullptr, userFile, false, 13, {kExists, kRetire, kOnlyOne}, "the user's own"},
        {false, nullptr, [&] { link = std::make_unique<CUnixSymlink>(Destination(), victim); }, false, 5,
         {moveFailed}, "not to be touched"},
        {false, userFile, nullptr, true, 5, {moveFailed}, "the user's own"},
        {false, [&] { CreateDirectoryW(Destination().c_str(), nullptr); }, nullptr, false, 5,
         {kRefused + std::wstring(L"give up")}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        Store(c.efs ? EfsItem("raw") : Item());
        if (c.before)
            c.before();
        CSysRecorder<&CSysCalls::OpenEncryptedFileRawW> imports;
        CSysHook<&CSysCalls::BackupWrite> arrive([&](HANDLE h, LPBYTE b, DWORD n, LPDWORD w, BOOL abort, BOOL sec, LPVOID* ctx) {
            if (c.during && !FileExists(Destination()))
                c.during();
            return CSysHook<&CSysCalls::BackupWrite>::Next()(h, b, n, w, abort, sec, ctx);
        });
        std::unique_ptr<CRefuseOpen> probe(c.probeRefused ? new CRefuseOpen(Destination(), ERROR_ACCESS_DENIED) : nullptr);
        EXPECT_EQ(Run(), c.result);
        EXPECT_EQ(m_Trace.Lines(), Traced(Lines{c.efs ? kEfs : kNormal} + c.after));
        EXPECT_EQ(imports.Count(), 0u);
        EXPECT_EQ(StagingFiles(), 0u);
        if (c.result == 13)
            ExpectRetired();
        else
            ExpectItemKept();
        probe.reset();
        EXPECT_EQ(ReadFileBytes(Destination()), c.standing);
        EXPECT_EQ(ReadFileBytes(victim), "not to be touched");
        link.reset();
        DeleteFileW(Destination().c_str());
        RemoveDirectoryW(Destination().c_str());
    }
}

// When the destination cannot be looked at, the rename decides: it never replaces.
TEST_F(DecryptAndRestore, AnUnansweredProbeLeavesTheDecisionToTheRename)
{
    Store(EfsItem("raw content"));
    CRefuseOpen probe(Destination(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(ReadFileBytes(Destination()), "raw content");
    ExpectRetired();
}

// The index cannot be written: the location stays in the quarantine and the restored file
// goes again, through the very handle that renamed it. After 13 the file is not ours.
TEST_F(DecryptAndRestore, IndexNotSavedUndoesTheRestore)
{
    const Lines saveFailed = Lines{kRetire, L"[VAULTKIT] Failed saving xml [5]"} + kImpersonation + Lines{kGaveUp};
    const wchar_t kCannotSave[] = L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_SAVE_XML";
    struct Case
    {
        bool userFile;      // a file stood there before: 13
        bool removeRefused; // our file cannot be removed either: one more user attempt
        Lines after;
    };
    const Case cases[] = {
        {false, false, Lines{kNormal} + saveFailed + Lines{kCannotSave}},
        {false, true, Lines{kNormal} + saveFailed + kImpersonation + Lines{kCannotSave}},
        {true, true, Lines{kNormal, kExists} + saveFailed + Lines{kCannotSave}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        Store(Item({L"first.txt", L"second.txt"}));
        if (c.userFile)
            ASSERT_TRUE(WriteFileBytes(Destination(), "the user's own"));
        CHandleSteps steps(c.removeRefused ? "remove" : "", ERROR_SHARING_VIOLATION);
        CSysFailNth<&CSysCalls::MoveFileExW> save(1, ERROR_ACCESS_DENIED, FALSE, /*persist=*/true);
        EXPECT_EQ(Run(), 6);
        EXPECT_EQ(m_Trace.Lines(), Traced(c.after));
        ExpectItemKept();
        EXPECT_EQ(ReadFileBytes(Destination()), c.userFile ? "the user's own" : c.removeRefused ? kContent : "");
        if (!c.userFile) {
            const std::vector<std::string>& done = steps.m_Steps;
            size_t rename = std::find(done.begin(), done.end(), "rename") - done.begin();
            ASSERT_LT(rename, done.size());
            EXPECT_EQ(done.back(), "remove");
            EXPECT_EQ(steps.m_Handles.back(), steps.m_Handles[rename]);
        }
        DeleteFileW(Destination().c_str());
    }
}

// The last location takes index and payload with it, best effort, each tried once. The
// payload goes only once its index is gone: an index that stays keeps its payload, so the
// next run meets the restored file, answers 13 and retires the location for good.
TEST_F(DecryptAndRestore, IndexAndPayloadGoBestEffortPayloadLast)
{
    for (bool indexStays : {false, true}) {
        Store(Item());
        std::vector<std::wstring> deleted;
        const std::wstring refused = indexStays ? m_Index : m_Payload;
        {
            CSysHook<&CSysCalls::DeleteFileW> refuse([&](LPCWSTR path) {
                deleted.push_back(path);
                if (refused != path)
                    return CSysHook<&CSysCalls::DeleteFileW>::Next()(path);
                g_Sys.SetLastError(ERROR_SHARING_VIOLATION);
                return FALSE;
            });
            EXPECT_EQ(Run(), 0);
        }
        const std::wstring failed = indexStays ? L"[VAULTKIT] Failed deleting xml file [32]" : L"[VAULTKIT] Failed deleting cvq file [32]";
        EXPECT_EQ(m_Trace.Lines(), Traced(Lines{kNormal, kRetire, kOnlyOne, failed} + kImpersonation + Lines{kGaveUp, kSuccess}));
        EXPECT_EQ(deleted, (indexStays ? Lines{m_Index} : Lines{m_Index, m_Payload}));
        EXPECT_EQ(ReadFileBytes(Destination()), kContent);
        EXPECT_EQ(FileExists(m_Index), indexStays);
        EXPECT_TRUE(FileExists(m_Payload));
        if (!indexStays)
            DeleteFileW(Destination().c_str());
    }
    m_Trace.Clear();
    EXPECT_EQ(Run(), 13);
    EXPECT_EQ(m_Trace.Lines(), Traced({kNormal, kExists, kRetire, kOnlyOne}));
    EXPECT_EQ(ReadFileBytes(Destination()), kContent);
    ExpectRetired();
}

// Everything after the write goes through the one handle that created the file, which
// has the staging name while the data goes in: a compressed item is compressed before its
// attributes are set, the file is flushed, takes its name without replacing anything, and
// gets its attributes once more, since a rename may set the archive bit. Only attributes
// a file can be given are asked for; none means "normal", as 0 would leave them be.
TEST_F(DecryptAndRestore, AfterTheWriteEverythingGoesThroughTheOneHandle)
{
    struct Case
    {
        uint32_t attr;
        std::vector<std::string> steps;
    };
    const Case cases[] = {
        {FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_ARCHIVE, {"compress", "attributes 32", "flush", "rename", "attributes 32"}},
        {FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, {"attributes 3", "flush", "rename", "attributes 3"}},
        {0, {"attributes 128", "flush", "rename", "attributes 128"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.attr);
        CItemDescription item = Item();
        item.attr = c.attr;
        Store(item);
        std::vector<HANDLE> created;
        CSysHook<&CSysCalls::CreateFileW> create([&](LPCWSTR p, DWORD a, DWORD sh, LPSECURITY_ATTRIBUTES sa, DWORD d, DWORD f, HANDLE t) {
            HANDLE h = CSysHook<&CSysCalls::CreateFileW>::Next()(p, a, sh, sa, d, f, t);
            if (d == CREATE_NEW)
                created.push_back(h);
            return h;
        });
        std::vector<bool> whereWritten;  // staging name there, destination not
        CSysHook<&CSysCalls::BackupWrite> watch([&](HANDLE h, LPBYTE b, DWORD n, LPDWORD w, BOOL abort, BOOL sec, LPVOID* ctx) {
            whereWritten.push_back(FileExists(Staging()) && !FileExists(Destination()));
            return CSysHook<&CSysCalls::BackupWrite>::Next()(h, b, n, w, abort, sec, ctx);
        });
        CHandleSteps steps;
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(steps.m_Steps, c.steps);
        ASSERT_EQ(created.size(), 1u);
        EXPECT_EQ(steps.m_Handles, std::vector<HANDLE>(c.steps.size(), created[0]));
        EXPECT_EQ(steps.m_sRenamedTo, Destination());
        EXPECT_FALSE(steps.m_bReplaced);
        EXPECT_EQ(whereWritten, std::vector<bool>(4, true));  // security, two records, release
        EXPECT_EQ(ReadFileBytes(Destination()), kContent);
        EXPECT_EQ(StagingFiles(), 0u);
        ASSERT_TRUE(SetFileAttributesW(Destination().c_str(), FILE_ATTRIBUTE_NORMAL));
        ASSERT_TRUE(DeleteFileW(Destination().c_str()));
    }
}

// The staging name is the same for a location every time, so what a run cut short left
// there is found, removed (read-only or not) and written anew; a leftover that cannot be
// removed keeps the item.
TEST_F(DecryptAndRestore, AnUnfinishedRestoreOfAnEarlierRunIsReplaced)
{
    Store(Item());
    const std::wstring staging = Staging();
    ASSERT_TRUE(WriteFileBytes(staging, "the first half of"));
    ASSERT_TRUE(SetFileAttributesW(staging.c_str(), FILE_ATTRIBUTE_READONLY));
    {
        CHandleSteps refuse("remove", ERROR_ACCESS_DENIED);
        EXPECT_EQ(Run(), 5);
        EXPECT_EQ(m_Trace.Lines(), Traced({kNormal, L"[VAULTKIT] Cannot remove unfinished restore " + staging + L" [5]"}));
        EXPECT_EQ(ReadFileBytes(m_Index), m_IndexBytes);
        EXPECT_FALSE(FileExists(Destination()));
    }
    m_Trace.Clear();
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(m_Trace.Lines(), Traced({kNormal, L"[VAULTKIT] Removed unfinished restore " + staging, kRetire, kOnlyOne, kSuccess}));
    EXPECT_EQ(ReadFileBytes(Destination()), kContent);
    EXPECT_EQ(StagingFiles(), 0u);
}

// A folder given with a backslash at its end, and one so deep that the staging path passes
// MAX_PATH, reached by its long form.
TEST_F(DecryptAndRestore, FolderSpellingsAndDepths)
{
    std::wstring deep = m_Folder;
    while (deep.size() < 250) {
        deep += L"\\" + std::wstring(std::min<size_t>(40, 250 - deep.size()), L'd');
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr)) << deep.size();
    }
    for (const std::wstring& folder : {m_Folder + L"\\", deep}) {
        CItemDescription item = Item();
        item.locations = {{L"deep.txt", folder}};
        Store(item);
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(ReadFileBytes(L"\\\\?\\" + Destination()), kContent);
        EXPECT_FALSE(FileExists(Staging()));
        ExpectRetired();
    }
    EXPECT_EQ(Staging().compare(0, 4, L"\\\\?\\"), 0);
}
