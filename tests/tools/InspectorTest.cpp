// The quarantine inspector on a folder of every kind of item: verdicts and checks of each, what it
// prints, that it changes nothing; and its command line.
#include "platform/Owners.h"
#include "tests/support/TestFiles.h"
#include "tools/itembuilder/CommandLine.h"
#include "tools/itembuilder/ItemBuilder.h"
#include "tools/itembuilder/QuarantineInspector.h"
#include <gtest/gtest.h>
#include <map>
#include <sstream>

struct CItemCase
{
    const wchar_t* m_base;
    std::wstring m_threat;
    int32_t m_dflags;
    std::vector<CItemDamage> m_damages;
    EItemVerdict m_verdict;
    const char* m_checks;  // size, crypted and original digest checks
};

const CItemCase kItems[] = {
    {L"A1", kRestoredThreat, 0, {}, EItemVerdict::Restorable, "ok ok ok"},
    {L"A2", L"TROJAN.FakeAlert.5", 0, {{EItemDamage::FlipPayloadByte, 30}}, EItemVerdict::Corrupt,
     "ok differs differs"},
    {L"A3", kRestoredThreat, 0, {{EItemDamage::TruncatePayload, 50}}, EItemVerdict::Truncated,
     "differs differs differs"},
    {L"A4", kRestoredThreat, 0, {{EItemDamage::WrongHash, {}}}, EItemVerdict::Corrupt, "ok ok differs"},
    {L"A5", kRestoredThreat, 0, {{EItemDamage::WrongSize, {}}}, EItemVerdict::SizeMismatch, "differs ok ok"},
    {L"A6", kRestoredThreat, 0, {{EItemDamage::NoPayload, {}}}, EItemVerdict::NoPayload, "- - -"},
    {L"B1", L"trojan.fakealert.55", 0, {}, EItemVerdict::OtherThreat, "ok ok ok"},
    {L"D1", kRestoredThreat, 0, {}, EItemVerdict::PayloadUnreadable, "- - -"},
    {L"D2", kRestoredThreat, 0, {}, EItemVerdict::IndexUnreadable, "- - -"},
    {L"G1", kRestoredThreat, QUAR_DFLAG_EFS, {}, EItemVerdict::Restorable, "- ok ok"},
};

static const char* CheckText(ECheck c)
{
    return c == ECheck::Ok ? "ok" : c == ECheck::Differs ? "differs" : "-";
}

// Every file's bytes and last write time.
static std::map<std::wstring, std::string> Snapshot(const std::wstring& folder)
{
    std::map<std::wstring, std::string> files;
    for (const std::wstring& name : FilesIn(folder)) {
        CFileFacts facts;
        ReadFileFacts(folder + L"\\" + name, facts);
        files[name] = ReadFileBytes(folder + L"\\" + name) + "|" + std::to_string(facts.m_llWrite);
    }
    return files;
}

