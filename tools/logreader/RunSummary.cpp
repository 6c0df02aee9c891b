// Reading the lines of one run into its summary. Only the lines that decide a result are
// looked at; everything else is counted and otherwise passed over, so lines a newer program
// adds (an explanation before a "fail") change nothing.
#include "tools/logreader/RunSummary.h"
#include <string_view>

namespace {

const CStepInfo kSteps[STEP_COUNT] = {
    {"InitGlobals", nullptr, "init"},
    {"StopCVApp", "cvhost.exe", "stop_cvhost"},
    {"StopCVApp", "cvtray.exe", "stop_cvtray"},
    {"StopCVApp", "cvconsole.exe", "stop_cvconsole"},
    {"MyStopService", "CVUPDATE", "stop_CVUPDATE"},
    {"MyStopService", "CVPROBE", "stop_CVPROBE"},
    {"MyStopService", "CVMSG", "stop_CVMSG"},
    {"RemoveFileRec", nullptr, "files_found"},
    {"RemovePendingFileROp", nullptr, "pending_renames"},
    {"RestoreQuarantine", nullptr, "restore"},
    {"MyStartService", "CVMSG", "start_CVMSG"},
    {"MyStartService", "CVUPDATE", "start_CVUPDATE"},
    {"StartCVApp", "cvhost.exe", "start_cvhost"},
    {"StartCVApp", "cvtray.exe", "start_cvtray"},
};

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Decimal (signed) or hexadecimal number filling the whole text.
bool ParseNumber(std::string_view text, int base, long long& value)
{
    bool negative = base == 10 && StartsWith(text, "-");
    if (negative)
        text.remove_prefix(1);
    if (text.empty() || text.size() > 12)
        return false;
    long long result = 0;
    for (char c : text) {
        int digit = c >= '0' && c <= '9' ? c - '0'
                    : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                         : -1;
        if (digit < 0)
            return false;
        result = result * base + digit;
    }
    value = negative ? -result : result;
    return true;
}

EStep FindStep(std::string_view operation, std::string_view argument)
{
    for (size_t i = 0; i < STEP_COUNT; ++i) {
        const CStepInfo& info = kSteps[i];
        if (operation == info.m_szOperation &&
            (info.m_szArgument == nullptr || argument == info.m_szArgument))
            return static_cast<EStep>(i);
    }
    return STEP_COUNT;
}

const std::string_view kAnotherRun = "Another run is in progress, nothing done";
const std::string_view kKept = "File already there, kept: ";

// The steps whose failure a verdict names: the restore and the starts.
bool IsCitedStep(EStep step)
{
    return step == STEP_RESTORE || step >= STEP_START_CVMSG;
}

// "StopCVApp(cvhost.exe) ...", "StopCVApp(cvhost.exe) result=ok", "RemoveFileRec(cvheur.xr0)
// result=0", "InitGlobals() ok", and the sequence's last line "ok".
void AddSequenceLine(CRunSummary& run, const CLogLine& line, size_t number)
{
    std::string_view text = line.m_text;
    if (text == "ok") {
        run.m_bFinalOk = true;
        return;
    }
    if (text == kAnotherRun && line.m_level == LEVEL_ERROR) {
        run.m_bAnotherRun = true;
        run.AddEvidence(EEvidence::AnotherRun, number, text);
        return;
    }
    size_t open = text.find('(');
    size_t close = text.find(')', open == std::string_view::npos ? 0 : open);
    if (open == std::string_view::npos || close == std::string_view::npos)
        return;
    EStep step = FindStep(text.substr(0, open), text.substr(open + 1, close - open - 1));
    if (step == STEP_COUNT)
        return;
    std::string_view tail = text.substr(close + 1);
    EStepState& state = run.m_steps[step];
    run.m_stepLines[step] = number;
    if (tail == " ...") {
        state = EStepState::Cut;
        run.m_bRestoreBegun = run.m_bRestoreBegun || step == STEP_RESTORE;
    } else if (step == STEP_INIT && tail == " ok") {
        state = EStepState::Ok;
    } else if (StartsWith(tail, " result=")) {
        std::string_view word = tail.substr(8);
        long long count = 0;
        if (step == STEP_REMOVE_FILES && ParseNumber(word, 10, count)) {
            run.m_nFilesFound = static_cast<int>(count);
            state = count >= 0 ? EStepState::Ok : EStepState::Fail;
        } else {
            state = word == "ok" ? EStepState::Ok : EStepState::Fail;
            if (state == EStepState::Fail && IsCitedStep(step))
                run.AddEvidence(EEvidence::StepFailed, number, text);
        }
    }
}

void AddCleanupLine(CRunSummary& run, std::string_view text, size_t number)
{
    const std::string_view notDeleted = "Cannot delete file ";
    if (StartsWith(text, "Delete file ") && EndsWith(text, " ok")) {
        ++run.m_nFilesDeleted;
    } else if (StartsWith(text, notDeleted)) {
        ++run.m_nFilesNotDeleted;
        run.AddEvidence(EEvidence::EngineFileLeft, number, text.substr(notDeleted.size()));
    }
}

void AddRegistryLine(CRunSummary& run, std::string_view text, size_t number)
{
    const std::string_view openFailed = "Cannot open registry key, error=";
    const std::string_view deleteFailed = "Cannot delete registry key, error=";
    long long code = 0;
    if (text == "Delete registry key ok") {
        run.m_bPendingDeleted = true;
        return;
    }
    if (StartsWith(text, openFailed)) {
        run.m_bPendingError = run.m_bPendingOpenFailed = true;
        if (ParseNumber(text.substr(openFailed.size()), 16, code))
            run.m_nPendingError = static_cast<unsigned long>(code);
    } else if (StartsWith(text, deleteFailed)) {
        run.m_bPendingError = true;
        if (ParseNumber(text.substr(deleteFailed.size()), 16, code))
            run.m_nPendingError = static_cast<unsigned long>(code);
    } else {
        return;
    }
    if (!run.PendingNothingToDo())
        run.AddEvidence(EEvidence::PendingNotRemoved, number, text);
}

// The failed restore just before a "kept" line was no failure: the file stood there already
// and was left as it is.
void MarkLastFailureKept(CRunSummary& run, std::string_view detail, size_t number)
{
    ++run.m_nKept;
    if (run.m_nRestoreFailed > 0)
        --run.m_nRestoreFailed;
    for (auto it = run.m_evidence.rbegin(); it != run.m_evidence.rend(); ++it) {
        if (it->m_kind == EEvidence::RestoreFailed) {
            it->m_kind = EEvidence::Kept;
            it->m_text += std::string(" (") + std::string(detail) + ")";
            return;
        }
    }
    run.AddEvidence(EEvidence::Kept, number, detail);
}

void AddRestoreLine(CRunSummary& run, const CLogLine& line, size_t number)
{
    const std::string_view restoring = "Restoring: [";
    std::string_view text = line.m_text;
    if (StartsWith(text, restoring)) {
        if (EndsWith(text, "] ok")) {
            ++run.m_nRestored;
        } else if (EndsWith(text, "] failed")) {
            ++run.m_nRestoreFailed;
            text.remove_prefix(restoring.size());
            run.AddEvidence(EEvidence::RestoreFailed, number, text.substr(0, text.size() - 8));
        } else {
            ++run.m_nRestoreAttempts;
        }
    } else if (StartsWith(text, kKept)) {
        MarkLastFailureKept(run, text, number);
    } else if (StartsWith(text, "Skipping: [")) {
        ++run.m_nSkipped;
    } else if (text == "Could not init vaultkit!") {
        run.m_bVaultkitFailed = true;
        run.AddEvidence(EEvidence::QuarantineUnreachable, number, text);
    } else if (line.m_level == LEVEL_ERROR) {
        ++run.m_nRestoreErrors;
        run.AddEvidence(EEvidence::RestoreError, number, text);
    }
}

} // namespace

