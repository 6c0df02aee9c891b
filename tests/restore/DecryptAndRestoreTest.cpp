// The restore under Wine: each result with its trace, and what is left of destination, index, payload.
#include "platform/BackupWriteStandin.h"
#include "platform/EfsRawStandin.h"
#include "restore/Writers.h"
#include "tests/restore/RestoreFixture.h"
#include "tests/support/UnixLinks.h"
#include "tools/common/PseudoRandom.h"
#include <functional>

namespace {

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

// Makes something turn up at the destination while the file is written.
struct CArrival
{
    explicit CArrival(std::function<void(CArrival&)> arrive)
        : m_Hook([this, arrive](HANDLE h, LPBYTE b, DWORD n, LPDWORD w, BOOL abort, BOOL sec, LPVOID* ctx) {
              if (!m_bArrived)
                  arrive(*this);
              m_bArrived = true;
              return CSysHook<&CSysCalls::BackupWrite>::Next()(h, b, n, w, abort, sec, ctx);
          })
    {
    }
    std::unique_ptr<CUnixSymlink> m_Link;  // goes after the hook
    bool m_bArrived = false;
    CSysHook<&CSysCalls::BackupWrite> m_Hook;
};

} // namespace

// Content, attributes, times come back; the last location takes index and payload. BackupWrite
// gets the security, then records in runs of one buffer at most, on one context the abort releases.
TEST_F(DecryptAndRestore, RestoresChecksAndRetiresEveryLocation)
{
    CItemDescription item = Item({L"first.txt", L"second.txt"});
    item.locations[1].path += L"\\";  // the same folder, spelt with its backslash
    item.content.resize(150000, 'c');
    item.attr = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE;
    Store(item);
    std::vector<std::tuple<std::string, BOOL, LPVOID*, LPVOID>> backups;  // bytes, abort, slot, context
    CSysHook<&CSysCalls::BackupWrite> backup(
        [&](HANDLE h, LPBYTE b, DWORD n, LPDWORD w, BOOL abort, BOOL sec, LPVOID* ctx) {
            EXPECT_TRUE(sec);
            backups.emplace_back(std::string(reinterpret_cast<char*>(b), b ? n : 0), abort, ctx, *ctx);
            return CSysHook<&CSysCalls::BackupWrite>::Next()(h, b, n, w, abort, sec, ctx);
        });
    std::vector<DWORD> create;  // access, sharing, flags of the staging file's create
    std::vector<bool> unfollowed;  // the looks at staging name and destination: links not followed
    CSysHook<&CSysCalls::CreateFileW> creates(
        [&](LPCWSTR p, DWORD a, DWORD sh, LPSECURITY_ATTRIBUTES sa, DWORD d, DWORD f, HANDLE t) {
            if (d == CREATE_NEW && create.empty()) // the first: the index save makes one later
                create = {a, sh, f};
            if (d == OPEN_EXISTING && (Staging() == p || Destination() == p))
                unfollowed.push_back(f & FILE_FLAG_OPEN_REPARSE_POINT);
            return CSysHook<&CSysCalls::CreateFileW>::Next()(p, a, sh, sa, d, f, t);
        });
    EXPECT_EQ(Run(0), 0);
    EXPECT_EQ(m_Trace.Lines(), Traced({kNormal, kRetire, kSuccess}, 0));
    EXPECT_EQ(create, (std::vector<DWORD>{GENERIC_WRITE | ACCESS_SYSTEM_SECURITY | FILE_ALL_ACCESS, 0,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN}));
    EXPECT_EQ(unfollowed, std::vector<bool>(2, true));
    const std::string main = MakeStreamRecord({1, 0, L"", item.content});
    const std::vector<std::string> expected = {
        MakeStreamRecord({BACKUP_SECURITY_DATA, STREAM_CONTAINS_SECURITY, L"", "no-sd-ok"}),
        main.substr(0, 65536),
        main.substr(65536, 65536),
        main.substr(131072),
        MakeStreamRecord(item.extraStreams[0]),
        ""};
    ASSERT_EQ(backups.size(), expected.size());
    for (size_t i = 0; i < backups.size(); ++i) {
        EXPECT_TRUE(std::get<0>(backups[i]) == expected[i]) << i;
        EXPECT_EQ(std::get<1>(backups[i]), i + 1 == backups.size()) << i;
        EXPECT_EQ(std::get<2>(backups[i]), std::get<2>(backups[0])) << i;
        EXPECT_TRUE(i == 0 || std::get<3>(backups[i]) == std::get<3>(backups[1])) << i;
    }
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
        EXPECT_EQ(ReadFileBytes(Destination(i)), item.content);
        CFileFacts facts;
        ASSERT_TRUE(ReadFileFacts(Destination(i), facts));
        EXPECT_EQ(facts.m_dwAttributes & 0xFF, DWORD(item.attr));
        EXPECT_EQ(facts.m_llWrite, item.lwt);
    }
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
        EXPECT_EQ(VaultkitDecryptAndRestore(m_Index.c_str(), path.back() == L'\\' ? L"doc.txt" : L"DOC.txt",
                                            path.c_str()),
                  9);
    EXPECT_EQ(m_Trace.Lines().back(), L"[VAULTKIT] VAULTKIT_ERROR_XML_DUPLICATE_ENTRY_NOT_FOUND");
    EXPECT_EQ(m_Trace.Lines().size(), 4u);

    // Up to 260 characters in all pass; a folder that does not exist skips the space check.
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
        {deep, std::wstring(56, L'n') + L".txt", ~0ull, 5, Lines{kNormal} + kCreatePlainly + Lines{kGiveUp}},
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
        if (c.after.size() == 1) {  // nothing opened but the index
            EXPECT_EQ(opens.Count(), 1u);
        }
    }
    // A size at the 64-bit limit does not wrap into "fits"; size + 1024 fits (the folder asked with \).
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

