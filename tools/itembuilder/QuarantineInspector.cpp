// Inspecting a quarantine folder: each index read as the restore driver reads it, each
// payload read as the restore reads it, with the item builder's payload reader.
#include "tools/itembuilder/QuarantineInspector.h"
#include "platform/Owners.h"
#include "platform/Utf8.h"
#include "quarantine/QuarItem.h"
#include "restore/PayloadPath.h"
#include "tools/itembuilder/ItemPayload.h"
#include "tools/logreader/ReportWriter.h"
#include <algorithm>
#include <map>

const wchar_t kRestoredThreat[] = L"trojan.fakealert.5";

namespace {

const DWORD kReadBytes = 1u << 16;
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Only A to Z fold, and the whole texts compare: the driver's rule for threat names.
bool SameThreat(const std::wstring& a, const std::wstring& b)
{
    auto fold = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c; };
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i]))
            return false;
    }
    return true;
}

bool EndsWithNoCase(const std::wstring& name, const std::wstring& suffix)
{
    return name.size() > suffix.size() &&
           SameThreat(name.substr(name.size() - suffix.size()), suffix);
}

std::vector<std::wstring> ListFiles(const std::wstring& folder, bool& listed)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry = {};
    CUniqueFind find(g_Sys.FindFirstFileW((folder + L"\\*").c_str(), &entry));
    listed = bool(find) || g_Sys.GetLastError() == ERROR_FILE_NOT_FOUND;
    if (!find)
        return names;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(entry.cFileName);
    } while (g_Sys.FindNextFileW(find.get(), &entry));
    std::sort(names.begin(), names.end());
    return names;
}

std::string ErrorNote(const char* what, DWORD error)
{
    return std::string(what) + " (error " + std::to_string(error) + ")";
}

// Reads the payload through the item builder's reader; false with the error when the file
// cannot be opened or read.
bool ReadPayload(const std::wstring& path, bool efs, CPayloadSummary& summary, DWORD& error)
{
    CUniqueFile file(g_Sys.CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        error = g_Sys.GetLastError();
        return false;
    }
    CPayloadReader reader(efs);
    std::vector<uint8_t> buffer(kReadBytes);
    for (;;) {
        DWORD got = 0;
        if (!g_Sys.ReadFile(file.get(), buffer.data(), kReadBytes, &got, nullptr)) {
            error = g_Sys.GetLastError();
            return false;
        }
        if (got == 0)
            break;
        reader.Feed(buffer.data(), got);
    }
    summary = reader.Finish();
    return true;
}

ECheck Compare(const std::string& computed, const std::optional<std::wstring>& recorded)
{
    return WideToUtf8(recorded.value_or(L"")) == computed ? ECheck::Ok : ECheck::Differs;
}

void JudgePayload(const QuarItem& index, const CPayloadSummary& summary, CInspectedItem& item)
{
    item.m_llPayloadBytes = int64_t(summary.m_bytes);
    item.m_crypted = Compare(summary.m_qhash, index.qhash);
    item.m_original = Compare(summary.m_hash, index.hash);
    if (!item.m_bEfs)
        item.m_size = summary.m_mainDataSize == index.size ? ECheck::Ok : ECheck::Differs;
    switch (summary.m_framing) {
    case PayloadCheck::Ok:
        break;
    case PayloadCheck::CutHeader:
    case PayloadCheck::CutName:
    case PayloadCheck::CutData:
        item.m_verdict = EItemVerdict::Truncated;
        item.m_sNote = "ends inside record " + std::to_string(summary.m_records + 1);
        return;
    case PayloadCheck::NegativeSize:
    case PayloadCheck::NameTooLarge:
        item.m_verdict = EItemVerdict::Corrupt;
        item.m_sNote = "impossible header of record " + std::to_string(summary.m_records + 1);
        return;
    }
    if (item.m_crypted == ECheck::Differs || item.m_original == ECheck::Differs)
        item.m_verdict = EItemVerdict::Corrupt;
    else if (item.m_size == ECheck::Differs)
        item.m_verdict = EItemVerdict::SizeMismatch;
    else
        item.m_verdict = item.m_bRestore ? EItemVerdict::Restorable : EItemVerdict::OtherThreat;
}

