// The file a restore writes before it is verified, held through one handle of its own from
// its creation until it has taken the item's name, or has been removed again. It owns
// that file: whatever way a restore ends, a file that the rename did not put in place is
// removed when the staging file goes out of scope. The program
// runs with rights the owner of the destination folder lacks, and that owner can swap
// folders for links and plant links under any name there: so nothing is done to the
// staging file by path once it exists. Where it really is gets checked on the handle;
// attributes, size, flush, rename and removal all go through the handle too.
#pragma once
#include "platform/Owners.h"
#include "quarantine/VaultkitError.h"
#include "restore/FinalPath.h"
#include <cstdint>
#include <string>

// The two places a restore's file is meant to be: under the staging name, and under the
// item's name once renamed; both in the folder the index names.
enum class EPlace
{
    Staging,
    Destination,
};

class CStagingFile
{
public:
    // staging: the path to create (StagingPath.h); folder: the destination folder as the
    // index gives it, ending in "\"; name: the item's file name.
    CStagingFile(const wchar_t* staging, const wchar_t* folder, const wchar_t* name);
    // Removes the file unless Rename put it in place.
    ~CStagingFile();
    CStagingFile(const CStagingFile&) = delete;
    CStagingFile& operator=(const CStagingFile&) = delete;

    const wchar_t* Path() const { return m_sPath.c_str(); }
    const wchar_t* Destination() const { return m_sDestination.c_str(); }
    // True when a final path (FinalPath.h) is the intended one for place.
    bool IsAt(EPlace place, const std::wstring& finalPath) const;
    HANDLE Handle() const { return m_hFile.get(); }

    // Creates the staging file new, never over anything that stands under its name: the
    // given access, no sharing, backup semantics, sequential access. False with the last
    // error set (80 when something stands there).
    bool Create(DWORD access);

    // For the raw EFS import, which opens the file by its path itself: creates the staging
    // file new and holds it without data or delete access and without delete sharing, so
    // the import can open and fill it while nobody can rename, delete or replace it. 0;
    // 13 when something stands under the name; 5 with the failure traced.
    VaultkitError Claim();
    // After the import: opens the claimed file again by its path, without following a
    // link, for delete, attributes and, where Windows lets us, writing (the data of an
    // encrypted file cannot be opened without its owner's key: it is then not flushed),
    // and makes sure it is the very file claimed. 0, or 5 with the reason traced: what
    // stands there is not ours and stays, or it could not be held and went by its path.
    VaultkitError TakeBack();

    // 0 when the handle's file is at place; otherwise the reason is traced and the result
    // is 5. Removes nothing.
    VaultkitError CheckPlace(EPlace place) const;

    // The item's attributes (those a file can be given; none gives "normal").
    void SetAttributes(uint32_t attr);
    bool Size(int64_t& size) const;
    // Writes the file's data through to the disk: 0, or 5 with the failure traced.
    VaultkitError Flush();
    // Gives the file the destination's name, never replacing anything; false with the
    // last error set (183 when something stands there). Once renamed, the file is no
    // longer removed on its own: taking it back is then the caller's decision (Remove).
    bool Rename();
    // Clears the attributes (a read-only file refuses deletion) and deletes the file
    // through the handle, which is then closed. False when the deletion was refused.
    bool Remove();

private:
    void OpenAgain();

    std::wstring m_sPath;
    std::wstring m_sDestination;
    CIntendedFolder m_Folder;
    std::wstring m_sStagingLeaf;
    std::wstring m_sName;
    CUniqueFile m_hFile;
    bool m_bCanFlush = true;
    bool m_bRenamed = false;
    BY_HANDLE_FILE_INFORMATION m_Claimed = {};
};

// Clears the attributes of the open file and deletes it through its handle (with DELETE
// and FILE_WRITE_ATTRIBUTES access), then closes the handle. False when the file was not
// open or its deletion was refused.
bool RemoveOpenFile(CUniqueFile& file);
