// The item builder program's command line: every option into the description, the files
// it names read in, and the mistakes it refuses.
#include "tests/support/TestFiles.h"
#include "tools/itembuilder/CommandLine.h"
#include <gtest/gtest.h>

TEST(ItemBuilderCommandLine, EveryOptionLandsInTheDescription)
{
    CItemBuilderArgs a;
    std::wstring error;
    ASSERT_TRUE(ParseItemBuilderArgs(
        {L"--out-base", L"C:\\Q\\A1", L"--content", L"h\u00e9", L"--location", L"a.exe|C:\\x|y",
         L"--location", L"b.exe|", L"--virus", L"other.threat", L"--qname", L"Q",
         L"--attr", L"0x800", L"--crt", L"-1", L"--lat", L"2", L"--lwt", L"3", L"--dtime", L"4",
         L"--dflags", L"8", L"--sender", L"s", L"--receiver", L"r", L"--subject", L"", L"--mailfname",
         L"m", L"--stream", L"4|:z:$DATA|C:\\f", L"--stream", L"2||C:\\g", L"--security-file",
         L"C:\\sd", L"--no-empty-record", L"--damage", L"flip:3", L"--damage", L"hash"},
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
    EXPECT_EQ(s.dflags, 8);
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
    EXPECT_FALSE(s.emptyContentAsRecord);
    ASSERT_EQ(s.damages.size(), 2u);
    EXPECT_EQ(s.damages[0].kind, EItemDamage::FlipPayloadByte);
    EXPECT_EQ(s.damages[1].kind, EItemDamage::WrongHash);
}

TEST(ItemBuilderCommandLine, MistakesAreRefusedWithAMessage)
{
    const std::vector<std::vector<std::wstring>> bad = {
        {},                                               // no --out-base
        {L"--out-base"},                                  // no value
        {L"--out-base", L""},
        {L"--out-base", L"B", L"--colour", L"red"},
        {L"--out-base", L"B", L"--attr", L"-1"},
        {L"--out-base", L"B", L"--attr", L"0x100000000"},
        {L"--out-base", L"B", L"--dflags", L"2147483648"},
        {L"--out-base", L"B", L"--crt", L"12abc"},
        {L"--out-base", L"B", L"--crt", L"99999999999999999999"},
        {L"--out-base", L"B", L"--location", L"no-bar"},
        {L"--out-base", L"B", L"--location", L"|C:\\"},
        {L"--out-base", L"B", L"--stream", L"4|file"},
        {L"--out-base", L"B", L"--stream", L"x|n|file"},
        {L"--out-base", L"B", L"--stream", L"4|n|"},
        {L"--out-base", L"B", L"--damage", L"melt"},
    };
    for (const auto& args : bad) {
        CItemBuilderArgs a;
        std::wstring error;
        EXPECT_FALSE(ParseItemBuilderArgs(args, &a, &error)) << args.size();
        EXPECT_FALSE(error.empty());
    }
    CItemBuilderArgs a;
    std::wstring error;
    EXPECT_TRUE(ParseItemBuilderArgs({L"--help"}, &a, &error));
    EXPECT_TRUE(a.help);
}

TEST(ItemBuilderCommandLine, NamedFilesAreReadIn)
{
    CTempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.Join(L"c"), std::string("con\0tent", 8)));
    ASSERT_TRUE(WriteFileBytes(dir.Join(L"s"), "stream"));
    ASSERT_TRUE(WriteFileBytes(dir.Join(L"sd"), "descriptor"));
    CItemBuilderArgs a;
    std::wstring error;
    ASSERT_TRUE(ParseItemBuilderArgs({L"--out-base", L"B", L"--content-file", dir.Join(L"c"),
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
        ASSERT_TRUE(ParseItemBuilderArgs({L"--out-base", L"B", option, dir.Join(L"none")}, &b,
                                         &error));
        EXPECT_FALSE(LoadItemFiles(&b, &error));
        EXPECT_NE(error.find(dir.Join(L"none")), std::wstring::npos);
    }
    CItemBuilderArgs c;
    ASSERT_TRUE(ParseItemBuilderArgs({L"--out-base", L"B", L"--stream", L"4|n|" + dir.Join(L"none")},
                                     &c, &error));
    EXPECT_FALSE(LoadItemFiles(&c, &error));
}
