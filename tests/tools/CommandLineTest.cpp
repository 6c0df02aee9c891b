// The item builder program's command line refuses what it cannot honour with a message
// that says what was expected; the inspector's takes a folder, --csv and a separator.
#include "tools/itembuilder/CommandLine.h"
#include <gtest/gtest.h>

TEST(ItemBuilderCommandLine, MistakesAreRefusedWithWhatIsExpected)
{
    const std::wstring base[] = {L"--out-base", L"B", L"--location", L"a|C:\\"};
    const std::pair<std::vector<std::wstring>, const wchar_t*> bad[] = {
        {{L"--location", L"a|C:\\"}, L"--out-base is required"},
        {{L"--out-base", L"B"}, L"at least one --location"},
        {{L"--out-base"}, L"--out-base needs a value"},
        {{L"--colour", L"red"}, L"unknown option --colour"},
        {{L"--attr", L"-1"}, L"--attr: \"-1\" is not accepted; expected a whole number"},
        {{L"--attr", L"0x100000000"}, L"at most 0xFFFFFFFF"},
        {{L"--dflags", L"2147483648"}, L"32 bits with sign"},
        {{L"--crt", L"2023-02-29"}, L"expected an ISO 8601 time"},
        {{L"--dtime", L"2024-05-01T10:00:00+15:00"}, L"expected an ISO 8601 time"},
        {{L"--location", L"|C:\\"}, L"expected \"NAME|FOLDER\""},
        {{L"--stream", L"x|n|file"}, L"expected \"ID|NAME|FILE\""},
        {{L"--damage", L"melt"}, L"expected truncate:N"},
        {{L"--sddl", L"O:XX"}, L"expected a security descriptor in SDDL"},
        {{L"--attr", L"1", L"--attr", L"2"}, L"--attr is given twice"},
        {{L"--content", L"x", L"--content-file", L"f"}, L"--content and --content-file"},
        {{L"--dflags", L"8", L"--stream", L"4|n|f"}, L"--stream cannot go with --dflags 8"},
    };
    for (const auto& [args, expected] : bad) {
        std::vector<std::wstring> all = args;
        if (args[0] != L"--location" && args[0] != L"--out-base")
            all.insert(all.begin(), std::begin(base), std::end(base));
        CItemBuilderArgs parsed;
        std::wstring error;
        EXPECT_FALSE(ParseItemBuilderArgs(all, &parsed, &error)) << expected;
        EXPECT_NE(error.find(expected), std::wstring::npos) << error;
    }
    CInspectArgs inspect;
    std::wstring error;
    ASSERT_TRUE(ParseInspectArgs({L"--csv", L"C:\\Q", L"--sep", L";"}, &inspect, &error)) << error;
    EXPECT_EQ(inspect.folder, L"C:\\Q");
    EXPECT_TRUE(inspect.csv);
    EXPECT_EQ(inspect.separator, ';');
    for (const std::vector<std::wstring>& wrong :
         {std::vector<std::wstring>{}, {L"C:\\Q", L"C:\\R"}, {L"C:\\Q", L"--sep", L"|"}, {L"--json", L"C:\\Q"}}) {
        CInspectArgs fresh;
        EXPECT_FALSE(ParseInspectArgs(wrong, &fresh, &error)) << wrong.size();
    }
}
