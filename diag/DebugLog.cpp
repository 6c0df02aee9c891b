// The debug log (see DebugLog.h): levels, messages and lines; the file itself is in
// DebugFile.cpp. Nothing here throws: the only allocation of a line's way, the trim's
// buffer, is caught where a line enters the file.
#include "diag/DebugLog.h"
#include "diag/DebugFile.h"
#include "diag/DebugFileLock.h"
#include "diag/TextBuffer.h"
#include "platform/SysCalls.h"
#include <cwchar>

namespace {

struct LevelDef
{
    unsigned level;
    const wchar_t* label;
};

const LevelDef kLevels[] = {
    {DBG_ERROR, L"[ERROR]:  "}, {DBG_WARNING, L"[WARNING]:"}, {DBG_INFO, L"[INFO]:   "},
    {DBG_ALL, L"[ALL]:    "},   {DBG_LOG1, L"[LOG1]:"},       {DBG_LOG2, L"[LOG2]:"},
    {DBG_LOG3, L"[LOG3]:"},     {DBG_ACT1, L"[ACT1]:"},       {DBG_ACT2, L"[ACT2]:"},
    {DBG_ACT3, L"[ACT3]:"},     {DBG_VIRUS_INFO, L"[VIRUS_INFO]:"},
};

// Holds a critical section for one scope, through the table of calls.
class CLockScope
{
public:
    explicit CLockScope(CRITICAL_SECTION* cs) : m_cs(cs) { g_Sys.EnterCriticalSection(m_cs); }
    ~CLockScope() { g_Sys.LeaveCriticalSection(m_cs); }
    CLockScope(const CLockScope&) = delete;
    CLockScope& operator=(const CLockScope&) = delete;

private:
    CRITICAL_SECTION* m_cs;
};

size_t CopyBytes(char* to, const char* from, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        to[i] = from[i];
    return count;
}

} // namespace

CDebugLog g_DebugLog;

CDebugLog::CDebugLog()
{
    g_Sys.InitializeCriticalSection(&m_csFile);
    m_bLockReady = true;
    try {
        m_Levels.resize(100);
    } catch (...) {
        return; // no levels: every message is dropped
    }
    for (const LevelDef& def : kLevels)
        DefineLevel(def.level, def.label, true);
}

CDebugLog::~CDebugLog()
{
    Stop();
}

void CDebugLog::Start(const wchar_t* tag)
{
    m_bStarted = true;
    m_szFile[0] = L'\0';
    CopyInto(m_szTag, kTagChars, tag);
}

void CDebugLog::SetDebugFile(const wchar_t* path)
{
    if (!path || !*path)
        return;
    {
        CLockScope lock(&m_csFile);
        // A cut path would name another file: refuse it and stay on the debugger output.
        if (wcslen(path) >= kFileChars) {
            DebugOut(L"Debug file path too long, not used: %s\n", path);
            return;
        }
        CopyInto(m_szFile, kFileChars, path);
        m_bFreshLine = true;
        DebugOut(L"Debug file: %s\n", m_szFile);
    }
    WriteLine(L"");
    WriteLine(L"");
    WriteLine(L"=====started=====");
}

void CDebugLog::LogV(unsigned level, const wchar_t* functionTag, const wchar_t* format,
                     va_list args)
{
    if (!m_bStarted)
        return;
    if (m_Levels.empty() || level >= m_Levels.size() || !m_Levels[level].enabled)
        return;
    wchar_t message[kMessageChars];
    const wchar_t* label = m_Levels[level].label;
    if (!functionTag || !*functionTag)
        CopyInto(message, kMessageChars, label);
    else
        FormatInto(message, kMessageChars, L"%s%s - ", label, functionTag);
    if (format && *format) {
        size_t used = wcslen(message);
        FormatIntoV(message + used, kMessageChars - used, format, args);
    }
    WriteLine(message);
}

void CDebugLog::Log(unsigned level, const wchar_t* functionTag, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    LogV(level, functionTag, format, args);
    va_end(args);
}

void CDebugLog::BuildLine(const wchar_t* text, wchar_t* line)
{
    wchar_t field[kFieldChars];
    line[0] = L'\0';
    FormatInto(field, kFieldChars, L"[PID:%.8d]", static_cast<int>(g_Sys.GetCurrentProcessId()));
    AppendInto(line, kLineChars, field);
    FormatInto(field, kFieldChars, L"[TID:%.8d]", static_cast<int>(g_Sys.GetCurrentThreadId()));
    AppendInto(line, kLineChars, field);
    SYSTEMTIME now = {};
    g_Sys.GetLocalTime(&now);
    FormatInto(field, 100, L"[%04u-%02u-%02u-%02u:%02u:%02u]", now.wYear, now.wMonth, now.wDay,
               now.wHour, now.wMinute, now.wSecond);
    AppendInto(line, kLineChars, field);
    FormatInto(field, kFieldChars, L"[%s]", L"~");
    AppendInto(line, kLineChars, field);
    if (m_szTag[0])
        AppendInto(line, kLineChars, m_szTag);
    AppendInto(line, kLineChars, text);
    // The line end must survive a cut, or the next line would run into this one.
    size_t len = wcslen(line);
    if (len + 1 >= kLineChars)
        len = kLineChars - 2;
    line[len] = L'\n';
    line[len + 1] = L'\0';
}

