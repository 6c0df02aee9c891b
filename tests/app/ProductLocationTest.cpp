// Finding the install folder from the main service's binary path, its fallback, and the
// engine folder.
#include "tests/app/AppTestSupport.h"
#include "platform/Utf8.h"
#include <functional>

namespace {

const std::wstring kSuite = L"C:\\Program Files\\Corvanta\\Corvanta Suite\\";
const std::wstring kKernel = L"C:\\Program Files\\Common Files\\Corvanta\\Corvanta Scan Kernel\\";

class ProductLocationTest : public AppTest
{
protected:
    ProductLocationTest()
        : m_shell([this](HWND hwnd, int csidl, HANDLE token, DWORD flags, LPWSTR out) -> HRESULT {
              m_Folders.push_back(csidl);
              if (hwnd || token || flags)
                  ADD_FAILURE() << "SHGetFolderPathW with a window, token or flags";
              if (m_bShellFails)
                  return E_FAIL;
              wcscpy(out, csidl == CSIDL_PROGRAM_FILES ? L"C:\\Program Files"
                                                       : L"C:\\Program Files\\Common Files");
              return S_OK;
          })
    {
    }
    ~ProductLocationTest() override { EXPECT_TRUE(m_Scm.AllClosedInOrder()); }

    // InitGlobals with CVHOST configured so; the service lines it logged.
    std::vector<std::wstring> InitWithBinaryPath(const std::wstring& binaryPath)
    {
        m_Scm.Add(L"CVHOST", binaryPath);
        InitGlobals();
        return Messages();
    }

    CFakeScm m_Scm;
    std::vector<int> m_Folders;
    bool m_bShellFails = false;

private:
    CSysHook<&CSysCalls::SHGetFolderPathW> m_shell;
};

const wchar_t kOpenLine[] = L"[ALL]:    GetServicePath - szName=CVHOST";

std::wstring FoundLine(const std::wstring& folder, const std::wstring& binaryPath)
{
    return L"[ALL]:    GetServicePath - s=" + folder + L", lpBinaryPathName=" + binaryPath;
}

} // namespace

TEST_F(ProductLocationTest, QuotedBinaryPathWithArgumentGivesTheExecutablesFolder)
{
    const std::wstring bin =
        L"\"C:\\Program Files\\Corvanta\\Corvanta Suite\\cvhost.exe\" -service";
    EXPECT_EQ(InitWithBinaryPath(bin),
              (std::vector<std::wstring>{
                  kOpenLine, FoundLine(L"C:\\Program Files\\Corvanta\\Corvanta Suite", bin)}));
    EXPECT_EQ(g_sCVPath, L"C:\\Program Files\\Corvanta\\Corvanta Suite");
    EXPECT_EQ(g_sCVSKPath, kKernel);
    EXPECT_EQ(m_Scm.m_ManagerAccess, (std::vector<DWORD>{0xF003F}));
    EXPECT_EQ(m_Scm.m_ServiceOpens,
              (std::vector<std::pair<std::wstring, DWORD>>{{L"CVHOST", 0xF01FF}}));
    EXPECT_EQ(m_Scm.m_Services[L"CVHOST"].configBufferSizes, (std::vector<DWORD>{8192}));
    EXPECT_EQ(m_Folders, (std::vector<int>{CSIDL_PROGRAM_FILES_COMMON}));
}

TEST_F(ProductLocationTest, UnquotedBinaryPaths)
{
    EXPECT_EQ(InitWithBinaryPath(L"C:\\CV\\cvhost.exe -k run").back(),
              FoundLine(L"C:\\CV", L"C:\\CV\\cvhost.exe -k run"));
    EXPECT_EQ(g_sCVPath, L"C:\\CV");

    g_sCVPath.clear();
    InitWithBinaryPath(L"C:\\CV\\cvhost.exe -log C:\\Logs\\cv.log");
    EXPECT_EQ(g_sCVPath, L"C:\\CV\\cvhost.exe -log C:\\Logs");
}

