// Finding the install folder from the main service's binary path, its fallback below
// Program Files, and the engine folder below Common Files.
#include "tests/app/AppTestSupport.h"
#include "platform/Utf8.h"
#include <functional>

namespace {

const std::wstring kSuite = L"C:\\Program Files\\Corvanta\\Corvanta Suite\\";
const std::wstring kKernel = L"C:\\Program Files\\Common Files\\Corvanta\\Corvanta Scan Kernel\\";
const std::wstring kTag = L"GetServicePath";

class ProductLocationTest : public AppTest
{
protected:
    std::vector<int> m_Folders; // the shell folders asked for
    bool m_bShellFails = false;

private:
    CSysHook<&CSysCalls::SHGetFolderPathW> m_shell{
        [this](HWND hwnd, int csidl, HANDLE token, DWORD flags, LPWSTR out) -> HRESULT {
            m_Folders.push_back(hwnd || token || flags ? -1 : csidl);
            if (m_bShellFails)
                return E_FAIL;
            wcscpy(out, csidl == CSIDL_PROGRAM_FILES ? L"C:\\Program Files"
                                                     : L"C:\\Program Files\\Common Files");
            return S_OK;
        }};
};

// The line of a binary path that was found.
std::wstring Found(const std::wstring& folder, const std::wstring& binaryPath)
{
    return All(kTag, L"s=" + folder + L", lpBinaryPathName=" + binaryPath);
}

} // namespace

TEST_F(ProductLocationTest, InstallFolderFromTheBinaryPathOrBelowProgramFiles)
{
    const std::wstring quoted = L"\"C:\\Program Files\\CV Suite\\cvhost.exe\" -service";
    const std::wstring tooLong = L"C:\\" + std::wstring(257, L'a'); // 260 characters
    const std::wstring longest = L"C:\\CV\\" + std::wstring(253, L'a'); // 259
    struct Case
    {
        std::function<void(CFakeScm&)> arrange;
        std::wstring folder; // g_sCVPath afterwards
        std::wstring line;   // after "szName=CVHOST"
    };
    const Case cases[] = {
        {[&](CFakeScm& scm) { scm.Add(L"CVHOST", quoted); }, L"C:\\Program Files\\CV Suite",
         Found(L"C:\\Program Files\\CV Suite", quoted)},
        {[](CFakeScm& scm) { scm.Add(L"CVHOST", L"C:\\CV\\cvhost.exe -log C:\\Logs\\cv.log"); },
         L"C:\\CV\\cvhost.exe -log C:\\Logs",
         Found(L"C:\\CV\\cvhost.exe -log C:\\Logs", L"C:\\CV\\cvhost.exe -log C:\\Logs\\cv.log")},
        {[&](CFakeScm& scm) { scm.Add(L"CVHOST", longest); }, L"C:\\CV", Found(L"C:\\CV", longest)},
        {[&](CFakeScm& scm) { scm.Add(L"CVHOST", L"\"" + longest + L"\" -k"); }, L"C:\\CV",
         Found(L"C:\\CV", L"\"" + longest + L"\" -k")},
        // No separator past the first character: the fixed folder instead.
        {[](CFakeScm& scm) { scm.Add(L"CVHOST", L"\\cvhost.exe"); }, kSuite,
         Found(L"", L"\\cvhost.exe")},
        {[](CFakeScm& scm) { scm.Add(L"CVHOST", L""); }, kSuite, Found(L"", L"")},
        {[](CFakeScm& scm) { scm.m_bManagerFails = true; }, kSuite,
         Error(kTag, L"OpenSCManager() failed")},
        {[](CFakeScm&) {}, kSuite, Error(kTag, L"OpenService() failed")},
        {[](CFakeScm& scm) { scm.Add(L"CVHOST", L"C:\\CV\\cvhost.exe").failConfig = true; },
         kSuite, Error(kTag, L"QueryServiceConfig() failed")},
        {[](CFakeScm& scm) { scm.Add(L"CVHOST"); }, kSuite,
         Error(kTag, L"pSC->lpBinaryPathName is null")},
        {[&](CFakeScm& scm) { scm.Add(L"CVHOST", tooLong); }, kSuite,
         Error(kTag, L"lpBinaryPathName too long: " + tooLong)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.line));
        CFakeScm scm;
        c.arrange(scm);
        g_sCVPath.clear();
        g_sCVSKPath.clear();
        m_Debugger.Clear();
        InitGlobals();
        EXPECT_EQ(Messages(), (std::vector<std::wstring>{All(kTag, L"szName=CVHOST"), c.line}));
        EXPECT_EQ(g_sCVPath, c.folder);
        EXPECT_EQ(g_sCVSKPath, kKernel);
        EXPECT_TRUE(scm.AllClosedInOrder());
        if (!scm.m_bManagerFails) {
            EXPECT_EQ(scm.m_Events[0] + L", " + scm.m_Events[1], // all access to both
                      L"open manager 983103, open CVHOST 983551");
        }
    }
}

// Only an empty folder is filled, so a second call asks nobody; without the shell's
// folders both stay empty rather than relative to the current one.
TEST_F(ProductLocationTest, OnlyEmptyFoldersAreFilled)
{
    CFakeScm scm;
    g_sCVPath = L"D:\\Elsewhere";
    InitGlobals();
    EXPECT_TRUE(scm.m_Events.empty());
    EXPECT_EQ(g_sCVPath, L"D:\\Elsewhere");
    EXPECT_EQ(g_sCVSKPath, kKernel);
    EXPECT_EQ(m_Folders, std::vector<int>{CSIDL_PROGRAM_FILES_COMMON});
    InitGlobals();
    EXPECT_EQ(m_Folders.size(), 1u);

    g_sCVPath.clear();
    g_sCVSKPath.clear();
    m_bShellFails = true;
    InitGlobals();
    EXPECT_EQ(g_sCVPath + g_sCVSKPath, L"");
    EXPECT_EQ(m_Folders, (std::vector<int>{CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES,
                                           CSIDL_PROGRAM_FILES_COMMON}));
}
