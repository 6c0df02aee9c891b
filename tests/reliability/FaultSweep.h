// The fault sweep's injector: hooks on every table row that the restore operation and the
// quarantine store call and that can fail. With no fault armed it only counts the calls;
// armed with k, the k-th call fails with a realistic error code for its row.
// Closes and the release of a backup context still happen when they "fail", so a failed
// run leaks nothing that would disturb the next one.
#pragma once
#include "tests/support/SysHooks.h"
#include <memory>

class CFaultInjector
{
public:
    // Fails call number failAt (from 1); 0 fails nothing.
    explicit CFaultInjector(size_t failAt);
    ~CFaultInjector();
    CFaultInjector(const CFaultInjector&) = delete;
    CFaultInjector& operator=(const CFaultInjector&) = delete;

    // Calls counted so far; the injected failure, once it happened: row and error code.
    size_t Calls() const { return m_nCalls; }
    const char* FailedRow() const { return m_pFailedRow; }
    DWORD FailedError() const { return m_dwFailedError; }

    // Counts the call; true (with the last error set to one of the row's two, in turn)
    // when this one is to fail.
    bool Due(const char* row, DWORD error1, DWORD error2);

private:
    struct CHooks;

    size_t m_nFailAt;
    size_t m_nCalls = 0;
    const char* m_pFailedRow = nullptr;
    DWORD m_dwFailedError = 0;
    std::unique_ptr<CHooks> m_Hooks;
};
