// The traps of the hostile quarantine (see HostileQuarantine.h).
#include "tests/e2e/HostileQuarantine.h"
#include "platform/Utf8.h"
#include "restore/StagingPath.h"
#include "restore/codecs/Md5Text.h"
#include "tests/support/UnixLinks.h"
#include "tools/common/FileTools.h"
#include "tools/itembuilder/ItemBuilder.h"

namespace {

std::wstring StagingOf(const std::wstring& folder, const std::wstring& name)
{
    wchar_t staging[kStagingPathChars] = {};
    MakeStagingPath(folder.c_str(), name.c_str(), staging, kStagingPathChars);
    return staging;
}

std::wstring WindowsFolder()
{
    wchar_t folder[MAX_PATH] = {};
    GetWindowsDirectoryW(folder, MAX_PATH);
    return folder;
}

std::string Names(const std::wstring& folder)
{
    std::string names;
    for (const std::wstring& name : ListFolder(folder))
        names += WideToUtf8(name) + "|";
    return names;
}

DWORD LinkCount(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, 7, nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info = {};
    if (h != INVALID_HANDLE_VALUE) {
        GetFileInformationByHandle(h, &info);
        CloseHandle(h);
    }
    return info.nNumberOfLinks;
}

bool WriteReadOnly(const std::wstring& path, const std::string& bytes)
{
    return WriteWholeFile(path, bytes) && SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
}

// Where an item was taken from, refused by the restore.
CPlannedLocation Refused(const std::wstring& folder, const std::wstring& name)
{
    CPlannedLocation location;
    location.m_sFolder = folder;
    location.m_sName = name;
    location.m_dwAttributes = FILE_ATTRIBUTE_ARCHIVE;
    location.m_eFate = ELocationFate::Refused;
    return location;
}

} // namespace

CHostileQuarantine::CHostileQuarantine(const CProductLayout& layout)
    : m_sRoot(layout.m_sSystemDrive + L"sanarix-attack\\"),
      m_sSystem(WindowsFolder() + L"\\system32"),
      m_sWorking(m_sRoot + L"cwd"),
      m_sLinkedFolder(m_sRoot + L"victim\\linked"),
      m_sStagingLink(StagingOf(m_sRoot + L"staged\\", L"report.pdf")),
      m_sStagingHard(StagingOf(m_sRoot + L"staged2\\", L"report.pdf")),
      m_sProtected(WindowsFolder() + L"\\sanarix-protected.txt"),
      m_sHardTarget(WindowsFolder() + L"\\sanarix-hardlinked.txt"),
      m_sQuarantine(layout.m_sQuarantine)
{
    Plan();
}

CHostileQuarantine::~CHostileQuarantine()
{
    Clear();
}

// The links go first and by themselves: deleting through one would reach the system folder
// or the protected files. While one cannot be taken away, nothing below the root is touched.
void CHostileQuarantine::Clear()
{
    bool unlinked = RemoveUnixLink(m_sLinkedFolder) && RemoveUnixLink(m_sStagingLink);
    RemoveOneFile(m_sProtected);
    RemoveOneFile(m_sHardTarget);
    if (unlinked)
        RemoveFolderTree(m_sRoot, RemoveUnixLink);
    else
        printf("hostile quarantine: links left in %s\n", WideToUtf8(m_sRoot).c_str());
}

