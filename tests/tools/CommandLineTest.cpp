// The item builder program's command line: every option into the description, times and
// security in their readable forms, the files it names read in, and the mistakes it
// refuses with a message that says what was expected.
#include "tests/support/TestFiles.h"
#include "tools/itembuilder/CommandLine.h"
#include <gtest/gtest.h>
#include <cstdlib>

TEST(ItemBuilderCommandLine, EveryOptionLandsInTheDescription)
{
    CItemBuilderArgs a;
    std::wstring error;
    ASSERT_TRUE(ParseItemBuilderArgs(
        {L"--out-base", L"C:\\Q\\A1", L"--content", L"h\u00e9", L"--location", L"a.exe|C:\\x|y",
         L"--location", L"b.exe|", L"--virus", L"other.threat", L"--qname", L"Q",
         L"--attr", L"0x800", L"--crt", L"-1", L"--lat", L"2", L"--lwt", L"3", L"--dtime", L"4",
         L"--dflags", L"16", L"--sender", L"s", L"--receiver", L"r", L"--subject", L"", L"--mailfname",
         L"m", L"--stream", L"4|:z:$DATA|C:\\f", L"--stream", L"2||C:\\g", L"--security-file",
         L"C:\\sd", L"--damage", L"flip:3", L"--damage", L"hash"},
        &a, &error))
        << error;
    const CItemDescription& s = a.desc;
    EXPECT_FALSE(a.help);
    EXPECT_EQ(a.outBase, L"C:\\Q\\A1");
    EXPECT_EQ(s.content, "h\xc3\xa9");
    ASSERT_EQ(s.locations.size(), 2u);
    EXPECT_EQ(s.locations[0].name, L"a.exe");
    EXPECT_EQ(s.locations[0].path, L"C:\\x|y");
    EXPECT_EQ(s.locations[1].path, L"");
    EXPECT_EQ(s.dvirus, L"other.threat");
    EXPECT_EQ(s.qname, L"Q");
    EXPECT_EQ(s.attr, 0x800u);
    EXPECT_EQ(s.crt, -1);
    EXPECT_EQ(s.lat, 2);
    EXPECT_EQ(s.lwt, 3);
    EXPECT_EQ(s.dtime, 4);
    EXPECT_EQ(s.dflags, 16);
    EXPECT_EQ(s.sender, std::optional<std::wstring>(L"s"));
    EXPECT_EQ(s.receiver, std::optional<std::wstring>(L"r"));
    EXPECT_EQ(s.subject, std::optional<std::wstring>(L""));
    EXPECT_EQ(s.mailfname, std::optional<std::wstring>(L"m"));
    ASSERT_EQ(a.streamFiles.size(), 2u);
    EXPECT_EQ(a.streamFiles[0].id, 4u);
    EXPECT_EQ(a.streamFiles[0].name, L":z:$DATA");
    EXPECT_EQ(a.streamFiles[0].file, L"C:\\f");
    EXPECT_EQ(a.streamFiles[1].name, L"");
    EXPECT_EQ(a.securityFile, std::optional<std::wstring>(L"C:\\sd"));
    ASSERT_EQ(s.damages.size(), 2u);
    EXPECT_EQ(s.damages[0].kind, EItemDamage::FlipPayloadByte);
    EXPECT_EQ(s.damages[1].kind, EItemDamage::WrongHash);
}