TEST(QuarantineInspector, EveryKindOfItemGetsItsVerdict)
{
    CTempDir dir;
    CItemDescription desc;
    desc.locations = {{L"file.exe", L"C:\\Users\\Public\\"}, {L"file.exe", L"C:\\Temp"}};
    for (const CItemCase& c : kItems) {
        desc.content = std::string(200, 'c') + "content of " + std::string(c.m_base, c.m_base + 2);
        desc.dvirus = c.m_threat;
        desc.dflags = c.m_dflags;
        desc.damages = c.m_damages;
        ASSERT_TRUE(BuildQuarItem(desc, dir.Join(c.m_base)));
    }
    ASSERT_TRUE(WriteWholeFile(dir.Join(L"E1.xml"), "<signature><original size=\"1\""));
    ASSERT_TRUE(WriteWholeFile(dir.Join(L"F1.cvq"), "a payload whose index is gone"));
    std::map<std::wstring, std::string> before = Snapshot(dir.Path());
    std::vector<CInspectedItem> items;
    std::wstring problem;
    {
        CUniqueFile held[2];  // the product holds these open without sharing
        for (int i = 0; i < 2; ++i)
            held[i].reset(CreateFileW(dir.Join(i ? L"D2.xml" : L"D1.cvq").c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held[0] && held[1]);
        ASSERT_TRUE(InspectQuarantine(dir.Path(), items, problem)) << problem.c_str();
    }
    ASSERT_EQ(items.size(), std::size(kItems) + 2);
    std::map<std::wstring, const CInspectedItem*> byName;
    for (const CInspectedItem& item : items)
        byName[item.m_sIndex] = &item;
    for (const CItemCase& c : kItems) {
        const CInspectedItem* item = byName[std::wstring(c.m_base) + L".xml"];
        ASSERT_NE(item, nullptr);
        SCOPED_TRACE(::testing::Message() << std::string(c.m_base, c.m_base + 2));
        EXPECT_STREQ(ItemVerdictText(item->m_verdict), ItemVerdictText(c.m_verdict));
        EXPECT_EQ(std::string(CheckText(item->m_size)) + " " + CheckText(item->m_crypted) + " " +
                      CheckText(item->m_original), c.m_checks);
        if (item->m_verdict != EItemVerdict::IndexUnreadable) {
            EXPECT_EQ(item->m_bRestore, c.m_threat != L"trojan.fakealert.55");
            EXPECT_EQ(item->m_locations,
                      (std::vector<std::wstring>{L"C:\\Users\\Public\\file.exe", L"C:\\Temp\\file.exe"}));
        }
    }
    EXPECT_EQ(byName[L"D2.xml"]->m_sNote, "cannot open the index (error 32)");
    EXPECT_EQ(byName[L"D1.xml"]->m_sNote, "cannot read the payload (error 32)");
    EXPECT_EQ(byName[L"E1.xml"]->m_sNote, "not a valid index");
    EXPECT_EQ(byName[L"F1.cvq"]->m_verdict, EItemVerdict::NoIndex);
    EXPECT_EQ(byName[L"A3.xml"]->m_llPayloadBytes, 50);
    EXPECT_EQ(Snapshot(dir.Path()), before);  // nothing written

    std::ostringstream table, csv;
    WriteInspection(table, items, false, ',');
    WriteInspection(csv, items, true, ';');
    EXPECT_NE(table.str().find("A1.xml  trojan.fakealert.5"), std::string::npos) << table.str();
    EXPECT_NE(table.str().find("12 items: 2 corrupt, 2 index unreadable, 1 no index, 1 no payload, "
                               "1 other threat, 1 payload unreadable, 2 restorable, 1 size mismatch, "
                               "1 truncated"), std::string::npos) << table.str();
    EXPECT_NE(csv.str().find("\r\nA5.xml;trojan.fakealert.5;yes;2;214;"), std::string::npos) << csv.str();
    EXPECT_FALSE(InspectQuarantine(L"C:\\no\\such\\folder", items, problem));
    EXPECT_NE(problem.find(L"cannot list C:\\no\\such\\folder"), std::wstring::npos);
}

TEST(QuarantineInspector, CommandLine)
{
    using Args = std::vector<std::wstring>;
    for (const Args& args : {Args{L"--csv", L"C:\\Q", L"--sep", L";"}, Args{}, {L"C:\\Q", L"C:\\R"},
                             {L"Q", L"--sep", L"|"}, {L"--json", L"Q"}}) {
        CInspectArgs parsed;
        std::wstring error;
        const bool valid = args.size() == 4;
        EXPECT_EQ(ParseInspectArgs(args, &parsed, &error), valid) << args.size();
        EXPECT_EQ(error.empty(), valid);
        EXPECT_TRUE(!valid || (parsed.folder == L"C:\\Q" && parsed.csv && parsed.separator == ';'));
    }
}
