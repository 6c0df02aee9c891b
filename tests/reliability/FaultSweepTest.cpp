// The fault sweep: a quarantine of several items is restored location by location, once
// to record every call the restore makes, then once per call with exactly that call
// failing. After each run every item must be whole in one of two ways: each location that
// left the index has its verified file at the destination, and while a location is still
// listed its index reads and its payload is as stored; no part-written file is left at a
// destination, a file that stood there before is untouched, and nothing else is left in
// the quarantine folder.
#include "quarantine/QuarItem.h"
#include "restore/DecryptAndRestore.h"
#include "tests/reliability/FaultSweep.h"
#include "tests/support/TestFiles.h"
#include "tools/itembuilder/ItemBuilder.h"
#include <gtest/gtest.h>
#include <map>
#include <set>

namespace {

std::string Filler(size_t n, uint32_t seed)
{
    std::string s(n, '\0');
    for (char& c : s) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    return s;
}

std::string Narrow(const std::wstring& s)
{
    std::string out;
    for (wchar_t c : s)
        out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

// One item of the quarantine and what stood at its destinations before the restore.
struct CSweepItem
{
    std::wstring base;  // in the quarantine folder, without extension
    CItemDescription desc;
    std::map<size_t, std::string> standing;  // location -> content already at its destination
};

// What is wrong after a run: hard violations, and leftovers the restore's own rules allow
// (a payload whose index is gone, a complete copy of a location that is still listed, a
// staging file whose own deletion was the call that failed).
struct CFindings
{
    std::vector<std::string> violations;
    std::vector<std::string> leftovers;
};

// A quarantine folder Q and two destination folders, filled afresh for every run:
// A1 one location, a side stream and security data; B2 two locations in two folders (one
// given with a backslash at its end), a record larger than the writer's buffer, read-only,
// archive and compressed; C3 an EFS item; D4 a location where a file already stands.
class CSweepWorld
{
public:
    CSweepWorld()
    {
        for (const wchar_t* sub : {L"Q", L"D1", L"D2"})
            CreateDirectoryW(Folder(sub).c_str(), nullptr);
        const std::string security = std::string("\x01\x00\x04\x80", 4) + std::string(16, '\0');
        m_Items.resize(4);
        m_Items[0].base = L"A1";
        m_Items[0].desc.content = Filler(3000, 1);
        m_Items[0].desc.extraStreams = {{4, 0, L":side", "an alternate stream"}};
        m_Items[0].desc.security = security;
        m_Items[0].desc.locations = {{L"one.txt", Folder(L"D1")}};
        m_Items[1].base = L"B2";
        m_Items[1].desc.content = Filler(70000, 2);
        m_Items[1].desc.security = security;
        m_Items[1].desc.attr = 0x821;
        m_Items[1].desc.locations = {{L"two.bin", Folder(L"D1") + L"\\"}, {L"two.bin", Folder(L"D2")}};
        m_Items[2].base = L"C3";
        m_Items[2].desc.content = Filler(5000, 3);
        m_Items[2].desc.dflags = QUAR_DFLAG_EFS;
        m_Items[2].desc.locations = {{L"efs.dat", Folder(L"D2")}};
        m_Items[3].base = L"D4";
        m_Items[3].desc.content = "restored content";
        m_Items[3].desc.locations = {{L"there.txt", Folder(L"D1")}};
        m_Items[3].standing[0] = "was here first";
        for (CSweepItem& item : m_Items) {
            EXPECT_TRUE(BuildQuarItem(item.desc, InQuarantine(item.base)));
            for (const wchar_t* ext : {L".xml", L".cvq"})
                m_Stored[item.base + ext] = ReadFileBytes(InQuarantine(item.base + ext));
            for (const auto& [at, bytes] : item.standing)
                EXPECT_TRUE(WriteFileBytes(Destination(item, at), bytes));
        }
    }

    // Every location of every item, in order, as the restore driver would ask; the results.
    std::string RestoreAll()
    {
        std::string results;
        for (const CSweepItem& item : m_Items)
            for (const CItemLocation& at : item.desc.locations)
                results += (results.empty() ? "" : ",") +
                           std::to_string(VaultkitDecryptAndRestore(InQuarantine(item.base + L".xml").c_str(),
                                                                    at.name.c_str(), at.path.c_str()));
        return results;
    }

    CFindings Check(bool deletionFailed) const
    {
        CFindings found;
        std::set<std::wstring> expectedInQ;
        for (const CSweepItem& item : m_Items)
            CheckItem(item, found, expectedInQ);
        for (const std::wstring& name : FilesIn(Folder(L"Q")))
            if (!expectedInQ.count(name))
                found.violations.push_back("stray file in the quarantine: " + Narrow(name));
        for (const wchar_t* sub : {L"D1", L"D2"})
            for (const std::wstring& name : FilesIn(Folder(sub)))
                if (name.compare(0, 3, L"~vk") == 0)
                    (deletionFailed ? found.leftovers : found.violations)
                        .push_back("staging file left in " + Narrow(sub));
        return found;
    }

private:
    std::wstring Folder(const wchar_t* sub) const { return m_Dir.Join(sub); }
    std::wstring InQuarantine(const std::wstring& name) const { return Folder(L"Q") + L"\\" + name; }
    std::wstring Destination(const CSweepItem& item, size_t i) const
    {
        std::wstring path = item.desc.locations[i].path;
        return path + (path.back() == L'\\' ? L"" : L"\\") + item.desc.locations[i].name;
    }

    void CheckItem(const CSweepItem& item, CFindings& found, std::set<std::wstring>& expectedInQ) const
    {
        const std::string tag = Narrow(item.base) + ": ";
        const std::wstring xml = InQuarantine(item.base + L".xml");
        const std::wstring cvq = InQuarantine(item.base + L".cvq");
        const bool hasIndex = FileExists(xml), hasPayload = FileExists(cvq);
        if (hasIndex)
            expectedInQ.insert(item.base + L".xml");
        if (hasPayload)
            expectedInQ.insert(item.base + L".cvq");
        QuarItem index;
        if (hasIndex && !index.LoadXml(xml.c_str())) {
            found.violations.push_back(tag + "the index no longer reads");
            return;
        }
        size_t listed = 0;
        for (size_t i = 0; i < item.desc.locations.size(); ++i) {
            bool isListed = false;
            for (uint32_t f = 0; hasIndex && f < index.GetFileCount(); ++f)
                isListed = isListed || (item.desc.locations[i].name == index.m_Files[f].name &&
                                        item.desc.locations[i].path == index.m_Files[f].path);
            CheckDestination(item, i, isListed, tag, found);
            listed += isListed;
        }
        if (hasIndex && listed == item.desc.locations.size() &&
            ReadFileBytes(xml) != m_Stored.at(item.base + L".xml"))
            found.violations.push_back(tag + "the index changed though no location left it");
        if (hasIndex && listed != index.GetFileCount())
            found.violations.push_back(tag + "the index lists a location it never had");
        if (listed > 0 && hasPayload && ReadFileBytes(cvq) != m_Stored.at(item.base + L".cvq"))
            found.violations.push_back(tag + "a location is still listed but the payload changed");
        // The payload of a listed location must stay, or every later run fails with 7.
        if (listed > 0 && !hasPayload)
            found.violations.push_back(tag + "a location is still listed but the payload is gone");
        if (listed == 0 && hasPayload)
            found.leftovers.push_back(tag + "payload left after its index went");
    }

    // The destination holds what retiring the location leaves there (the item's complete
    // content, or the file that stood there before) once it has left the index, and never
    // a part-written file.
    void CheckDestination(const CSweepItem& item, size_t i, bool listed, const std::string& tag,
                          CFindings& found) const
    {
        const std::string where = tag + Narrow(item.desc.locations[i].name) + " in " +
                                  Narrow(item.desc.locations[i].path.substr(m_Dir.Path().size())) + ": ";
        bool exists = false;
        std::string bytes = ReadFileBytes(Destination(item, i), &exists);
        auto standing = item.standing.find(i);
        if (standing != item.standing.end()) {
            if (!exists || bytes != standing->second)
                found.violations.push_back(where + "the file that stood there was changed");
        } else if (!listed && (!exists || bytes != item.desc.content)) {
            found.violations.push_back(where + (exists ? "retired with a wrong file" : "retired, no file"));
        } else if (listed && exists) {
            (bytes == item.desc.content ? found.leftovers : found.violations)
                .push_back(where + (bytes == item.desc.content ? "a complete copy left while still listed"
                                                               : "a part-written file is left"));
        }
    }

    CTempDir m_Dir;
    std::vector<CSweepItem> m_Items;
    std::map<std::wstring, std::string> m_Stored;
};

} // namespace

// Without faults every location is restored and the quarantine is left empty; with each
// call failing once in turn, nothing is ever lost.
TEST(FaultSweep, EveryCallFailingOnceLeavesEveryItemWhole)
{
    size_t calls = 0;
    {
        CSweepWorld world;
        CDebugCapture trace;
        CFaultInjector recorder(/*failAt=*/0);
        EXPECT_EQ(world.RestoreAll(), "0,0,0,0,13");
        calls = recorder.Calls();
        CFindings found = world.Check(false);
        EXPECT_EQ(found.violations.size() + found.leftovers.size(), 0u)
            << testing::PrintToString(found.violations) << testing::PrintToString(found.leftovers);
    }
    ASSERT_GT(calls, 50u);
    for (size_t k = 1; k <= calls; ++k) {
        CSweepWorld world;
        std::string results, row;
        DWORD error = 0;
        {
            CDebugCapture trace;
            CFaultInjector injector(k);
            results = world.RestoreAll();
            ASSERT_TRUE(injector.FailedRow()) << "call " << k << " never came";
            row = injector.FailedRow();
            error = injector.FailedError();
        }
        // The staging file is removed through its handle (attributes, then the deletion),
        // or by its path when no handle reaches it.
        CFindings found = world.Check(row == "DeleteFileW" || row == "SetFileInformationByHandle");
        EXPECT_EQ(found.violations, std::vector<std::string>())
            << "call " << k << " " << row << " (error " << error << "), results " << results;
    }
}