TEST(ItemBuilderCommandLine, TimesAndSecurityInReadableForms)
{
    const std::pair<const wchar_t*, int64_t> times[] = {
        {L"133590000000000000", 133590000000000000},
        {L"2020-01-01T00:00:00Z", 132223104000000000},
        {L"2024-05-01T12:30:00.5+02:00", 133590330005000000},
        {L"2024-05-01 09:00:00.5-0130", 133590330005000000},
        {L"2024-02-29T23:59:59Z", 133537247990000000},
    };
    for (const auto& time : times) {
        CItemBuilderArgs a;
        std::wstring error;
        ASSERT_TRUE(ParseItemBuilderArgs({L"--out-base", L"B", L"--location", L"a|C:\\", L"--lwt", time.first},
                                         &a, &error)) << error;
        EXPECT_EQ(a.desc.lwt, time.second) << time.first;
    }
    // Local time: the machine's zone moves it by at most 14 hours.
    CItemBuilderArgs local;
    std::wstring error;
    ASSERT_TRUE(ParseItemBuilderArgs({L"--out-base", L"B", L"--location", L"a|C:\\", L"--crt", L"2020-01-01"},
                                     &local, &error)) << error;
    EXPECT_LE(std::llabs(local.desc.crt - 132223104000000000), 14 * 3600 * 10000000LL);

    CItemBuilderArgs sddl;
    ASSERT_TRUE(ParseItemBuilderArgs({L"--out-base", L"B", L"--location", L"a|C:\\", L"--sddl",
                                      L"O:BAG:SYD:(A;;FA;;;SY)"}, &sddl, &error)) << error;
    ASSERT_TRUE(sddl.desc.security.has_value());
    // Self-relative: revision 1, the SE_SELF_RELATIVE flag, then owner, group and DACL.
    ASSERT_GE(sddl.desc.security->size(), 20u);
    EXPECT_EQ((*sddl.desc.security)[0], 1);
    EXPECT_TRUE(uint8_t((*sddl.desc.security)[3]) & 0x80);
}

TEST(ItemBuilderCommandLine, MistakesAreRefusedWithWhatIsExpected)
{
    const std::wstring base[] = {L"--out-base", L"B", L"--location", L"a|C:\\"};
    const std::pair<std::vector<std::wstring>, const wchar_t*> bad[] = {
        {{L"--location", L"a|C:\\"}, L"--out-base is required"},
        {{L"--out-base", L"B"}, L"at least one --location"},
        {{L"--out-base"}, L"--out-base needs a value"},
        {{L"--out-base", L"", L"--location", L"a|C:\\"}, L"expected the path"},
        {{L"--colour", L"red"}, L"unknown option --colour"},
        {{L"stray"}, L"unknown argument stray"},
        {{L"--attr", L"-1"}, L"--attr: \"-1\" is not accepted; expected a whole number"},
        {{L"--attr", L"0x100000000"}, L"at most 0xFFFFFFFF"},
        {{L"--dflags", L"2147483648"}, L"32 bits with sign"},
        {{L"--crt", L"12abc"}, L"expected an ISO 8601 time"},
        {{L"--crt", L"99999999999999999999"}, L"expected an ISO 8601 time"},
        {{L"--crt", L"2023-02-29"}, L"expected an ISO 8601 time"},
        {{L"--lwt", L"2024-13-01T00:00:00Z"}, L"expected an ISO 8601 time"},
        {{L"--lat", L"2024-05-01T24:00:00Z"}, L"expected an ISO 8601 time"},
        {{L"--dtime", L"2024-05-01T10:00:00+15:00"}, L"expected an ISO 8601 time"},
        {{L"--location", L"no-bar"}, L"expected \"NAME|FOLDER\""},
        {{L"--location", L"|C:\\"}, L"expected \"NAME|FOLDER\""},
        {{L"--stream", L"4|file"}, L"expected \"ID|NAME|FILE\""},
        {{L"--stream", L"x|n|file"}, L"expected \"ID|NAME|FILE\""},
        {{L"--stream", L"4|n|"}, L"expected \"ID|NAME|FILE\""},
        {{L"--damage", L"melt"}, L"expected truncate:N"},
        {{L"--sddl", L"O:XX"}, L"expected a security descriptor in SDDL"},
        {{L"--attr", L"1", L"--attr", L"2"}, L"--attr is given twice"},
        {{L"--content", L"x", L"--content-file", L"f"}, L"--content and --content-file"},
        {{L"--sddl", L"O:BA", L"--security-file", L"f"}, L"--sddl and --security-file"},
        {{L"--content", L"x", L"--no-empty-record"}, L"--no-empty-record applies only"},
        {{L"--dflags", L"8", L"--stream", L"4|n|f"}, L"--stream cannot go with --dflags 8"},
    };
    for (const auto& c : bad) {
        std::vector<std::wstring> args = c.first;
        if (c.first[0] != L"--location" && c.first[0] != L"--out-base")
            args.insert(args.begin(), std::begin(base), std::end(base));
        CItemBuilderArgs a;
        std::wstring error;
        EXPECT_FALSE(ParseItemBuilderArgs(args, &a, &error)) << c.second;
        EXPECT_NE(error.find(c.second), std::wstring::npos) << error;
    }
    CInspectArgs inspect;
    std::wstring error;
    ASSERT_TRUE(ParseInspectArgs({L"--csv", L"C:\\Q", L"--sep", L";"}, &inspect, &error)) << error;
    EXPECT_EQ(inspect.folder, L"C:\\Q");
    EXPECT_TRUE(inspect.csv);
    EXPECT_EQ(inspect.separator, ';');
    for (const std::vector<std::wstring>& wrong :
         {std::vector<std::wstring>{}, {L"C:\\Q", L"C:\\R"}, {L"C:\\Q", L"--sep", L"|"}, {L"--json", L"C:\\Q"}}) {
        CInspectArgs bad;
        EXPECT_FALSE(ParseInspectArgs(wrong, &bad, &error)) << wrong.size();
    }
    for (const wchar_t* help : {L"--help", L"-h", L"/?"}) {
        CItemBuilderArgs a;
        EXPECT_TRUE(ParseItemBuilderArgs({L"--attr", L"1", help}, &a, &error));
        EXPECT_TRUE(a.help);
    }
}

