// itembuilder.exe: builds one quarantine item from its command line (see CommandLine.h).
#include "platform/Utf8.h"
#include "tools/itembuilder/CommandLine.h"
#include <cstdio>

namespace {

// Narrow UTF-8 output: mingw's wide printf family does not keep Microsoft's %s meaning.
void Print(FILE* to, const std::wstring& text)
{
    fputs(WideToUtf8(text).c_str(), to);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::wstring> args(argv + 1, argv + argc);
    CItemBuilderArgs parsed;
    std::wstring error;
    if (!ParseItemBuilderArgs(args, &parsed, &error)) {
        Print(stderr, L"itembuilder: " + error + L"\n" + ItemBuilderUsage());
        return 1;
    }
    if (parsed.help) {
        Print(stdout, ItemBuilderUsage());
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
