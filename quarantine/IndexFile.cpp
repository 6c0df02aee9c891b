// QuarItem::LoadXml and SaveXml: the index file itself, through the table of calls. The
// format lies in IndexFileFormat.cpp.
//
// A save never truncates the index in place: the new content goes to a temporary file
// beside it, "<index>.tmp", which then replaces the index in one move. The name is fixed,
// so the leftover of a save that was killed is removed by the next save of that index.
// A failed save leaves the previous index as it was and removes the temporary file.
//
// The index is read with read, write and delete sharing: a reader never makes another
// program's rename or delete of the index fail. Replacing an index that is open still
// fails whatever its sharing (so Wine does, and Windows' classic rename); that two runs
// never meet there is the run lock's part.
#include "platform/Owners.h"
#include "quarantine/IndexFileFormat.h"
#include "quarantine/QuarItem.h"
#include <algorithm>
#include <new>
#include <string>

namespace {

// An index is a few kilobytes; anything this large is not one, and reading it whole
// would only cost memory.
const LONGLONG kMaxIndexBytes = 64LL * 1024 * 1024;
const DWORD kChunkBytes = 1024 * 1024;

bool ReadWholeFile(const wchar_t* path, std::string& bytes)
{
    CUniqueFile file(g_Sys.CreateFileW(path, GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr));
    if (!file)
        return false;
    LARGE_INTEGER size = {};
    if (!g_Sys.GetFileSizeEx(file.get(), &size) || size.QuadPart > kMaxIndexBytes)
        return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < bytes.size()) {
        // At most kChunkBytes per call, so the count fits a DWORD.
        DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, kChunkBytes));
        DWORD got = 0;
        if (!g_Sys.ReadFile(file.get(), &bytes[done], want, &got, /*lpOverlapped=*/nullptr))
            return false;
        if (got == 0)
            break; // the file shrank since its size was taken
        done += got;
    }
    bytes.resize(done);
    return true;
}

bool WriteAll(HANDLE file, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, kChunkBytes));
        DWORD written = 0;
        if (!g_Sys.WriteFile(file, bytes.data() + done, want, &written,
                             /*lpOverlapped=*/nullptr) ||
            written != want)
            return false;
        done += written;
    }
    return true;
}

// The attributes the new index takes over from the one it replaces. Read-only stays out:
// Windows refuses to replace a read-only index anyway, and a read-only temporary file left
// by a killed save could not be removed by the next one.
const DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The attributes for the new index: the present index's, or normal for a new one. False
// when the present index's cannot be read.
bool AttributesToKeep(const wchar_t* xmlPath, DWORD& attributes)
{
    DWORD present = g_Sys.GetFileAttributesW(xmlPath);
    if (present == INVALID_FILE_ATTRIBUTES) {
        DWORD error = g_Sys.GetLastError();
        attributes = FILE_ATTRIBUTE_NORMAL;
        return error == ERROR_FILE_NOT_FOUND;
    }
    attributes = present & kKeptAttributes;
    if (attributes == 0)
        attributes = FILE_ATTRIBUTE_NORMAL;
    return true;
}

// Creates path, which must not exist, with bytes, flushed and closed. False when the file
// could not be created; written is false when it was created but not completely written.
// Never CREATE_ALWAYS: whatever stands under the name, link or file, is not written through.
bool WriteNewFile(const std::wstring& path, DWORD attributes, const std::string& bytes,
                  bool& written)
{
    written = false;
    CUniqueFile file(g_Sys.CreateFileW(path.c_str(), GENERIC_WRITE, /*dwShareMode=*/0,
                                       /*lpSecurityAttributes=*/nullptr, CREATE_NEW,
                                       attributes, /*hTemplateFile=*/nullptr));
    if (!file)
        return false;
    written = WriteAll(file.get(), bytes) && g_Sys.FlushFileBuffers(file.get());
    // A failed close may have lost data too.
    written = file.Close() && written;
    return true;
}

} // namespace

bool QuarItem::LoadXml(const wchar_t* xmlPath)
{
    m_Files.clear();
    m_nSelected = -1;
    std::string bytes;
    try {
        if (!xmlPath || !ReadWholeFile(xmlPath, bytes))
            return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return ReadIndexBytes(bytes, *this);
}

bool QuarItem::SaveXml(const wchar_t* xmlPath)
{
    if (!xmlPath || !*xmlPath)
        return false;
    std::string bytes;
    std::wstring temp;
    try {
        if (!WriteIndexBytes(*this, bytes))
            return false;
        temp = std::wstring(xmlPath) + L".tmp";
    } catch (const std::bad_alloc&) {
        return false;
    }
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    if (!AttributesToKeep(xmlPath, attributes))
        return false;
    // A leftover of a killed save. DeleteFileW removes a link itself, never its target;
    // when nothing can be removed, the create below refuses and the save fails.
    g_Sys.DeleteFileW(temp.c_str());
    bool written = false;
    if (!WriteNewFile(temp, attributes, bytes, written))
        return false;
    if (written && g_Sys.MoveFileExW(temp.c_str(), xmlPath,
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    g_Sys.DeleteFileW(temp.c_str());
    return false;
}
