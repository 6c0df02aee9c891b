// Captures the debugger output of other processes the way DebugView does: owns the
// DBWIN_BUFFER mapping and the DBWIN_BUFFER_READY / DBWIN_DATA_READY events, and a thread
// that copies out each message (process id and ANSI text) as it arrives.
#pragma once
#include "platform/WinHeaders.h"
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct CDebugMessage
{
    DWORD m_dwProcessId;
    std::string m_sText;
};

class CDebugOutputCapture
{
public:
    CDebugOutputCapture() = default;
    ~CDebugOutputCapture();
    CDebugOutputCapture(const CDebugOutputCapture&) = delete;
    CDebugOutputCapture& operator=(const CDebugOutputCapture&) = delete;

    // False when the mapping or the events cannot be made, or another monitor owns them.
    bool Start();
    void Stop();

    // The messages of one process, in arrival order.
    std::vector<std::string> MessagesOf(DWORD pid) const;

private:
    void Run();

    HANDLE m_hBufferReady = nullptr;
    HANDLE m_hDataReady = nullptr;
    HANDLE m_hMapping = nullptr;
    const char* m_pView = nullptr;
    std::atomic<bool> m_bStop{false};
    std::thread m_Thread;
    mutable std::mutex m_Lock;
    std::vector<CDebugMessage> m_Messages;
};
