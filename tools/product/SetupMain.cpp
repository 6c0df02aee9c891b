// product_setup.exe: installs, starts, describes and removes the simulated product.
//   product_setup install [--ignore-stop=SVC] [--hang-stop=SVC] [--slow-start=SVC:ms]
//                         [--slow-stop=SVC:ms] [--no-root-decoy] [--bin=<folder>]
//   product_setup start [--stubborn=<exe>]
//   product_setup uninstall
//   product_setup expect [<file>]    manifest to stdout and to the file
//                                    (default <ProgramData>\Corvanta\product-manifest.txt)
//   product_setup status             services' states and product processes
//   product_setup report             every planned location: what stands there now, and
//                                    every difference from what the plan expects of a run
//   product_setup --version
// Exit code 0 on success, 1 when something failed (the problems go to stderr), 2 on bad use.
#include "platform/Utf8.h"
#include "tools/common/FileTools.h"
#include "tools/product/Manifest.h"
#include "tools/product/ProductSetup.h"
#include "tools/product/Report.h"
#include "SanarixVersion.h"
#include <cstdio>
#include <cwchar>

namespace {

void Print(FILE* to, const std::wstring& text)
{
    std::string bytes = WideToUtf8(text);
    fwrite(bytes.data(), 1, bytes.size(), to);
}

int Finish(const CSetupReport& report, const wchar_t* what)
{
    if (report.Ok()) {
        Print(stdout, std::wstring(what) + L": ok\n");
        return 0;
    }
    Print(stderr, std::wstring(what) + L": failed\n" + report.Text());
    return 1;
}

// "--name=value" -> value, when arg starts with "--name=".
bool Option(const wchar_t* arg, const wchar_t* name, std::wstring& value)
{
    size_t n = wcslen(name);
    if (wcsncmp(arg, name, n) != 0 || arg[n] != L'=')
        return false;
    value = arg + n + 1;
    return true;
}

void AddWord(CInstallOptions& options, const std::wstring& service, const std::wstring& word)
{
    std::wstring& words = options.m_ServiceWords[service];
    words = words.empty() ? word : words + L" " + word;
}

// "SVC:ms" -> the word "<kind>=ms" for SVC.
bool AddTiming(CInstallOptions& options, const std::wstring& value, const wchar_t* kind)
{
    size_t colon = value.find(L':');
    if (colon == std::wstring::npos)
        return false;
    AddWord(options, value.substr(0, colon), std::wstring(kind) + L"=" + value.substr(colon + 1));
    return true;
}

int Install(int argc, wchar_t** argv)
{
    CInstallOptions options;
    options.m_sBinFolder = OwnFolder();
    for (int i = 2; i < argc; ++i) {
        std::wstring value;
        if (Option(argv[i], L"--ignore-stop", value))
            AddWord(options, value, L"ignore-stop");
        else if (Option(argv[i], L"--hang-stop", value))
            AddWord(options, value, L"hang-stop");
        else if (Option(argv[i], L"--slow-start", value) && AddTiming(options, value, L"slow-start"))
            continue;
        else if (Option(argv[i], L"--slow-stop", value) && AddTiming(options, value, L"slow-stop"))
            continue;
        else if (Option(argv[i], L"--bin", value))
            options.m_sBinFolder = value.empty() || value.back() == L'\\' ? value : value + L"\\";
        else if (wcscmp(argv[i], L"--no-root-decoy") == 0)
            options.m_bRootDecoy = false;
        else
            return 2;
    }
    CProductLayout layout = GetProductLayout();
    CSetupReport report;
    InstallProduct(layout, GetProductPlan(layout), options, report);
    return Finish(report, L"install");
}

int Start(int argc, wchar_t** argv)
{
    CStartOptions options;
    for (int i = 2; i < argc; ++i) {
        std::wstring value;
        if (!Option(argv[i], L"--stubborn", value))
            return 2;
        options.m_StubbornApps.push_back(value);
    }
    CSetupReport report;
    StartProduct(GetProductLayout(), options, report);
    return Finish(report, L"start");
}

int Expect(int argc, wchar_t** argv)
{
    CProductLayout layout = GetProductLayout();
    std::string text = RenderManifest(layout, GetProductPlan(layout));
    fwrite(text.data(), 1, text.size(), stdout);
    std::wstring file = argc > 2 ? argv[2] : layout.Manifest();
    CreateFolderTree(file.substr(0, file.find_last_of(L'\\') + 1));
    if (!WriteWholeFile(file, text)) {
        Print(stderr, L"expect: cannot write " + file + L"\n");
        return 1;
    }
    return 0;
}

// The text as it is (UTF-8) on standard output.
int Show(const std::string& text)
{
    fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const wchar_t* mode = argc > 1 ? argv[1] : L"";
    if (wcscmp(mode, L"install") == 0)
        return Install(argc, argv);
    if (wcscmp(mode, L"start") == 0)
        return Start(argc, argv);
    if (wcscmp(mode, L"uninstall") == 0 && argc == 2) {
        CSetupReport report;
        UninstallProduct(GetProductLayout(), report);
        return Finish(report, L"uninstall");
    }
    if (wcscmp(mode, L"expect") == 0 && argc <= 3)
        return Expect(argc, argv);
    if (wcscmp(mode, L"status") == 0 && argc == 2)
        return Show(RenderStatus());
    if (wcscmp(mode, L"--version") == 0 && argc == 2) {
        Print(stdout, L"product_setup " + Utf8ToWide(SANARIX_VERSION) + L"\n");
        return 0;
    }
    if (wcscmp(mode, L"report") == 0 && argc == 2) {
        CProductLayout layout = GetProductLayout();
        return Show(RenderReport(layout, GetProductPlan(layout)));
    }
    Print(stderr, L"usage: product_setup install|start|uninstall|expect|status|report [options]"
                  L" | --version\n");
    return 2;
}
