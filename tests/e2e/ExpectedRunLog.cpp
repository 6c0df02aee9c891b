// The expected debug log of a repair run (see ExpectedRunLog.h).
#include "tests/e2e/ExpectedRunLog.h"
#include "platform/Utf8.h"

namespace {

const std::string kRun = "DoSanarix";
const std::string kRestore = "RestoreQuarantine";
const std::string kVirus = "trojan.fakealert.5";
const char* const kStopApps[] = {"cvhost.exe", "cvtray.exe", "cvconsole.exe"};
const char* const kStartApps[] = {"cvhost.exe", "cvtray.exe"};
const char* const kStopServices[] = {"CVUPDATE", "CVPROBE", "CVMSG"};
const char* const kStartServices[] = {"CVMSG", "CVUPDATE"};

std::string U8(const std::wstring& text)
{
    return WideToUtf8(text);
}

std::string WithoutTrailingBackslash(const std::wstring& folder)
{
    std::wstring text = folder;
    if (!text.empty() && text.back() == L'\\')
        text.pop_back();
    return U8(text);
}

// The folder the run works from: taken from CVHOST's binary path when installed (no
// trailing backslash), the Program Files fallback otherwise (with one).
std::string RunFolder(const CProductLayout& layout, const CRunSituation& situation)
{
    return situation.m_bInstalled ? WithoutTrailingBackslash(layout.m_sInstall)
                                  : U8(layout.m_sInstall);
}

std::string Command(const CProductLayout& layout, const CRunSituation& situation,
                    const std::string& app, const std::string& word)
{
    std::string folder = RunFolder(layout, situation);
    if (folder.back() != '\\')
        folder += '\\';
    return folder + app + " " + word;
}

void ExpectLocation(CLogExpectation& log, const CProductLayout& layout)
{
    const CProductService& host = *FindProductService(L"CVHOST");
    log.Line(All(kRun, "InitGlobals() ..."));
    log.Line(All("GetServicePath", "szName=CVHOST"));
    log.Line(All("GetServicePath", "s=" + WithoutTrailingBackslash(layout.m_sInstall) +
                                       ", lpBinaryPathName=" +
                                       U8(ServiceBinaryPath(layout, host, L"normal"))));
}

void ExpectAppCommand(CLogExpectation& log, const CProductLayout& layout,
                      const CRunSituation& situation, const std::string& tag,
                      const std::string& app, const std::string& word)
{
    log.Line(All(kRun, tag + "(" + app + ") ..."));
    log.Line(All(tag, "szCVApp=" + app));
    std::string command = Command(layout, situation, app, word);
    log.Line(All(tag, "szCommand=" + command));
    if (!situation.m_bInstalled) {
        log.Pattern(RegexQuote(Error(tag, "CreateProcess failed, command=" + command + " error=")) +
                    "(2|3)");
        log.Line(All(kRun, tag + "(" + app + ") result=fail"));
        return;
    }
    log.WaitPair(tag);
    if (tag == "StopCVApp")
        log.Line(All("KillProcess", "szProcess=" + app));
    log.Line(All(kRun, tag + "(" + app + ") result=ok"));
}

void ExpectStopService(CLogExpectation& log, const CRunSituation& situation,
                       const std::string& name)
{
    const std::string tag = "MyStopService";
    log.Line(All(kRun, tag + "(" + name + ") ..."));
    log.Line(All(tag, "szName=" + name));
    bool ok = situation.m_bInstalled;
    if (!situation.m_bInstalled) {
        log.Line(Error(tag, "OpenService() failed, name=" + name));
    } else if (U8(situation.m_sIgnoringService) == name) {
        std::string exe = U8(FindProductService(situation.m_sIgnoringService)->m_szExe);
        log.Line(Info(tag, "KillProcess " + exe));
        log.Line(All("KillProcess", "szProcess=" + exe));
        log.Line(Info(tag, "KillProcess " + exe + " result=ok"));
        ok = false;
    }
    log.Line(All(kRun, tag + "(" + name + ") result=" + (ok ? "ok" : "fail")));
}

void ExpectStartService(CLogExpectation& log, const CRunSituation& situation,
                        const std::string& name)
{
    const std::string tag = "MyStartService";
    log.Line(All(kRun, tag + "(" + name + ") ..."));
    log.Line(All(tag, "szName=" + name));
    if (!situation.m_bInstalled)
        log.Line(Error(tag, "OpenService() failed"));
    log.Line(All(kRun, tag + "(" + name + ") result=" + (situation.m_bInstalled ? "ok" : "fail")));
}

void ExpectCleanup(CLogExpectation& log, const CProductLayout& layout, const CProductPlan& plan,
                   const CRunSituation& situation)
{
    log.Line(All(kRun, "RemoveFileRec(cvheur.xr0) ..."));
    log.Line(All("RemoveFileRec", "szFile=cvheur.xr0 szPath=" + U8(layout.m_sEngine)));
    bool present = situation.m_bInstalled && situation.m_bFirstRun;
    std::vector<std::vector<std::string>> found;
    for (const CPlannedEngineFile& file : plan.m_EngineFiles) {
        if (!file.m_bDeleted || !present)
            continue;
        std::string path = U8(layout.m_sEngine + file.m_sRelative);
        found.push_back({All("RemoveFileRec", "Found file " + path),
                         All("RemoveFileRec", "Delete file " + path + " ok")});
    }
    if (!found.empty())
        log.AnyOrder(found);
    log.Line(All(kRun, "RemoveFileRec(cvheur.xr0) result=" +
                           std::to_string(present ? plan.EngineMatches() : 0)));

    log.Line(All(kRun, "RemovePendingFileROp() ..."));
    log.Line(All("DeleteRegistryKey", "szRegPath=" + U8(kSessionManagerKeyPath) +
                                          " szRegValue=" + U8(kPendingRenamesValue)));
    if (present)
        log.Line(Error("DeleteRegistryKey", "Delete registry key ok"));
    else
        log.Line(All("DeleteRegistryKey", "Cannot delete registry key, error=2"));
    log.Line(All(kRun, std::string("RemovePendingFileROp() result=") + (present ? "ok" : "fail")));
}

// One group per index file the driver reads, in the order of its locations.
std::vector<std::vector<std::string>> RestoreGroups(const CProductLayout& layout,
                                                    const CProductPlan& plan, bool firstRun)
{
    std::vector<std::vector<std::string>> groups;
    for (const CPlannedItem& item : plan.m_Items) {
        if (item.m_bCorruptIndex || (!firstRun && !item.Remains()))
            continue;
        std::string index = IndexPathText(layout, item);
        std::vector<std::string> lines;
        for (const CPlannedLocation& location : item.m_Locations) {
            if (!item.Matches()) {
                lines.push_back(All(kRestore, "Skipping: [" + index + "]"));
                continue;
            }
            lines.push_back(All(kRestore, "Restoring: [" + index + "]"));
            if (location.m_eFate == ELocationFate::Restored)
                lines.push_back(All(kRestore, "Restoring: [" + index + "] ok"));
            else
                lines.push_back(Error(kRestore, "Restoring: [" + index + "] failed"));
            if (location.m_eFate == ELocationFate::ExistingKept)
                lines.push_back(Info(kRestore, "File already there, kept: name=" +
                                                   U8(location.m_sName) + " path=" +
                                                   U8(location.m_sFolder)));
        }
        groups.push_back(lines);
    }
    return groups;
}

void ExpectRestore(CLogExpectation& log, const CProductLayout& layout, const CProductPlan& plan,
                   const CRunSituation& situation)
{
    log.Line(All(kRun, "RestoreQuarantine(" + kVirus + ") ..."));
    log.Line(All(kRestore, "szVirusName=" + kVirus));
    if (!situation.m_bInstalled) {
        log.Line(Error("GetQuarFolderPath", "Cannot open registry path: " + U8(kProductQuarantineKey)));
        log.Line(Error(kRestore, "Could not init vaultkit!"));
    } else {
        log.Line(All(kRestore, "Inited vaultkit!"));
        log.Line(All(kRestore, "quarFolderPath=" + U8(layout.m_sQuarantine)));
        log.Line(All(kRestore, "Pattern : [" + U8(layout.m_sQuarantine) + "*.xml]"));
        std::vector<std::vector<std::string>> groups =
            RestoreGroups(layout, plan, situation.m_bFirstRun);
        if (!groups.empty())
            log.AnyOrder(groups);
    }
    log.Line(All(kRestore, "ok"));
    log.Line(All(kRun, "RestoreQuarantine(" + kVirus + ") result=ok"));
}

} // namespace

