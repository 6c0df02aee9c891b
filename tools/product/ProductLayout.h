// Where the simulated product lives and what its parts are called: services, executables,
// folders, registry values. Shared by the set-up program and the end-to-end tests, so both
// speak of the same places.
#pragma once
#include <string>
#include <vector>

struct CProductService
{
    const wchar_t* m_szName;    // service name, e.g. "CVUPDATE"
    const wchar_t* m_szExe;     // its executable in the install folder, e.g. "cvupdate.exe"
    const wchar_t* m_szDisplay; // display name
};

// The four services, CVHOST first.
const std::vector<CProductService>& ProductServices();
const CProductService* FindProductService(const std::wstring& name);

// The product's own executables, run with "stop" and "start".
const std::vector<std::wstring>& ProductApps();

// File names of the built programs beside the set-up program.
extern const wchar_t kServiceProgram[]; // installed once per service
extern const wchar_t kAppProgram[];     // installed as each product executable
extern const wchar_t kDecoyProgram[];   // installed as the decoys

// Registry places, all under HKEY_LOCAL_MACHINE.
extern const wchar_t kProductQuarantineKey[];   // "SOFTWARE\Corvanta\Corvanta Quarantine\"
extern const wchar_t kProductQuarantineValue[]; // "QuarantineFolder"
extern const wchar_t kProductVendorKey[];       // "SOFTWARE\Corvanta"
extern const wchar_t kSessionManagerKeyPath[];  // "SYSTEM\CurrentControlSet\Control\Session Manager"
extern const wchar_t kPendingRenamesValue[];    // "PendingFileRenameOperations"

// Folders, each with its trailing backslash. The system folders come from the shell, so the same
// program installs into a Wine prefix or onto a Windows machine.
struct CProductLayout
{
    std::wstring m_sInstall;      // <Program Files>\Corvanta\Corvanta Suite
    std::wstring m_sVendor;       // <Program Files>\Corvanta, holds the decoy
    std::wstring m_sEngine;       // <Common Files>\Corvanta\Corvanta Scan Kernel
    std::wstring m_sEngineVendor; // <Common Files>\Corvanta
    std::wstring m_sData;         // <ProgramData>\Corvanta
    std::wstring m_sQuarantine;   // <ProgramData>\Corvanta\Quarantine
    std::wstring m_sDTrace;       // <ProgramData>\Corvanta\DTrace
    std::wstring m_sVictims;      // C:\Corvanta Victims, where quarantined files came from
    std::wstring m_sSystemDrive;  // C:

    std::wstring DebugLog() const { return m_sDTrace + L"sanarix.dbg"; }
    std::wstring DecoyRecord() const { return m_sData + L"decoy-ran.txt"; }
    std::wstring VendorDecoy() const { return m_sVendor + L"Corvanta.exe"; }
    std::wstring RootDecoy() const { return m_sSystemDrive + L"Program.exe"; }
    std::wstring Manifest() const { return m_sData + L"product-manifest.txt"; }
};

CProductLayout GetProductLayout();

// The quoted binary path of a service with its behaviour words appended.
std::wstring ServiceBinaryPath(const CProductLayout& layout, const CProductService& service,
                               const std::wstring& words);
