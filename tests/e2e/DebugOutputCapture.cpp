// Debugger output capture (see DebugOutputCapture.h).
#include "tests/e2e/DebugOutputCapture.h"
#include <cstring>

namespace {

const DWORD kBufferBytes = 4096;

} // namespace

CDebugOutputCapture::~CDebugOutputCapture()
{
    Stop();
}

bool CDebugOutputCapture::Start()
{
    m_hBufferReady = CreateEventW(/*lpEventAttributes=*/nullptr, /*bManualReset=*/FALSE,
                                  /*bInitialState=*/FALSE, L"DBWIN_BUFFER_READY");
    if (!m_hBufferReady || GetLastError() == ERROR_ALREADY_EXISTS)
        return false;
    m_hDataReady = CreateEventW(/*lpEventAttributes=*/nullptr, /*bManualReset=*/FALSE,
                                /*bInitialState=*/FALSE, L"DBWIN_DATA_READY");
    m_hMapping = CreateFileMappingW(INVALID_HANDLE_VALUE, /*lpFileMappingAttributes=*/nullptr,
                                    PAGE_READWRITE, /*dwMaximumSizeHigh=*/0, kBufferBytes,
                                    L"DBWIN_BUFFER");
    if (!m_hDataReady || !m_hMapping)
        return false;
    m_pView = static_cast<const char*>(
        MapViewOfFile(m_hMapping, FILE_MAP_READ, /*dwFileOffsetHigh=*/0,
                      /*dwFileOffsetLow=*/0, kBufferBytes));
    if (!m_pView)
        return false;
    m_bStop = false;
    m_Thread = std::thread([this] { Run(); });
    return true;
}

void CDebugOutputCapture::Stop()
{
    if (m_Thread.joinable()) {
        m_bStop = true;
        m_Thread.join();
    }
    if (m_pView)
        UnmapViewOfFile(m_pView);
    m_pView = nullptr;
    for (HANDLE* h : {&m_hMapping, &m_hDataReady, &m_hBufferReady}) {
        if (*h)
            CloseHandle(*h);
        *h = nullptr;
    }
}

std::vector<std::string> CDebugOutputCapture::MessagesOf(DWORD pid) const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    std::vector<std::string> texts;
    for (const CDebugMessage& message : m_Messages)
        if (message.m_dwProcessId == pid)
            texts.push_back(message.m_sText);
    return texts;
}

// The writer waits for "buffer ready", fills the buffer and signals "data ready"; we copy
// the message out before handing the buffer back. A stop request ends the loop only once
// no message is pending, so nothing sent before the writer ended is lost.
void CDebugOutputCapture::Run()
{
    SetEvent(m_hBufferReady);
    for (;;) {
        if (WaitForSingleObject(m_hDataReady, 100) != WAIT_OBJECT_0) {
            if (m_bStop)
                break;
            continue;
        }
        CDebugMessage message;
        memcpy(&message.m_dwProcessId, m_pView, sizeof(DWORD));
        const char* text = m_pView + sizeof(DWORD);
        message.m_sText.assign(text, strnlen(text, kBufferBytes - sizeof(DWORD)));
        {
            std::lock_guard<std::mutex> guard(m_Lock);
            m_Messages.push_back(std::move(message));
        }
        SetEvent(m_hBufferReady);
    }
}