void CHostileQuarantine::Plan()
{
    const wchar_t* const devices[] = {L"CON", L"NUL", L"COM1", L"lpt1.txt"};
    const std::wstring linked = m_sLinkedFolder + L"\\", dots = m_sRoot + L"dots\\";
    m_Items.reserve(5); // each item's locations are filled in place
    auto item = [&](const wchar_t* base, uint32_t seed, size_t size) {
        m_Items.push_back(CPlannedItem{base, kTargetThreat, PlannedContent(seed, size), {}, false});
        return &m_Items.back().m_Locations;
    };
    // A folder on the path made a link to system32.
    *item(L"T1", 201, 3000) = {Refused(linked, L"sanarix-attack.dll"), Refused(linked, L"kernel32.dll")};
    ReadWholeFile(m_sSystem + L"\\kernel32.dll", m_Items.back().m_Locations[1].m_sExisting);
    // Links under the staging name.
    *item(L"T2", 202, 2000) = {Refused(m_sRoot + L"staged\\", L"report.pdf"),
                               Refused(m_sRoot + L"staged2\\", L"report.pdf")};
    // Names that are paths, folders that are not full.
    *item(L"T3", 203, 1500) = {Refused(dots, L"..\\..\\windows\\dotdot.dll"), Refused(dots, L"sub/evil.dll"),
                               Refused(L"", L"rootwrite.dll"), Refused(L"..\\..\\windows", L"relwrite.dll")};
    // Device names, once answered "already there".
    std::vector<CPlannedLocation>* names = item(L"T4", 204, 1200);
    for (const wchar_t* device : devices)
        names->push_back(Refused(m_sRoot + L"devices\\", device));
    // Declares 1,000 bytes (see Prepare).
    *item(L"T5", 205, 300 * 1024) = {Refused(m_sRoot + L"size\\", L"big.bin")};
}

CFaults CHostileQuarantine::Prepare()
{
    Clear();  // what an interrupted test may have left
    CFaults faults;
    for (const wchar_t* folder : {L"victim", L"staged", L"staged2", L"dots\\sub", L"devices", L"size", L"cwd"})
        if (!CreateFolderTree(m_sRoot + folder))
            faults.push_back("cannot make " + WideToUtf8(m_sRoot + folder));
    if (!WriteReadOnly(m_sProtected, "a protected file\r\n") ||
        !WriteReadOnly(m_sHardTarget, "another protected file\r\n"))
        faults.push_back("cannot write the protected files");
    for (const CPlannedItem& planned : m_Items) {
        CItemDescription description;
        description.content = planned.m_sContent;
        for (const CPlannedLocation& at : planned.m_Locations)
            description.locations.push_back({at.m_sName, at.m_sFolder});
        if (planned.m_sBaseName == L"T5")
            description.damages.push_back({EItemDamage::WrongSize, 1000});
        if (!BuildQuarItem(description, m_sQuarantine + planned.m_sBaseName))
            faults.push_back("cannot build " + WideToUtf8(planned.m_sBaseName));
    }
    if (!MakeUnixSymlink(m_sLinkedFolder, m_sSystem) || !MakeUnixSymlink(m_sStagingLink, m_sProtected) ||
        !CreateHardLinkW(m_sStagingHard.c_str(), m_sHardTarget.c_str(), nullptr))
        faults.push_back("cannot lay the links");
    m_Before = Outside();
    return faults;
}

// The files the traps lead to, and the names in the folders an attack aims at.
CSnapshot CHostileQuarantine::Outside() const
{
    CSnapshot outside;
    for (const std::wstring& file : {m_sProtected, m_sHardTarget, m_sSystem + L"\\kernel32.dll"}) {
        CFileFacts facts;
        std::string bytes;
        ReadFileFacts(file, facts);
        ReadWholeFile(file, bytes);
        outside[file] = "attr=" + std::to_string(facts.m_dwAttributes) + " links=" +
                        std::to_string(LinkCount(file)) + " md5=" + Md5Text(bytes);
    }
    for (const std::wstring& folder : {m_sRoot.substr(0, 3), WindowsFolder(), m_sSystem})
        outside[folder + L" names"] = Names(folder);
    return outside;
}

CFaults CHostileQuarantine::Check() const
{
    CFaults faults = CompareSnapshots(m_Before, Outside());
    const std::pair<const wchar_t*, std::string> named[] = {
        {L"victim", "linked\\|"},
        {L"staged", WideToUtf8(m_sStagingLink.substr(m_sStagingLink.rfind(L'\\') + 1)) + "|"},
        {L"staged2", WideToUtf8(m_sStagingHard.substr(m_sStagingHard.rfind(L'\\') + 1)) + "|"},
        {L"dots", "sub\\|"}, {L"dots\\sub", ""}, {L"devices", ""}, {L"size", ""}, {L"cwd", ""}};
    for (const auto& [folder, names] : named)
        if (Names(m_sRoot + folder) != names)
            faults.push_back(WideToUtf8(m_sRoot + folder) + " holds " + Names(m_sRoot + folder) +
                             " not " + names);
    return faults;
}
