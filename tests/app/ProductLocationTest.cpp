// The install folder from the main service's binary path or below Program Files; the engine folder.
#include "tests/app/AppTestSupport.h"
#include "platform/Utf8.h"

using ProductLocationTest = AppTest;

const std::wstring kSuite = L"C:\\Program Files\\Corvanta\\Corvanta Suite\\";
const std::wstring kKernel = L"C:\\Program Files\\Common Files\\Corvanta\\Corvanta Scan Kernel\\";
const std::wstring kTag = L"GetServicePath";

// The executable's folder, whatever follows; no separator past the first character, or no path:
// the fixed folder. Only an empty folder is filled; without the shell's folders both stay empty.
TEST_F(ProductLocationTest, InstallFolderFromTheBinaryPathOrBelowProgramFiles)
{
    const std::wstring longest = L"C:\\CV\\" + std::wstring(253, L'a'); // 259 characters
    const std::tuple<std::optional<std::wstring>, std::wstring, std::wstring> cases[] = {
        {L"\"C:\\Program Files\\CV\\cvhost.exe\" -k", L"C:\\Program Files\\CV", L""},
        {L"C:\\CV\\cvhost.exe -log C:\\Logs\\cv.log", L"C:\\CV\\cvhost.exe -log C:\\Logs", L""},
        {L"\"" + longest + L"\" -k", L"C:\\CV", L""},
        {L"\\cvhost.exe", L"", L""},
        {std::nullopt, kSuite, Error(kTag, L"pSC->lpBinaryPathName is null")},
        {longest + L"a", kSuite, Error(kTag, L"lpBinaryPathName too long: " + longest + L"a")},
    };
    CFakeService service;
    service.m_sName = L"CVHOST";
    bool shellFails = false;
    CSysHook<&CSysCalls::SHGetFolderPathW> shell([&](HWND, int csidl, HANDLE, DWORD, LPWSTR out) {
        wcscpy(out, csidl == CSIDL_PROGRAM_FILES ? L"C:\\Program Files" : L"C:\\Program Files\\Common Files");
        return shellFails ? E_FAIL : S_OK;
    });
    for (const auto& [binaryPath, folder, line] : cases) {
        SCOPED_TRACE(WideToUtf8(binaryPath.value_or(L"-")));
        service.m_BinaryPath = binaryPath;
        g_sCVPath.clear();
        m_Debugger.Clear();
        InitGlobals();
        const std::wstring found = L"s=" + folder + L", lpBinaryPathName=" + binaryPath.value_or(L"");
        EXPECT_EQ(Messages(), (std::vector<std::wstring>{All(kTag, L"szName=CVHOST"),
                                                         line.empty() ? All(kTag, found) : line}));
        EXPECT_EQ(g_sCVPath + L"|" + g_sCVSKPath, (folder.empty() ? kSuite : folder) + L"|" + kKernel);
    }
    g_sCVPath = L"D:\\Elsewhere";
    m_Debugger.Clear();
    InitGlobals();
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(g_sCVPath + L"|" + g_sCVSKPath, L"D:\\Elsewhere|" + kKernel);
    g_sCVPath.clear();
    g_sCVSKPath.clear();
    service.m_sName = L"OTHER";
    shellFails = true;
    InitGlobals();
    EXPECT_EQ(g_sCVPath + L"|" + g_sCVSKPath, L"|");
}
