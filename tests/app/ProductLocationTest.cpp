// Finding the install folder from the main service's binary path, its fallback below
// Program Files, and the engine folder below Common Files.
#include "tests/app/AppTestSupport.h"
#include "platform/Utf8.h"

namespace {

const std::wstring kSuite = L"C:\\Program Files\\Corvanta\\Corvanta Suite\\";
const std::wstring kKernel = L"C:\\Program Files\\Common Files\\Corvanta\\Corvanta Scan Kernel\\";
const std::wstring kTag = L"GetServicePath";

class ProductLocationTest : public AppTest
{
protected:
    bool m_bShellFails = false;
    CSysHook<&CSysCalls::SHGetFolderPathW> m_shell{
        [this](HWND, int csidl, HANDLE, DWORD, LPWSTR out) -> HRESULT {
            wcscpy(out, csidl == CSIDL_PROGRAM_FILES ? L"C:\\Program Files"
                                                     : L"C:\\Program Files\\Common Files");
            return m_bShellFails ? E_FAIL : S_OK;
        }};
};

} // namespace

// The executable's folder, whatever follows it; a path without a separator past its first
// character, or one that cannot be had, leaves the fixed folder below Program Files.
TEST_F(ProductLocationTest, InstallFolderFromTheBinaryPathOrBelowProgramFiles)
{
    const std::wstring longest = L"C:\\CV\\" + std::wstring(253, L'a'); // 259 characters
    struct Case
    {
        std::optional<std::wstring> binaryPath;
        std::wstring folder, line;
    };
    const Case cases[] = {
        {L"\"C:\\Program Files\\CV\\cvhost.exe\" -k", L"C:\\Program Files\\CV", L""},
        {L"C:\\CV\\cvhost.exe -log C:\\Logs\\cv.log", L"C:\\CV\\cvhost.exe -log C:\\Logs", L""},
        {L"\"" + longest + L"\" -k", L"C:\\CV", L""},
        {L"\\cvhost.exe", L"", L""},
        {std::nullopt, kSuite, Error(kTag, L"pSC->lpBinaryPathName is null")},
        {longest + L"a", kSuite, Error(kTag, L"lpBinaryPathName too long: " + longest + L"a")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.binaryPath.value_or(L"-")));
        CFakeService service;
        service.m_sName = L"CVHOST";
        service.m_BinaryPath = c.binaryPath;
        g_sCVPath.clear();
        m_Debugger.Clear();
        InitGlobals();
        const std::wstring found =
            L"s=" + c.folder + L", lpBinaryPathName=" + c.binaryPath.value_or(L"");
        EXPECT_EQ(Messages(), (std::vector<std::wstring>{
                                  All(kTag, L"szName=CVHOST"),
                                  c.line.empty() ? All(kTag, found) : c.line}));
        EXPECT_EQ(g_sCVPath, c.folder.empty() ? kSuite : c.folder);
        EXPECT_EQ(g_sCVSKPath, kKernel);
    }
}

// Only an empty folder is filled, so a second call asks nobody; without the shell's
// folders both stay empty rather than relative to the current one.
TEST_F(ProductLocationTest, OnlyEmptyFoldersAreFilled)
{
    CFakeService service;
    service.m_sName = L"CVHOST";
    service.m_BinaryPath = L"C:\\CV\\cvhost.exe";
    g_sCVPath = L"D:\\Elsewhere";
    InitGlobals();
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(g_sCVPath + L"|" + g_sCVSKPath, L"D:\\Elsewhere|" + kKernel);
    g_sCVPath.clear();
    g_sCVSKPath.clear();
    service.m_sName = L"OTHER";
    m_bShellFails = true;
    InitGlobals();
    EXPECT_EQ(g_sCVPath + L"|" + g_sCVSKPath, L"|");
}