const CStepInfo& StepInfo(EStep step)
{
    return kSteps[step < STEP_COUNT ? step : STEP_INIT];
}

std::string StepName(EStep step)
{
    const CStepInfo& info = StepInfo(step);
    std::string name = info.m_szOperation;
    if (info.m_szArgument)
        name = name + "(" + info.m_szArgument + ")";
    return name;
}

void CRunSummary::AddEvidence(EEvidence kind, size_t line, std::string_view text)
{
    if (m_evidence.size() >= kMaxEvidence) {
        ++m_nEvidenceDropped;
        return;
    }
    m_evidence.push_back({kind, line, std::string(text)});
}

void CRunSummary::Add(const CLogLine& line, size_t offset, size_t lineNumber)
{
    if (m_nLines == 0) {
        m_pid = line.m_pid;
        m_first = line.m_time;
        m_firstOffset = offset;
        m_firstLine = lineNumber;
    }
    ++m_nLines;
    m_last = line.m_time;
    m_lastOffset = offset;
    m_lastLine = lineNumber;
    if (line.m_kind == ELineKind::Started)
        m_bHasStart = true;
    else if (line.m_kind == ELineKind::Stopped)
        m_bHasStop = true;
    if (line.m_kind != ELineKind::Message)
        return;
    const std::string_view function = line.m_function;
    if (function == "DoSanarix") {
        AddSequenceLine(*this, line, lineNumber);
    } else if (function == "RemoveFileRec") {
        AddCleanupLine(*this, line.m_text, lineNumber);
    } else if (function == "DeleteRegistryKey") {
        AddRegistryLine(*this, line.m_text, lineNumber);
    } else if (function == "RestoreQuarantine") {
        AddRestoreLine(*this, line, lineNumber);
    } else if (function == "GetQuarFolderPath" && line.m_level == LEVEL_ERROR) {
        m_bQuarFolderMissing = true;
        AddEvidence(EEvidence::QuarantineUnreachable, lineNumber, line.m_text);
    }
}

EStep CRunSummary::CutStep() const
{
    for (size_t i = 0; i < STEP_COUNT; ++i) {
        if (m_steps[i] == EStepState::Cut)
            return static_cast<EStep>(i);
    }
    return STEP_COUNT;
}

EStep CRunSummary::FirstStepSeen() const
{
    for (size_t i = 0; i < STEP_COUNT; ++i) {
        if (m_steps[i] != EStepState::NotReached)
            return static_cast<EStep>(i);
    }
    return STEP_COUNT;
}

bool CRunSummary::AllStepsLogged(EStep from) const
{
    for (size_t i = from; i < STEP_COUNT; ++i) {
        if (m_steps[i] != EStepState::Ok && m_steps[i] != EStepState::Fail)
            return false;
    }
    return m_bFinalOk;
}
