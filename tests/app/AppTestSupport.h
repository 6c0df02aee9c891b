// Doors for the repair-run tests: the run's log messages as the log reader takes its lines
// apart, and a fake service control manager and process list, all through the table of
// calls, so that no test needs the installed product.
#pragma once
#include "app/Operations.h"
#include "tests/support/SysHooks.h"
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The message of each line as the log reader reads it: the text after the line tag ("" for
// the lines before a start marker), "?" for a line that is not the repair run's.
std::vector<std::wstring> MessagesOfFile(const std::string& bytes);

// Messages as the run writes them: "[ALL]:    <tag> - <text>" and the like.
std::wstring All(const std::wstring& tag, const std::wstring& text);
std::wstring Error(const std::wstring& tag, const std::wstring& text);
std::wstring Info(const std::wstring& tag, const std::wstring& text);

// Every repair-run test: the log started on the (captured) debugger output, the product
// folders empty; both are put back afterwards, since they are process-wide.
class AppTest : public ::testing::Test
{
protected:
    AppTest();
    ~AppTest() override;
    // The log's messages on the debugger so far; other debugger output is left out.
    std::vector<std::wstring> Messages() const;

    CDebugCapture m_Debugger;
};

// One service of the product behind a fake service control manager that answers as the
// test sets it.
struct CFakeService
{
    CFakeService();
    ~CFakeService();

    std::wstring m_sName = L"CVMSG";                    // other names do not exist
    std::vector<DWORD> m_States = {SERVICE_RUNNING};    // status answers in turn; the last repeats
    int m_nFailStatusAt = 0;                            // this status query fails (from 1)
    DWORD m_dwStateAfterControl = SERVICE_STOP_PENDING; // the stop's status block, even refused
    bool m_bRefuseControl = false;
    bool m_bRefuseStart = false;
    std::optional<std::wstring> m_BinaryPath;
    int m_nStatusCalls = 0;

private:
    struct CHooks;
    std::unique_ptr<CHooks> m_pHooks;
};

// The process list (Toolhelp) with termination, and process start: a started "process" is
// a real event, unsignalled while it "runs", so that waits and closes work on real handles.
struct CFakeProcesses
{
    struct CProcess
    {
        std::wstring exe;
        DWORD pid;
        bool refuseTerminate = false;
    };

    explicit CFakeProcesses(std::vector<CProcess> list = {});
    ~CFakeProcesses();

    std::vector<CProcess> m_List;
    std::vector<DWORD> m_Terminated;
    // Application name and command line of each start; " (shown)" added when the window
    // could show, or anything is inherited or given besides.
    std::vector<std::wstring> m_Launches;
    DWORD m_dwLaunchError = 0; // a start fails with this error when not 0
    bool m_bExitsAtOnce = false;
    HANDLE m_hProcess = nullptr;

private:
    struct CHooks;
    std::unique_ptr<CHooks> m_pHooks;
};
