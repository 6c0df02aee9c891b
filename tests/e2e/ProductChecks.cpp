// Checks of the product's state after a repair run (see ProductChecks.h).
#include "tests/e2e/ProductChecks.h"
#include "platform/Utf8.h"
#include "restore/codecs/Md5Text.h"
#include "platform/WineStandins.h"
#include "tools/product/FileTools.h"
#include "tools/product/Manifest.h"
#include "tools/product/RegistryTools.h"
#include "tools/product/ServiceTools.h"
#include <algorithm>

namespace {

std::string U8(const std::wstring& text)
{
    return WideToUtf8(text);
}

std::string Hex(unsigned long value)
{
    char text[16];
    snprintf(text, sizeof(text), "0x%lX", value);
    return text;
}

void SnapshotTree(const std::wstring& folder, std::map<std::wstring, std::string>& out)
{
    for (const std::wstring& name : ListFolder(folder)) {
        std::wstring path = folder + name;
        if (name.back() == L'\\') {
            out[path] = "folder";
            SnapshotTree(path, out);
            continue;
        }
        CFileFacts facts;
        ReadFileFacts(path, facts);
        std::string bytes;
        ReadWholeFile(path, bytes);
        out[path] = "attr=" + Hex(facts.m_dwAttributes) + " lwt=" +
                    std::to_string(facts.m_llWrite) + " size=" + std::to_string(bytes.size()) +
                    " md5=" + Md5Text(bytes);
    }
}

std::string RegistryText(const std::wstring& key, const std::wstring& value)
{
    DWORD type = 0;
    std::wstring data;
    LSTATUS rc = ReadHklmValue(key, value, type, data);
    if (rc != ERROR_SUCCESS)
        return "error " + std::to_string(rc);
    std::replace(data.begin(), data.end(), L'\0', L'|');
    return "type " + std::to_string(type) + ": " + U8(data);
}

// The restore calls the trace shows, each with the lines up to the next call.
std::vector<std::vector<std::string>> TraceCalls(const std::vector<std::string>& trace)
{
    std::vector<std::vector<std::string>> calls;
    for (const std::string& line : trace) {
        if (line.compare(0, 37, "[VAULTKIT] VaultkitDecryptAndRestore(") == 0)
            calls.push_back({});
        if (!calls.empty())
            calls.back().push_back(line);
    }
    return calls;
}

// Wine reports every regular file as archived, whatever was set ("attrib -a" included);
// Windows gives back exactly the bits set.
DWORD ExpectedAttributes(DWORD planned)
{
    return IsRunningOnWine() ? planned | FILE_ATTRIBUTE_ARCHIVE : planned;
}

bool Holds(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

CFaults CheckTraceCall(const std::vector<std::string>& call, const CPlannedLocation& location,
                       bool lastOfItem)
{
    CFaults faults;
    if (location.m_eFate == ELocationFate::Refused) {
        if (Holds(call, "[VAULTKIT] Deleting original file"))
            faults.push_back("trace of " + call[0] + " retires a refused location");
        return faults;
    }
    auto need = [&](const std::string& line) {
        if (!Holds(call, line))
            faults.push_back("trace of " + call[0] + " lacks \"" + line + "\"");
    };
    need("[VAULTKIT] Restore normal file");
    need("[VAULTKIT] Deleting original file");
    bool success = call.back() == "[VAULTKIT] VAULTKIT_ERROR_SUCCESS";
    bool wantSuccess = location.m_eFate == ELocationFate::Restored;
    if (success != wantSuccess)
        faults.push_back("trace of " + call[0] + " ends in \"" + call.back() + "\"");
    if (lastOfItem)
        need("[VAULTKIT] No duplicates, deleting xml & cvq");
    return faults;
}

} // namespace

std::string JoinFaults(const CFaults& faults)
{
    std::string text;
    for (const std::string& fault : faults)
        text += fault + "\n";
    return text;
}

CFaults CheckRunLog(const CRepairRun& run, const CLogExpectation& expected)
{
    if (!run.m_bLogFound)
        return {"no debug file"};
    CFaults faults = run.m_Log.m_Problems;
    CFaults fields = CheckLogFields(run.m_Log, run.m_Result.m_dwProcessId, run.m_sFrom, run.m_sTo);
    faults.insert(faults.end(), fields.begin(), fields.end());
    std::string difference = expected.Compare(run.m_Log.Messages());
    if (!difference.empty())
        faults.push_back(difference);
    return faults;
}

CFaults CheckLogMirroredToDebugger(const CRepairRun& run)
{
    std::vector<std::string> fromDebugger;
    for (const std::string& message : run.m_Debugger)
        if (message.compare(0, 5, "[PID:") == 0)
            fromDebugger.push_back(message);
    std::vector<std::string> fromFile;
    std::string bytes = run.m_sLogBytes.substr(run.m_sLogBytes.compare(0, 3, "\xEF\xBB\xBF") ? 0 : 3);
    for (size_t at = 0, end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2)
        fromFile.push_back(bytes.substr(at, end - at) + "\n");
    if (fromDebugger == fromFile)
        return {};
    return {"the debugger got " + std::to_string(fromDebugger.size()) + " log lines, the file holds " +
            std::to_string(fromFile.size()) + (fromDebugger.empty() ? "" : "; first: " + fromDebugger[0])};
}

CFaults CheckServices(const std::map<std::wstring, unsigned long>& states)
{
    CFaults faults;
    for (const CProductService& service : ProductServices()) {
        auto wanted = states.find(service.m_szName);
        unsigned long state = QueryServiceState(service.m_szName);
        if (wanted == states.end() && ServiceExists(service.m_szName))
            faults.push_back(U8(service.m_szName) + " exists");
        else if (wanted != states.end() && state != wanted->second)
            faults.push_back(U8(service.m_szName) + " is in state " + std::to_string(state) +
                             ", not " + std::to_string(wanted->second));
    }
    return faults;
}

CFaults CheckProcessCounts(const std::map<std::wstring, size_t>& counts)
{
    CFaults faults;
    for (const auto& [name, count] : counts) {
        size_t running = CountProcesses(name);
        if (running != count)
            faults.push_back(std::to_string(running) + " processes " + U8(name) + ", not " +
                             std::to_string(count));
    }
    return faults;
}

CFaults CheckEngineAndRenames(const CProductLayout& layout, const CProductPlan& plan)
{
    CFaults faults;
    for (const CPlannedEngineFile& file : plan.m_EngineFiles) {
        std::wstring path = layout.m_sEngine + file.m_sRelative;
        if (PathExists(path) == file.m_bDeleted)
            faults.push_back(U8(path) + (file.m_bDeleted ? " is still there" : " is gone"));
    }
    DWORD type = 0;
    std::wstring data;
    if (ReadHklmValue(kSessionManagerKeyPath, kPendingRenamesValue, type, data) != ERROR_FILE_NOT_FOUND)
        faults.push_back("PendingFileRenameOperations is still there");
    return faults;
}

CFaults CheckDestinations(const CProductPlan& plan)
{
    CFaults faults;
    for (const CPlannedItem& item : plan.m_Items) {
        for (const CPlannedLocation& location : item.m_Locations) {
            std::wstring path = location.FullPath();
            std::string where = U8(path) + ": ";
            CFileFacts facts;
            bool exists = ReadFileFacts(path, facts);
            std::string bytes;
            if (exists)  // a device name is never read: it could wait for input
                ReadWholeFile(path, bytes);
            if (location.m_eFate == ELocationFate::Untouched) {
                if (exists)
                    faults.push_back(where + "created, though not to be restored");
                continue;
            }
            if (location.m_eFate == ELocationFate::Refused) {
                if (exists && location.m_sExisting.empty())
                    faults.push_back(where + "created, though refused");
                else if (exists && bytes != location.m_sExisting)
                    faults.push_back(where + "what stood there was changed");
                continue;
            }
            if (!exists) {
                faults.push_back(where + "missing");
                continue;
            }
            if (location.m_eFate == ELocationFate::ExistingKept) {
                if (bytes != location.m_sExisting)
                    faults.push_back(where + "the file that stood there was changed");
                continue;
            }
            if (bytes != item.m_sContent)
                faults.push_back(where + "content differs (" + std::to_string(bytes.size()) +
                                 " bytes, " + std::to_string(item.m_sContent.size()) + " planned)");
            if (facts.m_dwAttributes != ExpectedAttributes(location.m_dwAttributes))
                faults.push_back(where + "attributes " + Hex(facts.m_dwAttributes) + ", not " +
                                 Hex(ExpectedAttributes(location.m_dwAttributes)));
            if (facts.m_llWrite != location.m_llWrite)
                faults.push_back(where + "last-write time " + std::to_string(facts.m_llWrite) +
                                 ", not " + std::to_string(location.m_llWrite));
            if (facts.m_llAccess != location.m_llAccess)
                faults.push_back(where + "last-access time " + std::to_string(facts.m_llAccess) +
                                 ", not " + std::to_string(location.m_llAccess));
        }
    }
    return faults;
}

std::map<std::wstring, std::string> ReadQuarantine(const CProductLayout& layout)
{
    std::map<std::wstring, std::string> content;
    SnapshotTree(layout.m_sQuarantine, content);
    return content;
}

CFaults CheckQuarantine(const CProductLayout& layout, const CProductPlan& plan,
                        const std::map<std::wstring, std::string>& before)
{
    CFaults faults;
    std::vector<std::wstring> wanted;
    for (const std::wstring& entry : RemainingQuarantineEntries(plan))
        wanted.push_back(layout.m_sQuarantine + entry);
    std::map<std::wstring, std::string> now = ReadQuarantine(layout);
    for (const auto& [path, facts] : now) {
        std::wstring bare = path.back() == L'\\' ? path.substr(0, path.size() - 1) : path;
        if (std::find(wanted.begin(), wanted.end(), bare) == wanted.end())
            faults.push_back(U8(path) + " is still in the quarantine");
        else if (before.count(path) && before.at(path) != facts)
            faults.push_back(U8(path) + " changed: " + facts + ", was " + before.at(path));
    }
    for (const std::wstring& path : wanted)
        if (!now.count(path) && !now.count(path + L"\\"))
            faults.push_back(U8(path) + " is gone from the quarantine");
    return faults;
}

CFaults CheckRestoreTrace(const CRepairRun& run, const CProductLayout& layout,
                          const CProductPlan& plan)
{
    if (!run.m_bCaptured)
        return {"the debugger output could not be captured"};
    std::vector<std::string> trace = TraceLines(run);
    CFaults faults;
    std::string startUp = "[VAULTKIT] QUARANTINE FOLDER |" + U8(layout.m_sQuarantine) + "|";
    if (trace.empty() || trace[0] != startUp)
        faults.push_back("the trace does not begin with \"" + startUp + "\"");
    std::vector<std::vector<std::string>> calls = TraceCalls(trace);
    size_t expectedCalls = 0;
    for (const CPlannedItem& item : plan.m_Items) {
        if (item.m_bCorruptIndex || !item.Matches())
            continue;
        for (size_t i = 0; i < item.m_Locations.size(); ++i) {
            const CPlannedLocation& location = item.m_Locations[i];
            std::string head = "[VAULTKIT] VaultkitDecryptAndRestore(|" + IndexPathText(layout, item) +
                               "|, |" + U8(location.m_sName) + "|, |" + U8(location.m_sFolder) +
                               "|, |(null)|, 0, 0)";
            ++expectedCalls;
            auto call = std::find_if(calls.begin(), calls.end(),
                                     [&](const std::vector<std::string>& c) { return c[0] == head; });
            if (call == calls.end()) {
                faults.push_back("no trace line \"" + head + "\"");
                continue;
            }
            CFaults more = CheckTraceCall(*call, location, i + 1 == item.m_Locations.size());
            faults.insert(faults.end(), more.begin(), more.end());
        }
    }
    if (calls.size() != expectedCalls)
        faults.push_back(std::to_string(calls.size()) + " restore calls traced, not " +
                         std::to_string(expectedCalls));
    return faults;
}

CFaults CheckDecoyNeverRan(const CProductLayout& layout)
{
    std::string record;
    if (!ReadWholeFile(layout.DecoyRecord(), record))
        return {};
    return {"a decoy ran: " + record};
}

std::map<std::wstring, std::string> SnapshotProduct(const CProductLayout& layout)
{
    std::map<std::wstring, std::string> snapshot;
    for (const std::wstring* folder : {&layout.m_sVendor, &layout.m_sEngineVendor,
                                       &layout.m_sQuarantine, &layout.m_sVictims})
        SnapshotTree(*folder, snapshot);
    snapshot[L"registry: pending renames"] = RegistryText(kSessionManagerKeyPath, kPendingRenamesValue);
    snapshot[L"registry: quarantine folder"] = RegistryText(kProductQuarantineKey, kProductQuarantineValue);
    for (const CProductService& service : ProductServices()) {
        snapshot[L"service " + std::wstring(service.m_szName)] =
            std::to_string(QueryServiceState(service.m_szName));
        snapshot[L"processes " + std::wstring(service.m_szExe)] =
            std::to_string(CountProcesses(service.m_szExe));
    }
    for (const std::wstring& app : ProductApps())
        snapshot[L"processes " + app] = std::to_string(CountProcesses(app));
    return snapshot;
}

CFaults CompareSnapshots(const std::map<std::wstring, std::string>& before,
                         const std::map<std::wstring, std::string>& after)
{
    CFaults faults;
    for (const auto& [what, facts] : before) {
        auto now = after.find(what);
        if (now == after.end())
            faults.push_back(U8(what) + " is gone");
        else if (now->second != facts)
            faults.push_back(U8(what) + ": " + now->second + ", was " + facts);
    }
    for (const auto& [what, facts] : after)
        if (!before.count(what))
            faults.push_back(U8(what) + " appeared: " + facts);
    return faults;
}