CInspectedItem InspectItem(const std::wstring& folder, const std::wstring& name)
{
    CInspectedItem item;
    item.m_sIndex = name;
    const std::wstring path = folder + L"\\" + name;
    {
        // LoadXml says only yes or no; the open says why a file cannot be had.
        CUniqueFile probe(g_Sys.CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
        if (!probe) {
            item.m_sNote = ErrorNote("cannot open the index", g_Sys.GetLastError());
            return item;
        }
    }
    QuarItem index;
    if (!index.LoadXml(path.c_str())) {
        item.m_sNote = "not a valid index";
        return item;
    }
    item.m_bIndexRead = true;
    item.m_sThreat = index.dvirus;
    item.m_bRestore = SameThreat(item.m_sThreat, kRestoredThreat);
    item.m_bEfs = (index.dflags & QUAR_DFLAG_EFS) != 0;
    item.m_llSize = index.size;
    for (const QuarFileEntry& location : index.m_Files) {
        std::wstring folderText = location.path;
        bool separated = !folderText.empty() && folderText.back() == L'\\';
        item.m_locations.push_back(folderText + (separated ? L"" : L"\\") + location.name);
    }
    wchar_t payloadPath[kPayloadPathChars];
    CPayloadSummary summary;
    DWORD error = 0;
    if (!MakePayloadPath(path.c_str(), payloadPath, kPayloadPathChars)) {
        item.m_verdict = EItemVerdict::NoPayload;
        item.m_sNote = "payload path too long";
    } else if (!ReadPayload(payloadPath, item.m_bEfs, summary, error)) {
        bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        item.m_verdict = missing ? EItemVerdict::NoPayload : EItemVerdict::PayloadUnreadable;
        item.m_sNote = missing ? "" : ErrorNote("cannot read the payload", error);
    } else {
        JudgePayload(index, summary, item);
    }
    return item;
}

const char* CheckText(ECheck check)
{
    switch (check) {
    case ECheck::Ok: return "ok";
    case ECheck::Differs: return "differs";
    case ECheck::NotChecked: break;
    }
    return "-";
}

std::vector<std::string> Cells(const CInspectedItem& item)
{
    std::string locations;
    for (const std::wstring& location : item.m_locations)
        locations += (locations.empty() ? "" : "; ") + WideToUtf8(location);
    const bool indexRead = item.m_bIndexRead;
    return {WideToUtf8(item.m_sIndex),
            indexRead ? WideToUtf8(item.m_sThreat) : "-",
            indexRead ? (item.m_bRestore ? "yes" : "no") : "-",
            indexRead ? std::to_string(item.m_locations.size()) : "-",
            item.m_llSize >= 0 ? std::to_string(item.m_llSize) : "-",
            item.m_llPayloadBytes >= 0 ? std::to_string(item.m_llPayloadBytes) : "-",
            CheckText(item.m_size),
            CheckText(item.m_crypted),
            CheckText(item.m_original),
            ItemVerdictText(item.m_verdict),
            item.m_sNote,
            locations};
}

} // namespace

const char* ItemVerdictText(EItemVerdict verdict)
{
    switch (verdict) {
    case EItemVerdict::Restorable: return "restorable";
    case EItemVerdict::OtherThreat: return "other threat";
    case EItemVerdict::IndexUnreadable: return "index unreadable";
    case EItemVerdict::NoIndex: return "no index";
    case EItemVerdict::NoPayload: return "no payload";
    case EItemVerdict::PayloadUnreadable: return "payload unreadable";
    case EItemVerdict::Truncated: return "truncated";
    case EItemVerdict::Corrupt: return "corrupt";
    case EItemVerdict::SizeMismatch: return "size mismatch";
    }
    return "corrupt";
}

bool InspectQuarantine(const std::wstring& folder, std::vector<CInspectedItem>& items,
                       std::wstring& problem)
{
    bool listed = false;
    std::vector<std::wstring> names = ListFiles(folder, listed);
    if (!listed) {
        problem = L"cannot list " + folder + L" (error " + std::to_wstring(g_Sys.GetLastError()) + L")";
        return false;
    }
    std::map<std::wstring, bool> indexes; // base name, letter case of A-Z folded -> seen
    auto baseKey = [](const std::wstring& name) {
        std::wstring key = name.substr(0, name.size() - 4);
        for (wchar_t& c : key)
            c = c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c;
        return key;
    };
    for (const std::wstring& name : names) {
        if (EndsWithNoCase(name, L".xml")) {
            items.push_back(InspectItem(folder, name));
            indexes[baseKey(name)] = true;
        }
    }
    for (const std::wstring& name : names) {
        if (EndsWithNoCase(name, L".cvq") && !indexes.count(baseKey(name))) {
            CInspectedItem orphan;
            orphan.m_sIndex = name;
            orphan.m_verdict = EItemVerdict::NoIndex;
            items.push_back(orphan);
        }
    }
    return true;
}

void WriteInspection(std::ostream& out, const std::vector<CInspectedItem>& items, bool csv,
                     char separator)
{
    std::vector<std::vector<std::string>> rows;
    if (csv)
        rows.push_back({"index", "threat", "restore", "locations", "size", "payload_bytes",
                        "size_check", "crypted_digests", "original_digests", "verdict", "note",
                        "places"});
    else
        rows.push_back({"index", "threat", "restore", "locations", "size", "payload", "size check",
                        "crypted digests", "original digests", "verdict", "note", "places"});
    for (const CInspectedItem& item : items)
        rows.push_back(Cells(item));
    if (csv) {
        WriteCsvRows(out, rows, separator);
        return;
    }
    WriteAlignedRows(out, rows);
    std::map<std::string, size_t> counts;
    for (const CInspectedItem& item : items)
        ++counts[ItemVerdictText(item.m_verdict)];
    std::string summary;
    for (const auto& count : counts)
        summary += (summary.empty() ? "" : ", ") + std::to_string(count.second) + " " + count.first;
    out << '\n' << items.size() << (items.size() == 1 ? " item" : " items")
        << (summary.empty() ? "" : ": ") << summary << '\n';
}
