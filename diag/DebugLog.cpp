// The debug log (see DebugLog.h): line building, the per-line file append and the trim.
#include "diag/DebugLog.h"
#include "diag/TextBuffer.h"
#include "platform/SysCalls.h"
#include "platform/Utf8.h"
#include <cstdio>
#include <cwchar>
#include <new>
#include <string>

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

struct FileCloser
{
    void operator()(FILE* f) const
    {
        if (f)
            fclose(f);
    }
};

// The tail of the file from byte offset on, read raw; empty when it cannot be read.
bool ReadTail(const wchar_t* path, long long offset, std::string& tail)
{
    FILE* f = g_Sys._wfopen(path, L"rb");
    if (!f)
        return false;
    bool ok = _fseeki64(f, offset, SEEK_SET) == 0;
    char chunk[65536];
    while (ok) {
        size_t n = fread(chunk, 1, sizeof(chunk), f);
        tail.append(chunk, n);
        if (n < sizeof(chunk))
            break;
    }
    ok = ok && !ferror(f);
    fclose(f);
    return ok;
}

// Drops the first, partial line: everything up to the first CR or LF, then every CR and
// LF that follows. What remains holds only complete lines.
std::string KeptTail(const std::string& raw)
{
    size_t i = raw.find_first_of("\r\n");
    if (i == std::string::npos)
        return std::string();
    i = raw.find_first_not_of("\r\n", i);
    return i == std::string::npos ? std::string() : raw.substr(i);
}

} // namespace

CDebugLog g_DebugLog;

CDebugLog::CDebugLog()
{
    m_Levels.resize(100);
    for (const LevelDef& def : kLevels)
        DefineLevel(def.level, def.label, true);
    g_Sys.InitializeCriticalSection(&m_csFile);
    m_bLockReady = true;
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
    std::wstring copy = text ? text : L"";
    CLockScope lock(&m_csFile);
    wchar_t line[kLineChars];
    BuildLine(copy.c_str(), line);
    g_Sys.OutputDebugStringW(line);
    if (m_szFile[0])
        AppendToFile(line);
}

void CDebugLog::AppendToFile(const wchar_t* line)
{
    FILE* f = g_Sys._wfopen(m_szFile, L"a+, ccs=UTF-8");
    if (!f) {
        DebugOut(L"Cannot open debug file: %s\n", m_szFile);
        return;
    }
    _fseeki64(f, 0, SEEK_END);
    long long size = _ftelli64(f);
    if (size >= 0 && size + static_cast<long long>(wcslen(line)) > kTrimLimit) {
        fclose(f);
        if (!TrimFile(size))
            return;
        f = g_Sys._wfopen(m_szFile, L"a+, ccs=UTF-8");
        if (!f) {
            DebugOut(L"Cannot open debug file: %s\n", m_szFile);
            return;
        }
    }
    _fseeki64(f, 0, SEEK_END);
    fputws(line, f);
    fclose(f);
}

// Keeps only the complete lines of the file's last 2.5 MiB. False when the file could not
// be rewritten (it then keeps its old content and the line is not written).
bool CDebugLog::TrimFile(long long size)
{
    long long offset = (size - kTrimKeep) & ~3LL;
    if (offset < 0)
        offset = 0;
    std::string raw;
    // A tail that cannot be read (or held) leaves the file as it is; the line is appended.
    if (!ReadTail(m_szFile, offset, raw))
        return true;
    std::wstring kept = Utf8ToWide(KeptTail(raw));
    // The kept lines are already complete with CR LF; text mode would double the CR.
    std::wstring text;
    text.reserve(kept.size());
    for (size_t i = 0; i < kept.size(); ++i)
        if (!(kept[i] == L'\r' && i + 1 < kept.size() && kept[i + 1] == L'\n'))
            text += kept[i];
    FILE* f = g_Sys._wfopen(m_szFile, L"w, ccs=UTF-8");
    if (!f) {
        DebugOut(L"Cannot open debug file: %s\n", m_szFile);
        return false;
    }
    if (!text.empty())
        fputws(text.c_str(), f);
    fclose(f);
    return true;
}

void CDebugLog::DefineLevel(unsigned level, const wchar_t* label, bool enabled)
{
    if (m_Levels.empty() || level >= m_Levels.size())
        m_Levels.resize(static_cast<size_t>(level) + 10);
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