TEST(ItemBuilderCommandLine, NamedFilesAreReadIn)
{
    CTempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.Join(L"c"), std::string("con\0tent", 8)));
    ASSERT_TRUE(WriteFileBytes(dir.Join(L"s"), "stream"));
    ASSERT_TRUE(WriteFileBytes(dir.Join(L"sd"), "descriptor"));
    CItemBuilderArgs a;
    std::wstring error;
    ASSERT_TRUE(ParseItemBuilderArgs({L"--out-base", L"B", L"--location", L"a|C:\\", L"--content-file", dir.Join(L"c"),
                                      L"--stream", L"4|:n|" + dir.Join(L"s"),
                                      L"--security-file", dir.Join(L"sd")},
                                     &a, &error));
    ASSERT_TRUE(LoadItemFiles(&a, &error)) << error;
    EXPECT_EQ(a.desc.content, std::string("con\0tent", 8));
    ASSERT_EQ(a.desc.extraStreams.size(), 1u);
    EXPECT_EQ(a.desc.extraStreams[0].id, 4u);
    EXPECT_EQ(a.desc.extraStreams[0].name, L":n");
    EXPECT_EQ(a.desc.extraStreams[0].data, "stream");
    EXPECT_EQ(a.desc.security, std::optional<std::string>("descriptor"));

    for (const wchar_t* option : {L"--content-file", L"--security-file"}) {
        CItemBuilderArgs b;
        ASSERT_TRUE(ParseItemBuilderArgs({L"--out-base", L"B", L"--location", L"a|C:\\", option, dir.Join(L"none")}, &b,
                                         &error));
        EXPECT_FALSE(LoadItemFiles(&b, &error));
        EXPECT_NE(error.find(dir.Join(L"none")), std::wstring::npos);
    }
    CItemBuilderArgs c;
    ASSERT_TRUE(ParseItemBuilderArgs({L"--out-base", L"B", L"--location", L"a|C:\\", L"--stream", L"4|n|" + dir.Join(L"none")},
                                     &c, &error));
    EXPECT_FALSE(LoadItemFiles(&c, &error));
}
