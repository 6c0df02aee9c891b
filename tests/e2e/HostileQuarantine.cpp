// The traps of the hostile quarantine (see HostileQuarantine.h).
#include "tests/e2e/HostileQuarantine.h"
#include "platform/Utf8.h"
#include "restore/StagingPath.h"
#include "restore/codecs/Md5Text.h"
#include "tests/support/UnixLinks.h"
#include "tools/itembuilder/ItemBuilder.h"
#include "tools/product/FileTools.h"
#include <algorithm>
#include <cstdio>

namespace {

const char kRefused[] = "[VAULTKIT] VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION ";
const char kLeftAlone[] = "[VAULTKIT] Not an unfinished restore, left alone: ";

std::string U8(const std::wstring& text)
{
    return WideToUtf8(text);
}

std::wstring StagingOf(const std::wstring& folder, const std::wstring& name)
{
    wchar_t staging[kStagingPathChars] = {};
    MakeStagingPath(folder.c_str(), name.c_str(), staging, kStagingPathChars);
    return staging;
}

std::wstring LeafOf(const std::wstring& path)
{
    return path.substr(path.find_last_of(L'\\') + 1);
}

std::wstring SystemFolder(bool system32)
{
    wchar_t folder[MAX_PATH] = {};
    if (system32)
        GetSystemDirectoryW(folder, MAX_PATH);
    else
        GetWindowsDirectoryW(folder, MAX_PATH);
    return folder;
}

CPlannedLocation Refused(const std::wstring& folder, const std::wstring& name)
{
    CPlannedLocation location;
    location.m_sFolder = folder;
    location.m_sName = name;
    location.m_dwAttributes = FILE_ATTRIBUTE_ARCHIVE;
    location.m_eFate = ELocationFate::Refused;
    return location;
}

std::string Facts(const std::wstring& path)
{
    CFileFacts facts;
    std::string bytes;
    if (!ReadFileFacts(path, facts) || !ReadWholeFile(path, bytes))
        return "missing";
    char attributes[16];
    snprintf(attributes, sizeof(attributes), "0x%lX", static_cast<unsigned long>(facts.m_dwAttributes));
    return std::string("attr=") + attributes + " md5=" + Md5Text(bytes);
}

std::string Names(const std::wstring& folder)
{
    std::string names;
    for (const std::wstring& name : ListFolder(folder))
        names += U8(name) + "|";
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

} // namespace

CHostileQuarantine::CHostileQuarantine(const CProductLayout& layout)
    : m_sRoot(layout.m_sSystemDrive + L"sanarix-attack\\"),
      m_sWindows(SystemFolder(false)),
      m_sSystem(SystemFolder(true)),
      m_sWorking(m_sRoot + L"cwd"),
      m_sLinkedFolder(m_sRoot + L"victim\\linked"),
      m_sProtected(m_sWindows + L"\\sanarix-protected.txt"),
      m_sHardTarget(m_sWindows + L"\\sanarix-hardlinked.txt"),
      m_sQuarantine(layout.m_sQuarantine)
{
    Plan();
}

CHostileQuarantine::~CHostileQuarantine()
{
    Clear();
}

// The links go first and by themselves: clearing or deleting through one would reach
// the system folder or the protected files. While one cannot be taken away, nothing
// below the attack folder is touched.
void CHostileQuarantine::Clear()
{
    bool unlinked = RemoveUnixLink(m_sLinkedFolder) && RemoveUnixLink(m_sStagingLink);
    for (const std::wstring* file : {&m_sProtected, &m_sHardTarget})
        RemoveOneFile(*file);
    if (unlinked)
        RemoveFolderTree(m_sRoot);
    else
        fprintf(stderr, "hostile quarantine: links left in %s\n", U8(m_sRoot).c_str());
}

void CHostileQuarantine::Plan()
{
    const std::wstring linked = m_sLinkedFolder + L"\\";
    const std::wstring staged = m_sRoot + L"staged\\";
    const std::wstring staged2 = m_sRoot + L"staged2\\";
    const std::wstring dots = m_sRoot + L"dots\\";
    const std::wstring devices = m_sRoot + L"devices\\";
    m_sStagingLink = StagingOf(staged, L"report.pdf");
    m_sStagingHard = StagingOf(staged2, L"report.pdf");
    m_Items.reserve(5);  // the locations are filled in place
    auto item = [&](const wchar_t* base, uint32_t seed, size_t size) {
        CPlannedItem planned;
        planned.m_sBaseName = base;
        planned.m_sThreat = kTargetThreat;
        planned.m_sContent = PlannedContent(seed, size);
        m_Items.push_back(planned);
        return &m_Items.back().m_Locations;
    };
    auto refused = [&](std::vector<CPlannedLocation>* to, const std::wstring& folder,
                       const std::wstring& name, const std::string& line) {
        to->push_back(Refused(folder, name));
        m_Lines.push_back(line);
    };
    auto* link = item(L"T1", 201, 3000);  // a folder on the path made a link to system32
    refused(link, linked, L"sanarix-attack.dll",
            kRefused + ("redirected to |\\\\?\\" + U8(m_sSystem + L"\\" + LeafOf(StagingOf(linked, L"sanarix-attack.dll")))) + "|");
    refused(link, linked, L"kernel32.dll",
            kRefused + ("redirected to |\\\\?\\" + U8(m_sSystem)) + "\\kernel32.dll|");
    auto* planted = item(L"T2", 202, 2000);  // links under the staging name
    refused(planted, staged, L"report.pdf",
            kLeftAlone + U8(m_sStagingLink) + " [redirected to |\\\\?\\" + U8(m_sProtected) + "|]");
    refused(planted, staged2, L"report.pdf", kLeftAlone + U8(m_sStagingHard) + " [2 links]");
    auto* paths = item(L"T3", 203, 1500);  // names that are paths, folders that are not full
    refused(paths, dots, L"..\\..\\windows\\dotdot.dll", kRefused + std::string("not a file name |..\\..\\windows\\dotdot.dll|"));
    refused(paths, dots, L"sub/evil.dll", kRefused + std::string("not a file name |sub/evil.dll|"));
    refused(paths, L"", L"rootwrite.dll", kRefused + std::string("not a full folder path ||"));
    refused(paths, L"..\\..\\windows", L"relwrite.dll",
            kRefused + std::string("not a full folder path |..\\..\\windows|"));
    auto* names = item(L"T4", 204, 1200);  // device names, once answered "already there"
    for (const wchar_t* device : {L"CON", L"NUL", L"COM1", L"lpt1.txt"})
        refused(names, devices, device, kRefused + ("not a file name |" + U8(device)) + "|");
    auto* size = item(L"T5", 205, 300 * 1024);  // declares 1,000 bytes
    refused(size, m_sRoot + L"size\\", L"big.bin", "[VAULTKIT] VAULTKIT_ERROR_FILE_SIZE_MISMATCH");
}

CFaults CHostileQuarantine::Prepare()
{
    Clear();  // what an interrupted test may have left
    CFaults faults;
    for (const wchar_t* folder : {L"victim", L"staged", L"staged2", L"dots\\sub", L"devices", L"size", L"cwd"})
        if (!CreateFolderTree(m_sRoot + folder))
            faults.push_back("cannot make " + U8(m_sRoot + folder));
    if (!WriteReadOnly(m_sProtected, "a protected file\r\n") ||
        !WriteReadOnly(m_sHardTarget, "another protected file\r\n"))
        faults.push_back("cannot write the protected files");
    for (CPlannedItem& planned : m_Items) {
        CItemDescription description;
        description.content = planned.m_sContent;
        for (const CPlannedLocation& at : planned.m_Locations)
            description.locations.push_back({at.m_sName, at.m_sFolder});
        if (planned.m_sBaseName == L"T5")
            description.damages.push_back({EItemDamage::WrongSize, 1000});
        if (!BuildQuarItem(description, m_sQuarantine + planned.m_sBaseName))
            faults.push_back("cannot build " + U8(planned.m_sBaseName));
    }
    ReadWholeFile(m_sSystem + L"\\kernel32.dll", m_Items[0].m_Locations[1].m_sExisting);
    if (!PlantLinks(faults))
        return faults;
    m_Before = Outside();
    return faults;
}

bool CHostileQuarantine::PlantLinks(CFaults& faults)
{
    if (!MakeUnixSymlink(m_sLinkedFolder, m_sSystem))
        faults.push_back("cannot link " + U8(m_sLinkedFolder));
    if (!MakeUnixSymlink(m_sStagingLink, m_sProtected))
        faults.push_back("cannot link " + U8(m_sStagingLink));
    if (!CreateHardLinkW(m_sStagingHard.c_str(), m_sHardTarget.c_str(), nullptr))
        faults.push_back("cannot hard-link " + U8(m_sStagingHard));
    return faults.empty();
}

// The files the traps lead to, and the names in the folders an attack aims at.
std::map<std::wstring, std::string> CHostileQuarantine::Outside() const
{
    std::map<std::wstring, std::string> outside;
    for (const std::wstring& file : {m_sProtected, m_sHardTarget, m_sSystem + L"\\kernel32.dll"})
        outside[file] = Facts(file);
    outside[m_sProtected + L" links"] = std::to_string(LinkCount(m_sProtected));
    outside[m_sHardTarget + L" links"] = std::to_string(LinkCount(m_sHardTarget));
    for (const std::wstring& folder : {m_sRoot.substr(0, 3), m_sWindows, m_sSystem})
        outside[folder + L" names"] = Names(folder);
    return outside;
}

CFaults CHostileQuarantine::Check(const CRepairRun& run) const
{
    CFaults faults = CompareSnapshots(m_Before, Outside());
    std::vector<std::string> trace = TraceLines(run);
    for (const std::string& line : m_Lines)
        if (std::find(trace.begin(), trace.end(), line) == trace.end())
            faults.push_back("no trace line \"" + line + "\"");
    const std::pair<const wchar_t*, std::string> named[] = {
        {L"victim", "linked\\|"},
        {L"staged", U8(LeafOf(m_sStagingLink)) + "|"},
        {L"staged2", U8(LeafOf(m_sStagingHard)) + "|"},
        {L"dots", "sub\\|"},
        {L"dots\\sub", ""},
        {L"devices", ""},
        {L"size", ""},
        {L"cwd", ""},
    };
    for (const auto& [folder, names] : named)
        if (Names(m_sRoot + folder) != names)
            faults.push_back(U8(m_sRoot + folder) + " holds " + Names(m_sRoot + folder) + " not " + names);
    return faults;
}
