// The debug log: the run's only record. One line per message, with process id, thread
// id, local time, a "~" field and the line tag, sent to the debugger output and appended
// to a UTF-8 file that is kept below 5 MiB. The log never reports a failure to callers
// and never throws; its own troubles go to the debugger output.
#pragma once
#include "platform/WinHeaders.h"
#include <vector>

enum DebugLevel : unsigned
{
    DBG_ERROR = 1,
    DBG_WARNING = 2,
    DBG_INFO = 3,
    DBG_ALL = 4,
    DBG_LOG1 = 51,
    DBG_LOG2 = 52,
    DBG_LOG3 = 53,
    DBG_ACT1 = 61,
    DBG_ACT2 = 62,
    DBG_ACT3 = 63,
    DBG_VIRUS_INFO = 71,
};

class CDebugLog
{
public:
    static const size_t kFileChars = 256;     // 255 characters and the terminator
    static const size_t kTagChars = 256;
    static const size_t kLabelChars = 20;
    static const size_t kMessageChars = 10000;
    static const size_t kLineChars = 4096;
    static const size_t kFieldChars = 4096;
    static const size_t kDebugChars = 1024;
    static const long long kTrimLimit = 0x500000;  // 5 MiB
    static const long long kTrimKeep = 0x280000;   // keep about half
    // For the lock another run holds for a line, or for a program holding the file unshared.
    static const unsigned kWaitMs = 1000;
    // A line as UTF-8: at most three bytes per UTF-16 unit, two for a line end.
    static const size_t kLineBytes = 3 * kLineChars;

    struct LevelEntry
    {
        wchar_t label[kLabelChars] = {};
        bool enabled = false;
    };

    CDebugLog();
    ~CDebugLog();
    CDebugLog(const CDebugLog&) = delete;
    CDebugLog& operator=(const CDebugLog&) = delete;

    // Turns logging on with the given line tag; lines go to the debugger only until
    // SetDebugFile names a file.
    void Start(const wchar_t* tag);
    // Makes path the debug file and writes the start marker. An empty path does nothing;
    // a path that does not fit 255 characters is refused (debugger output only).
    void SetDebugFile(const wchar_t* path);
    // One message at a level; dropped before Start and for undefined or disabled levels.
    void Log(unsigned level, const wchar_t* functionTag, const wchar_t* format, ...);
    void LogV(unsigned level, const wchar_t* functionTag, const wchar_t* format, va_list args);
    // One line with the given text (null counts as empty), when started.
    void WriteLine(const wchar_t* text);
    void DefineLevel(unsigned level, const wchar_t* label, bool enabled);
    // Writes the stop marker when started and ends logging. Also run by the destructor.
    void Stop();

    bool IsStarted() const { return m_bStarted; }
    const wchar_t* GetFile() const { return m_szFile; }

private:
    void BuildLine(const wchar_t* text, wchar_t* line);
    void AppendToFile(const wchar_t* line);
    bool Trim(HANDLE file, long long& size);
    size_t LineStart(HANDLE file, long long size, char* bytes);
    void WriteFailed();
    void DebugOut(const wchar_t* format, ...);

    bool m_bStarted = false;
    wchar_t m_szFile[kFileChars] = {};
    wchar_t m_szTag[kTagChars] = {};
    std::vector<LevelEntry> m_Levels;
    CRITICAL_SECTION m_csFile;
    bool m_bLockReady = false;
    // The next line checks that the file ends with a line end: the first line of a run,
    // and the first after a write that failed.
    bool m_bFreshLine = false;
    // The last line found the file held or locked past the wait: the next ones try once,
    // without waiting.
    bool m_bWaitMissed = false;
};

// The process-wide log, built before the main routine runs.
extern CDebugLog g_DebugLog;

// Shorthand used by every part of the repair run.
void Log(unsigned level, const wchar_t* functionTag, const wchar_t* format, ...);
