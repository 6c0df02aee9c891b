// itembuilder.exe: builds one quarantine item from its command line, or inspects a
// quarantine folder (see CommandLine.h).
#include "platform/Utf8.h"
#include "tools/itembuilder/CommandLine.h"
#include "tools/itembuilder/QuarantineInspector.h"
#include "SanarixVersion.h"
#include <cstdio>
#include <sstream>

namespace {

// Narrow UTF-8 output: mingw's wide printf family does not keep Microsoft's %s meaning.
void Print(FILE* to, const std::wstring& text)
{
    fputs(WideToUtf8(text).c_str(), to);
}

int Inspect(const std::vector<std::wstring>& args)
{
    CInspectArgs parsed;
    std::wstring error;
    if (!ParseInspectArgs(args, &parsed, &error)) {
        Print(stderr, L"itembuilder: " + error + L"\n");
        return 2;
    }
    std::vector<CInspectedItem> items;
    if (!InspectQuarantine(parsed.folder, items, error)) {
        Print(stderr, L"itembuilder: " + error + L"\n");
        return 1;
    }
    std::ostringstream out;
    WriteInspection(out, items, parsed.csv, parsed.separator);
    fwrite(out.str().data(), 1, out.str().size(), stdout);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::wstring> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == L"inspect")
        return Inspect({args.begin() + 1, args.end()});
    CItemBuilderArgs parsed;
    std::wstring error;
    if (!ParseItemBuilderArgs(args, &parsed, &error)) {
        Print(stderr, L"itembuilder: " + error + L"\n(itembuilder --help shows every option)\n");
        return 1;
    }
    if (parsed.help) {
        Print(stdout, ItemBuilderUsage());
        return 0;
    }
    if (parsed.version) {
        Print(stdout, L"itembuilder " + Utf8ToWide(SANARIX_VERSION) + L"\n");
        return 0;
    }
    if (!LoadItemFiles(&parsed, &error)) {
        Print(stderr, L"itembuilder: " + error + L"\n");
        return 1;
    }
    CBuiltItem built;
    if (!BuildQuarItem(parsed.desc, parsed.outBase, &built)) {
        Print(stderr, L"itembuilder: cannot write the item " + parsed.outBase + L"\n");
        return 2;
    }
    Print(stdout, L"xml=" + built.xmlPath + L"\ncvq=" + built.payloadPath + L"\nsize=" +
                      std::to_wstring(built.item.size) + L"\nhash=" + built.item.hash.value_or(L"") +
                      L"\nqhash=" + built.item.qhash.value_or(L"") + L"\n");
    return 0;
}
