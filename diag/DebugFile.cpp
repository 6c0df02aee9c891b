// The debug file on disk (see DebugFile.h).
#include "diag/DebugFile.h"
#include "diag/DebugWait.h"
#include "platform/Utf8.h"
#include <algorithm>
#include <cwchar>
#include <string>

namespace {

const char kBom[] = "\xEF\xBB\xBF";
// Reading and writing shared as the runtime's streams share them, and deletion too: the file
// this run has just created is held with DELETE access (for a misplaced one to go again),
// and another run opening the log at that moment must not be refused its line.
const DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A link is opened as itself, so that it shows as one instead of being followed.
const DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
const DWORD kChunkBytes = 1024 * 1024;

// The existing file, or a new one (created is then true). A name that exists but cannot
// be opened as a file, such as a link whose target is missing, is never created through.
// A file held open without write sharing is tried again for waitMs.
bool OpenOrCreate(const wchar_t* path, CUniqueFile& file, bool& created, unsigned waitMs)
{
    created = false;
    auto openExisting = [&] {
        file.reset(g_Sys.CreateFileW(path, GENERIC_READ | GENERIC_WRITE, kShare,
                                     /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING, kFlags,
                                     /*hTemplateFile=*/nullptr));
        return file || g_Sys.GetLastError() != ERROR_SHARING_VIOLATION;
    };
    // Twice: another run may create the file between our two attempts.
    for (int attempt = 0; attempt < 2; ++attempt) {
        TryWithin(waitMs, openExisting);
        if (file)
            return true;
        if (g_Sys.GetLastError() != ERROR_FILE_NOT_FOUND)
            return false;
        // DELETE, so that a new file at a wrong place can be taken away again.
        file.reset(g_Sys.CreateFileW(path, GENERIC_READ | GENERIC_WRITE | DELETE, kShare,
                                     /*lpSecurityAttributes=*/nullptr, CREATE_NEW, kFlags,
                                     /*hTemplateFile=*/nullptr));
        if (file) {
            created = true;
            return true;
        }
        if (g_Sys.GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

// The final path without its "\\?\" (or "\\?\UNC\" -> "\\") prefix equals path, letter
// case aside. Anything longer than a debug file path can be is another place anyway.
bool FinalPathIs(HANDLE file, const wchar_t* path)
{
    wchar_t final[MAX_PATH + 16] = {};
    DWORD length = g_Sys.GetFinalPathNameByHandleW(file, final, MAX_PATH + 16,
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= MAX_PATH + 16)
        return false;
    const wchar_t* plain = final;
    if (wcsncmp(final, L"\\\\?\\UNC\\", 8) == 0) {
        plain = final + 6;
        final[6] = L'\\';
    } else if (wcsncmp(final, L"\\\\?\\", 4) == 0) {
        plain = final + 4;
    }
    return g_Sys.CompareStringOrdinal(plain, -1, path, -1, /*bIgnoreCase=*/TRUE) == CSTR_EQUAL;
}

// A plain file with a single name at the intended place.
bool IsOurFile(HANDLE file, const wchar_t* path)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!g_Sys.GetFileInformationByHandle(file, &info))
        return false;
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
        return false;
    return info.nNumberOfLinks == 1 && FinalPathIs(file, path);
}

bool SeekTo(HANDLE file, long long offset)
{
    LARGE_INTEGER at = {};
    at.QuadPart = offset;
    return g_Sys.SetFilePointerEx(file, at, /*lpNewFilePointer=*/nullptr, FILE_BEGIN) != FALSE;
}

bool WriteAll(HANDLE file, const char* bytes, size_t count)
{
    for (size_t done = 0; done < count;) {
        DWORD want = static_cast<DWORD>(std::min<size_t>(count - done, kChunkBytes));
        DWORD written = 0;
        if (!g_Sys.WriteFile(file, bytes + done, want, &written, /*lpOverlapped=*/nullptr) ||
            written != want)
            return false;
        done += written;
    }
    return true;
}

// Reads from offset to the end into tail; false when the read fails.
bool ReadTail(HANDLE file, long long offset, long long size, std::string& tail)
{
    tail.resize(static_cast<size_t>(size - offset));
    if (!SeekTo(file, offset))
        return false;
    size_t done = 0;
    while (done < tail.size()) {
        DWORD want = static_cast<DWORD>(std::min<size_t>(tail.size() - done, kChunkBytes));
        DWORD got = 0;
        if (!g_Sys.ReadFile(file, &tail[done], want, &got, /*lpOverlapped=*/nullptr))
            return false;
        if (got == 0)
            break;
        done += got;
    }
    tail.resize(done);
    return true;
}

// Where the kept lines begin: after the first, partial line and the CR and LF that end
// it. The size of the tail when no complete line follows.
size_t KeptStart(const std::string& tail)
{
    size_t i = tail.find_first_of("\r\n");
    if (i == std::string::npos)
        return tail.size();
    i = tail.find_first_not_of("\r\n", i);
    return i == std::string::npos ? tail.size() : i;
}

} // namespace

EDebugFileOpen OpenDebugFile(const wchar_t* path, CUniqueFile& file, unsigned waitMs)
{
    bool created = false;
    if (!OpenOrCreate(path, file, created, waitMs))
        return g_Sys.GetLastError() == ERROR_SHARING_VIOLATION ? EDebugFileOpen::Busy
                                                               : EDebugFileOpen::Unopenable;
    if (IsOurFile(file.get(), path))
        return EDebugFileOpen::Opened;
    if (created) {
        // Ours and empty, but at a place the path did not name: take it away again.
        FILE_DISPOSITION_INFO dispose = {};
        dispose.DeleteFile = TRUE;
        g_Sys.SetFileInformationByHandle(file.get(), FileDispositionInfo, &dispose,
                                         sizeof(dispose));
    }
    file.reset();
    return EDebugFileOpen::Refused;
}

bool DebugFileSize(HANDLE file, long long& size)
{
    LARGE_INTEGER value = {};
    if (!g_Sys.GetFileSizeEx(file, &value))
        return false;
    size = value.QuadPart;
    return true;
}

bool DebugFileEndsWithLineEnd(HANDLE file, long long size)
{
    if (size == 0)
        return true;
    // The last byte, or the whole file when it may be just a byte-order mark.
    char last[3] = {};
    DWORD want = size == 3 ? 3 : 1;
    DWORD got = 0;
    if (!SeekTo(file, size - want) ||
        !g_Sys.ReadFile(file, last, want, &got, /*lpOverlapped=*/nullptr) || got != want)
        return true; // unknown: better no empty line than a guess
    if (want == 3 && std::equal(last, last + 3, kBom))
        return true;
    return last[want - 1] == '\n';
}

bool AppendToDebugFile(HANDLE file, const char* bytes, size_t count)
{
    // Offset all ones: written at the end of the file as it is at that moment, in one
    // go, so that lines of two processes never overwrite each other.
    OVERLAPPED atEnd = {};
    atEnd.Offset = 0xFFFFFFFF;
    atEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    return g_Sys.WriteFile(file, bytes, static_cast<DWORD>(count), &written, &atEnd) &&
           written == count;
}

ETrim TrimDebugFile(HANDLE file, long long size, long long keep)
{
    long long offset = std::max(0LL, (size - keep) & ~3LL);
    std::string tail;
    if (!ReadTail(file, offset, size, tail))
        return ETrim::Skipped;
    size_t start = KeptStart(tail);
    if (!SeekTo(file, 0) || !g_Sys.SetEndOfFile(file) || !WriteAll(file, kBom, 3) ||
        !WriteAll(file, tail.data() + start, tail.size() - start))
        return ETrim::Failed;
    return ETrim::Done;
}

size_t EncodeDebugLine(const wchar_t* line, char* out, size_t capacity)
{
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide characters");
    const char16_t* text = reinterpret_cast<const char16_t*>(line);
    size_t used = 0;
    for (;;) {
        size_t segment = 0;
        while (text[segment] && text[segment] != u'\n')
            ++segment;
        used += Utf16ToUtf8Into(text, segment, out + used, capacity - used);
        if (text[segment] != u'\n' || capacity - used < 2)
            return used;
        out[used++] = '\r';
        out[used++] = '\n';
        text += segment + 1;
    }
}