std::string IndexPathText(const CProductLayout& layout, const CPlannedItem& item)
{
    return U8(layout.m_sQuarantine + item.m_sBaseName + L".xml");
}

CLogExpectation ExpectedRunLog(const CProductLayout& layout, const CProductPlan& plan,
                               const CRunSituation& situation)
{
    CLogExpectation log;
    log.Line("");
    log.Line("");
    log.Line("=====started=====");
    log.Line(All(kRun, ""));

    if (situation.m_bInstalled) {
        ExpectLocation(log, layout);
    } else {
        log.Line(All(kRun, "InitGlobals() ..."));
        log.Line(All("GetServicePath", "szName=CVHOST"));
        log.Line(Error("GetServicePath", "OpenService() failed"));
    }
    log.Line(All(kRun, "InitGlobals() ok"));
    log.Line(All(kRun, "g_sCVPath=" + RunFolder(layout, situation)));
    log.Line(All(kRun, "g_sCVSKPath=" + U8(layout.m_sEngine)));

    for (const char* app : kStopApps)
        ExpectAppCommand(log, layout, situation, "StopCVApp", app, "stop");
    for (const char* name : kStopServices)
        ExpectStopService(log, situation, name);
    ExpectCleanup(log, layout, plan, situation);
    ExpectRestore(log, layout, plan, situation);
    for (const char* name : kStartServices)
        ExpectStartService(log, situation, name);
    for (const char* app : kStartApps)
        ExpectAppCommand(log, layout, situation, "StartCVApp", app, "start");
    log.Line(All(kRun, "ok"));
    log.Line("=====stopped=====");
    return log;
}
