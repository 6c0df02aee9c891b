// The set-up operations of the simulated product: install it (folders, executables,
// services, engine files, registry values, quarantine), start it, and remove every trace
// again, so that each end-to-end scenario starts from a fresh product in the same prefix.
#pragma once
#include "tools/product/ProductPlan.h"
#include <map>
#include <string>
#include <vector>

// What went wrong, one line per problem; empty after a clean operation.
struct CSetupReport
{
    std::vector<std::wstring> m_Problems;

    bool Ok() const { return m_Problems.empty(); }
    void Fail(const std::wstring& what, unsigned long error);
    std::wstring Text() const;
};

struct CInstallOptions
{
    std::wstring m_sBinFolder; // holds cvservice.exe, cvapp.exe and cvdecoy.exe
    // Behaviour words per service name (see ProductService.cpp); "normal" when absent.
    std::map<std::wstring, std::wstring> m_ServiceWords;
    bool m_bRootDecoy = true; // also plant <drive>\Program.exe
};

struct CStartOptions
{
    std::vector<std::wstring> m_StubbornApps; // started as residents that ignore "stop"
    unsigned long m_dwServiceTimeoutMs = 30000;
};

void InstallProduct(const CProductLayout& layout, const CProductPlan& plan,
                    const CInstallOptions& options, CSetupReport& report);
void StartProduct(const CProductLayout& layout, const CStartOptions& options,
                  CSetupReport& report);
void UninstallProduct(const CProductLayout& layout, CSetupReport& report);

// The folder of the running program, with its trailing backslash.
std::wstring OwnFolder();
