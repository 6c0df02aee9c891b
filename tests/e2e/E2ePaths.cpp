// Paths of the programs under test (see E2ePaths.h).
#include "tests/e2e/E2ePaths.h"

#ifndef SANARIX_EXE_HOST_PATH
#error "SANARIX_EXE_HOST_PATH must name sanarix.exe in the build tree"
#endif
#ifndef E2E_LOGS_HOST_PATH
#error "E2E_LOGS_HOST_PATH must name the folder for the scenarios' logs"
#endif
#ifndef PRODUCT_BIN_HOST_PATH
#error "PRODUCT_BIN_HOST_PATH must name the folder of the product's programs"
#endif

std::wstring HostPathToWine(const std::string& hostPath)
{
    std::wstring path = L"Z:";
    for (char c : hostPath)
        path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return path;
}

std::wstring SanarixExe()
{
    return HostPathToWine(SANARIX_EXE_HOST_PATH);
}

std::wstring ProductBinFolder()
{
    return HostPathToWine(PRODUCT_BIN_HOST_PATH) + L"\\";
}

std::wstring ProductSetupExe()
{
    return ProductBinFolder() + L"product_setup.exe";
}

std::wstring E2eLogsFolder()
{
    return HostPathToWine(E2E_LOGS_HOST_PATH);
}