void CDebugLog::WriteLine(const wchar_t* text)
{
    if (!m_bStarted)
        return;
    // The private copy holds what fits a line; a longer text is cut there anyway.
    wchar_t copy[kLineChars];
    CopyInto(copy, kLineChars, text);
    CLockScope lock(&m_csFile);
    wchar_t line[kLineChars];
    BuildLine(copy, line);
    g_Sys.OutputDebugStringW(line);
    if (!m_szFile[0])
        return;
    try {
        AppendToFile(line);
    } catch (...) {
        // The trim could not hold the file's tail: the line stays on the debugger only.
        DebugOut(L"Debug file not written, out of memory: %s\n", m_szFile);
    }
}

void CDebugLog::AppendToFile(const wchar_t* line)
{
    const unsigned waitMs = m_bWaitMissed ? 0 : kWaitMs;
    CUniqueFile file;
    EDebugFileOpen opened = OpenDebugFile(m_szFile, file, waitMs);
    if (opened != EDebugFileOpen::Opened) {
        m_bWaitMissed = opened == EDebugFileOpen::Busy;
        DebugOut(opened == EDebugFileOpen::Refused
                     ? L"Debug file is a link or lies elsewhere, not written: %s\n"
                     : L"Cannot open debug file: %s\n",
                 m_szFile);
        return;
    }
    // From the size to the append, no other run's line comes between: else two runs at a
    // new file could both put a mark in, or a trim cut the other's line.
    CDebugFileLock lock(file.get(), waitMs);
    if (!lock.Held() && waitMs > 0)
        DebugOut(L"Debug file locked elsewhere, written without the lock: %s\n", m_szFile);
    m_bWaitMissed = !lock.Held();
    long long size = 0;
    if (!DebugFileSize(file.get(), size))
        return WriteFailed();
    if (size + static_cast<long long>(wcslen(line)) > kTrimLimit && !Trim(file.get(), size))
        return;
    char bytes[3 + 2 + kLineBytes];
    size_t count = LineStart(file.get(), size, bytes);
    count += EncodeDebugLine(line, bytes + count, kLineBytes);
    if (!AppendToDebugFile(file.get(), bytes, count))
        return WriteFailed();
    m_bFreshLine = false;
}

// Trims the full file through its handle; size becomes the new size. False when the line
// is not to be written (the rewrite failed).
bool CDebugLog::Trim(HANDLE file, long long& size)
{
    ETrim trim = TrimDebugFile(file, size, kTrimKeep);
    if (trim == ETrim::Failed) {
        DebugOut(L"Cannot rewrite debug file: %s\n", m_szFile);
        m_bFreshLine = true;
        return false;
    }
    if (trim == ETrim::Done && !DebugFileSize(file, size)) {
        WriteFailed();
        return false;
    }
    return true;
}

// What goes before the line: a byte-order mark in a file still empty; a line end when the file
// ends inside a line (cut short by a full disk or a failed write), so that the line
// starts on a line of its own. Returns the byte count.
size_t CDebugLog::LineStart(HANDLE file, long long size, char* bytes)
{
    if (size == 0)
        return CopyBytes(bytes, "\xEF\xBB\xBF", 3);
    if (m_bFreshLine && !DebugFileEndsWithLineEnd(file, size))
        return CopyBytes(bytes, "\r\n", 2);
    return 0;
}

void CDebugLog::WriteFailed()
{
    DebugOut(L"Cannot write debug file: %s\n", m_szFile);
    m_bFreshLine = true;
}

void CDebugLog::DefineLevel(unsigned level, const wchar_t* label, bool enabled)
{
    if (m_Levels.empty() || level >= m_Levels.size()) {
        try {
            m_Levels.resize(static_cast<size_t>(level) + 10);
        } catch (...) {
            return; // the level stays undefined
        }
    }
    CopyInto(m_Levels[level].label, kLabelChars, label);
    m_Levels[level].enabled = enabled;
}

void CDebugLog::Stop()
{
    if (m_bStarted) {
        WriteLine(L"=====stopped=====");
        m_bStarted = false;
    }
    if (m_bLockReady) {
        g_Sys.DeleteCriticalSection(&m_csFile);
        m_bLockReady = false;
    }
    m_Levels.clear();
    m_Levels.shrink_to_fit();
}

void CDebugLog::DebugOut(const wchar_t* format, ...)
{
    wchar_t buf[kDebugChars];
    va_list args;
    va_start(args, format);
    FormatIntoV(buf, kDebugChars, format, args);
    va_end(args);
    g_Sys.OutputDebugStringW(buf);
}

void Log(unsigned level, const wchar_t* functionTag, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    g_DebugLog.LogV(level, functionTag, format, args);
    va_end(args);
}