// A failure between create and rename: result, trace, data runs written, the quarantine as it was,
// no file or context of ours left. A disk full in the security write is told after every stream.
TEST_F(DecryptAndRestore, FailuresAfterTheCreateLoseNothing)
{
    const wchar_t kSizeDiffers[] = L"[VAULTKIT] VAULTKIT_ERROR_FILE_SIZE_MISMATCH";
    auto backupWrite = [](int n, DWORD error) { return FailNth<&CSysCalls::BackupWrite>(n, error, FALSE); };
    auto creates = [](DWORD second) { // both creates of the staging file refused
        return Answer<&CSysCalls::CreateFileW>(
            [n = 0, second](LPCWSTR p, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD c, DWORD f,
                            HANDLE t) mutable {
                if (c != CREATE_NEW)
                    return CSysHook<&CSysCalls::CreateFileW>::Next()(p, a, s, sa, c, f, t);
                g_Sys.SetLastError(++n == 1 ? ERROR_PRIVILEGE_NOT_HELD : second);
                return INVALID_HANDLE_VALUE;
            });
    };
    // The index is read first, in one call; then the payload (header, name, data).
    auto readFault = [](int nth) { return FailNth<&CSysCalls::ReadFile>(1 + nth, ERROR_CRC, FALSE); };
    auto refuse = [](const char* step) {
        return [=] { return Arrange<CHandleSteps>(step, ERROR_WRITE_FAULT); };
    };
    long backups = StandinBackupWriteOpenContexts();
    long imports = StandinEfsOpenContexts();
    RunCases({
        {"security, disk full", false, {}, backupWrite(1, ERROR_DISK_FULL), 3,
         {kNormal, L"[VAULTKIT] BackupWrite DACL error: GetlastError = 112",
          L"[VAULTKIT] VAULTKIT_ERROR_NOT_ENOUGH_SPACE"}, "", 0, 2},
        {"security, refused", false, {}, backupWrite(1, ERROR_ACCESS_DENIED), 5,
         Lines{kNormal, L"[VAULTKIT] BackupWrite DACL error: GetlastError = 5"} + kImpersonation +
             Lines{L"[VAULTKIT] BackupWrite DACL: failed switching user impersonation"}, "", 0, 0},
        {"first run, disk full", false, {}, backupWrite(2, ERROR_DISK_FULL), 3,
         {kNormal, L"[VAULTKIT] Eroare Belea la backupWrite: GetlastError = 112",
          L"[VAULTKIT] VAULTKIT_ERROR_NOT_ENOUGH_SPACE"}, "", 0, 1},
        {"second run, write fault", false, {}, backupWrite(3, ERROR_WRITE_FAULT), 5,
         {kNormal, L"[VAULTKIT] Eroare Belea la backupWrite: GetlastError = 29",
          kRefused + std::wstring(L"4")}, "", 0, 2},
        {"staging name taken meanwhile", false, {}, creates(ERROR_FILE_EXISTS), 5,
         Lines{kNormal} + kCreatePlainly + Lines{kExists, kGiveUp}},
        {"no create at all", false, {}, creates(ERROR_ACCESS_DENIED), 5,
         Lines{kNormal} + kCreatePlainly + Lines{kGiveUp}},
        {"data unreadable", false, {}, readFault(3), 7,
         {kNormal, L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_READ_SOURCE"}, "", 0, 0},
        // Cut inside the main data: the record ends there, and the size tells.
        {"cut", false, {{EItemDamage::TruncatePayload, 40}}, nullptr, 12, {kNormal, kSizeDiffers}, "", 0, 1},
        {"size", false, {{EItemDamage::WrongSize, {}}}, nullptr, 12, {kNormal, kSizeDiffers}, "", 0, 2},
        // The original digests are checked first.
        {"both digests", false, {{EItemDamage::WrongHash, {}}, {EItemDamage::WrongQhash, {}}}, nullptr, 14,
         {kNormal, L"[VAULTKIT] VAULTKIT_ERROR_ORIGINAL_MD5_MISMATCH"}},
        {"crypted digest", false, {{EItemDamage::WrongQhash, {}}}, nullptr, 11,
         {kNormal, L"[VAULTKIT] VAULTKIT_ERROR_CRYPTED_MD5_MISMATCH"}},
        {"flush", false, {}, refuse("flush"), 5,
         {kNormal, L"[VAULTKIT] FlushFileBuffers [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (29)]"}},
        {"rename", false, {}, refuse("rename"), 5,
         {kNormal, L"[VAULTKIT] MoveFileEx [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (29)]"}},
        {"no import", true, {}, FailNth<&CSysCalls::OpenEncryptedFileRawW>(1, 5, 5u), 5,
         {kEfs, L"[VAULTKIT] OpenEncryptedFileRaw [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (5)]"}},
        {"import unreadable", true, {}, readFault(1), 5,
         {kEfs, L"[VAULTKIT] --> EFSRawWriteCallback",
          L"[VAULTKIT] <-- EFSRawWriteCallback VAULTKIT_ERROR_CANNOT_READ_SOURCE (23)",
          L"[VAULTKIT] WriteEncryptedFileRaw [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (23)]"}},
        {"import, size", true, {{EItemDamage::WrongSize, {}}}, nullptr, 12,
         Lines{kEfs} + kEfsReads + Lines{kSizeDiffers}},
    });
    EXPECT_EQ(StandinBackupWriteOpenContexts(), backups);
    EXPECT_EQ(StandinEfsOpenContexts(), imports);
}

// The size bounds the main data, size + allowance the rest: a record past either is refused (12) unwritten.
TEST_F(DecryptAndRestore, TheItemsSizeBoundsWhatThePayloadCanWrite)
{
    const std::string filler = PseudoRandomBytes(kStreamAllowance + 200000, 13);
    struct Case
    {
        std::vector<CItemStream> streams;
        int32_t result;
        size_t runs;
    };
    const Case cases[] = {
        {{{1, 0, L"", filler.substr(0, 200000)}}, 12, 0},
        {{{1, 0, L"", filler.substr(0, 1000)}}, 0, 1},
        {{{1, 0, L"", filler.substr(0, 600)}, {1, 0, L"", filler.substr(1, 400)}}, 0, 2},
        {{{1, 0, L"", filler.substr(0, 600)}, {1, 0, L"", filler.substr(1, 401)}}, 12, 1},
        // After the main record's 20 header bytes and its own, all the allowance and the size take.
        {{{1, 0, L"", filler.substr(0, 1000)}, {4, 0, L"", filler.substr(0, kStreamAllowance + 960)}}, 0, 18},
        {{{1, 0, L"", filler.substr(0, 1000)}, {4, 0, L"", filler.substr(0, kStreamAllowance + 961)}}, 12, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        CItemDescription item = Item();
        item.content = c.streams[0].data;
        item.extraStreams.assign(c.streams.begin() + 1, c.streams.end());
        item.damages = {{EItemDamage::WrongSize, 1000}};
        Store(item);
        size_t runs = 0;
        Hold count = CountRuns(runs);
        EXPECT_EQ(Run(), c.result);
        EXPECT_EQ(runs, c.runs);
        if (c.result != 0) {
            EXPECT_EQ(m_Trace.Lines(), Traced({kNormal, L"[VAULTKIT] VAULTKIT_ERROR_FILE_SIZE_MISMATCH"}));
            ExpectItemKept();
            EXPECT_FALSE(PathExists(Destination()));
        }
        DeleteFileW(Destination().c_str());
    }
}

// A file at the destination, before or by the rename, is the user's: it stays, the location is
// retired (13). A folder, a link or what cannot be looked at keeps the item.
TEST_F(DecryptAndRestore, WhatStandsAtTheDestinationStays)
{
    CTempDir elsewhere;
    const std::wstring victim = elsewhere.Join(L"victim.dll");
    ASSERT_TRUE(WriteWholeFile(victim, "not to be touched"));
    const std::wstring moveFailed = L"[VAULTKIT] MoveFileEx [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (183)]";
    auto userFile = [&] {
        WriteWholeFile(Destination(), "the user's own");
        return Hold();
    };
    auto unprobed = [&] { return RefuseOpen(Destination(), ERROR_ACCESS_DENIED); };
    RunCases({
        {"the user's file", false, {}, userFile, 13, Lines{kNormal, kExists} + kRetiredLast,
         "the user's own"},
        {"the user's file, EFS", true, {}, userFile, 13, Lines{kEfs, kExists} + kRetiredLast,
         "the user's own"},
        // The staging file goes before the location is retired (no later run would come back).
        {"the user's file, meanwhile", false, {},
         [&] {
             return Hold(std::make_shared<std::pair<CArrival, CSysHook<&CSysCalls::DeleteFileW>>>(
                 std::piecewise_construct, std::forward_as_tuple([&](CArrival&) { userFile(); }),
                 std::forward_as_tuple([&](LPCWSTR path) {
                     EXPECT_FALSE(PathExists(Staging()));
                     return CSysHook<&CSysCalls::DeleteFileW>::Next()(path);
                 })));
         },
         13,
         Lines{kNormal, kExists} + kRetiredLast, "the user's own"},
        {"a link, meanwhile", false, {}, [&] {
             return Arrange<CArrival>([&](CArrival& a) { a.m_Link.reset(new CUnixSymlink(Destination(), victim)); });
         }, 5, {kNormal, moveFailed}},
        {"the user's file, not looked at", false, {}, [&] { return userFile(), unprobed(); }, 5, {kNormal, moveFailed},
         "the user's own"},
        // An EFS item gets no times: the import brings them.
        {"nothing, not looked at", true, {},
         [&] {
             return Hold(std::make_shared<std::pair<Hold, CSysHook<&CSysCalls::SetFileTime>>>(
                 unprobed(), [](HANDLE, const FILETIME*, const FILETIME*, const FILETIME*) {
                     ADD_FAILURE() << "times set";
                     return TRUE;
                 }));
         },
         0, Lines{kEfs} + kEfsReads + kDone},
        {"a folder", false, {}, [&] { return CreateDirectoryW(Destination().c_str(), nullptr), Hold(); }, 5,
         {kNormal, kGiveUp}},
        {"a link", false, {}, [&] { return userFile(), ReparseTagged(); }, 5,
         {kNormal, kRefused + std::wstring(L"not a plain file |") + m_Folder + L"\\doc.txt|"}, "the user's own"},
    });
    EXPECT_EQ(ReadFileBytes(victim), "not to be touched");
}

// Index not saved: the location stays, the file goes again by the handle that renamed it (not after 13).
TEST_F(DecryptAndRestore, IndexNotSavedUndoesTheRestore)
{
    const Lines saveFailed =
        Lines{kRetire, L"[VAULTKIT] Failed saving xml [5]"} + kImpersonation + Lines{kGaveUp};
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
        if (c.userFile) {
            ASSERT_TRUE(WriteWholeFile(Destination(), "the user's own"));
        }
        CHandleSteps steps(c.removeRefused ? "remove" : "", ERROR_SHARING_VIOLATION);
        CSysFailNth<&CSysCalls::MoveFileExW> save(1, ERROR_ACCESS_DENIED, FALSE, /*persist=*/true);
        EXPECT_EQ(Run(), 6);
        EXPECT_EQ(m_Trace.Lines(), Traced(c.after));
        ExpectItemKept();
        EXPECT_EQ(ReadFileBytes(Destination()), c.userFile        ? "the user's own"
                                                : c.removeRefused ? kContent
                                                                  : "");
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

// Index, then payload, each tried once; an index that stays keeps its payload, the next run gives 13.
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
        const std::wstring failed = indexStays ? L"[VAULTKIT] Failed deleting xml file [32]"
                                               : L"[VAULTKIT] Failed deleting cvq file [32]";
        EXPECT_EQ(m_Trace.Lines(), Traced(Lines{kNormal, kRetire, kOnlyOne, failed} + kImpersonation +
                                          Lines{kGaveUp, kSuccess}));
        EXPECT_EQ(deleted, (indexStays ? Lines{m_Index} : Lines{m_Index, m_Payload}));
        EXPECT_EQ(ReadFileBytes(Destination()), kContent);
        EXPECT_EQ(PathExists(m_Index), indexStays);
        EXPECT_TRUE(PathExists(m_Payload));
        if (!indexStays)
            DeleteFileW(Destination().c_str());
    }
    m_Trace.Clear();
    EXPECT_EQ(Run(), 13);
    EXPECT_EQ(m_Trace.Lines(), Traced({kNormal, kExists, kRetire, kOnlyOne}));
    EXPECT_EQ(ReadFileBytes(Destination()), kContent);
    ExpectRetired();
}

// After the write everything goes through the creating handle: compression, attributes (none is
// "normal"), flush, a rename that replaces nothing, the attributes again (a rename may set archive).
TEST_F(DecryptAndRestore, AfterTheWriteEverythingGoesThroughTheOneHandle)
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
        CItemDescription item = Item();
        item.attr = c.attr;
        Store(item);
        std::vector<bool> whereWritten;  // staging name there, destination not
        CSysHook<&CSysCalls::BackupWrite> watch(
            [&](HANDLE h, LPBYTE b, DWORD n, LPDWORD w, BOOL abort, BOOL sec, LPVOID* ctx) {
                whereWritten.push_back(PathExists(Staging()) && !PathExists(Destination()));
                return CSysHook<&CSysCalls::BackupWrite>::Next()(h, b, n, w, abort, sec, ctx);
            });
        CHandleSteps steps;
        EXPECT_EQ(Run(), 0);
        ASSERT_EQ(steps.m_Steps, c.steps);
        EXPECT_EQ(steps.m_Handles, std::vector<HANDLE>(c.steps.size(), steps.m_Handles[0]));
        EXPECT_EQ(steps.m_sRenamedTo, Destination());
        EXPECT_FALSE(steps.m_bReplaced);
        EXPECT_EQ(whereWritten, std::vector<bool>(4, true));  // security, two records, release
        EXPECT_EQ(ReadFileBytes(Destination()), kContent);
        EXPECT_EQ(StagingFiles(), 0u);
        ASSERT_TRUE(SetFileAttributesW(Destination().c_str(), FILE_ATTRIBUTE_NORMAL));
        ASSERT_TRUE(DeleteFileW(Destination().c_str()));
    }
}