TEST_F(ProductLocationTest, BinaryPathWithoutUsableSeparatorFallsBack)
{
    for (const wchar_t* bin : {L"\\cvhost.exe", L"cvhost.exe", L""}) {
        g_sCVPath.clear();
        EXPECT_EQ(InitWithBinaryPath(bin).back(), FoundLine(L"", bin));
        EXPECT_EQ(g_sCVPath, kSuite) << bin;
        m_Debugger.Clear();
    }
}

TEST_F(ProductLocationTest, EachServiceFailureLogsItsLineAndFallsBack)
{
    const std::wstring tooLong = L"C:\\" + std::wstring(257, L'a'); // 260 characters
    struct Case
    {
        std::wstring line;
        std::function<void(CFakeScm&)> arrange;
    };
    const Case cases[] = {
        {L"OpenSCManager() failed", [](CFakeScm& scm) { scm.m_bManagerFails = true; }},
        {L"OpenService() failed", [](CFakeScm&) {}},
        {L"QueryServiceConfig() failed",
         [](CFakeScm& scm) { scm.Add(L"CVHOST", L"C:\\CV\\cvhost.exe").failConfig = true; }},
        {L"pSC->lpBinaryPathName is null", [](CFakeScm& scm) { scm.Add(L"CVHOST"); }},
        {L"lpBinaryPathName too long: " + tooLong,
         [&](CFakeScm& scm) { scm.Add(L"CVHOST", tooLong); }},
    };
    for (const Case& c : cases) {
        CFakeScm scm;
        c.arrange(scm);
        g_sCVPath.clear();
        g_sCVSKPath.clear();
        m_Debugger.Clear();
        InitGlobals();
        EXPECT_EQ(Messages(),
                  (std::vector<std::wstring>{kOpenLine, L"[ERROR]:  GetServicePath - " + c.line}));
        EXPECT_EQ(g_sCVPath, kSuite) << WideToUtf8(c.line);
        EXPECT_EQ(g_sCVSKPath, kKernel);
        EXPECT_TRUE(scm.AllClosedInOrder()) << WideToUtf8(c.line);
    }
}

TEST_F(ProductLocationTest, BinaryPathOf259CharactersIsTaken)
{
    InitWithBinaryPath(L"C:\\CV\\" + std::wstring(253, L'a')); // 259 characters
    EXPECT_EQ(g_sCVPath, L"C:\\CV");
    g_sCVPath.clear();
    InitWithBinaryPath(L"\"C:\\CV\\" + std::wstring(253, L'a') + L"\" -service");
    EXPECT_EQ(g_sCVPath, L"C:\\CV");
}

TEST_F(ProductLocationTest, SecondCallChangesNothing)
{
    m_Scm.m_bManagerFails = true;
    InitGlobals();
    const size_t opens = m_Scm.m_ManagerAccess.size(), folders = m_Folders.size();
    InitGlobals();
    EXPECT_EQ(m_Scm.m_ManagerAccess.size(), opens);
    EXPECT_EQ(m_Folders.size(), folders);
    EXPECT_EQ(g_sCVPath, kSuite);
    EXPECT_EQ(g_sCVSKPath, kKernel);
}

TEST_F(ProductLocationTest, OnlyAnEmptyFolderIsFilled)
{
    g_sCVPath = L"D:\\Elsewhere";
    InitGlobals();
    EXPECT_TRUE(m_Scm.m_ManagerAccess.empty());
    EXPECT_EQ(g_sCVPath, L"D:\\Elsewhere");
    EXPECT_EQ(g_sCVSKPath, kKernel);
}

TEST_F(ProductLocationTest, ShellFolderFailureLeavesTheFoldersEmpty)
{
    m_bShellFails = true;
    InitGlobals();
    EXPECT_EQ(g_sCVPath, L"");
    EXPECT_EQ(g_sCVSKPath, L"");
    EXPECT_EQ(m_Folders, (std::vector<int>{CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILES_COMMON}));
}
