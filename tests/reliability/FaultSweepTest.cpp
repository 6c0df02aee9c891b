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
#include "tests/support/SysHooks.h"
#include "tests/support/TestFiles.h"
#include "tools/itembuilder/ItemBuilder.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <functional>
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
    std::wstring base; // in the quarantine folder, without extension
    CItemDescription desc;
    std::map<size_t, std::string> standing; // location -> content already at its destination
};

// A quarantine folder Q and two destination folders, filled afresh for every run.
class CSweepWorld
{
public:
    CSweepWorld()
    {
        for (const wchar_t* sub : {L"Q", L"D1", L"D2"})
            CreateDirectoryW(m_Dir.Join(sub).c_str(), /*lpSecurityAttributes=*/nullptr);
        const std::string security = std::string("\x01\x00\x04\x80", 4) + std::string(16, '\0');

        CSweepItem one; // one location, a side stream, security data
        one.base = L"A1";
        one.desc.content = Filler(3000, 1);
        one.desc.extraStreams = {{4, 0, L":side", "an alternate stream"}};
        one.desc.security = security;
        one.desc.locations = {{L"one.txt", Folder(L"D1")}};
        m_Items.push_back(one);

        CSweepItem two; // two locations, a record larger than the writer's buffer
        two.base = L"B2";
        two.desc.content = Filler(70000, 2);
        two.desc.security = security;
        two.desc.attr = 0x821; // read-only, archive, compressed
        two.desc.locations = {{L"two.bin", Folder(L"D1") + L"\\"}, {L"two.bin", Folder(L"D2")}};
        m_Items.push_back(two);

        CSweepItem efs; // an EFS item through the raw import
        efs.base = L"C3";
        efs.desc.content = Filler(5000, 3);
        efs.desc.dflags = QUAR_DFLAG_EFS;
        efs.desc.locations = {{L"efs.dat", Folder(L"D2")}};
        m_Items.push_back(efs);

        CSweepItem taken; // a file already stands at the destination
        taken.base = L"D4";
        taken.desc.content = "restored content";
        taken.desc.locations = {{L"there.txt", Folder(L"D1")}};
        taken.standing[0] = "was here first";
        m_Items.push_back(taken);
    }

    // Writes every item and every standing file; false when the world could not be made.
    bool Build()
    {
        for (CSweepItem& item : m_Items) {
            if (!BuildQuarItem(item.desc, InQuarantine(item.base)))
                return false;
            for (const wchar_t* ext : {L".xml", L".cvq"})
                m_Stored[item.base + ext] = ReadFileBytes(InQuarantine(item.base + ext));
            for (const auto& s : item.standing)
                if (!WriteFileBytes(Destination(item, s.first), s.second))
                    return false;
        }
        return true;
    }

    // Every location of every item, in order, as the restore driver would ask.
    std::vector<int32_t> RestoreAll()
    {
        std::vector<int32_t> results;
        for (const CSweepItem& item : m_Items) {
            std::wstring index = InQuarantine(item.base + L".xml");
            for (const CItemLocation& at : item.desc.locations)
                results.push_back(
                    VaultkitDecryptAndRestore(index.c_str(), at.name.c_str(), at.path.c_str()));
        }
        return results;
    }

    // What is wrong with the world now: hard violations, and leftovers the restore's own
    // rules allow (a payload whose index is gone, a complete copy of a location that is
    // still listed, a staging file whose own deletion was the call that failed).
    void Check(std::vector<std::string>& violations, std::vector<std::string>& leftovers,
               bool deletionFailed = false) const
    {
        std::set<std::wstring> expectedInQ;
        for (const CSweepItem& item : m_Items)
            CheckItem(item, violations, leftovers, expectedInQ);
        for (const std::wstring& name : FilesIn(Folder(L"Q")))
            if (!expectedInQ.count(name))
                violations.push_back("stray file in the quarantine: " + Narrow(name));
        for (const wchar_t* sub : {L"D1", L"D2"})
            for (const std::wstring& name : FilesIn(Folder(sub)))
                if (name.compare(0, 3, L"~vk") == 0)
                    (deletionFailed ? leftovers : violations)
                        .push_back("staging file left: " + Narrow(sub) + "\\" + Narrow(name));
    }
    std::wstring FolderOf(const wchar_t* sub) const { return Folder(sub); }

    std::wstring DestinationOf(size_t item, size_t location) const
    {
        return Destination(m_Items[item], location);
    }
    std::wstring InQuarantine(const std::wstring& name) const
    {
        return Folder(L"Q") + L"\\" + name;
    }

private:
    std::wstring Folder(const wchar_t* sub) const { return m_Dir.Join(sub); }

    std::wstring Destination(const CSweepItem& item, size_t i) const
    {
        std::wstring path = item.desc.locations[i].path;
        if (path.back() != L'\\')
            path += L'\\';
        return path + item.desc.locations[i].name;
    }

    void CheckItem(const CSweepItem& item, std::vector<std::string>& violations,
                   std::vector<std::string>& leftovers, std::set<std::wstring>& expectedInQ) const
    {
        const std::string tag = Narrow(item.base) + ": ";
        const std::wstring xml = InQuarantine(item.base + L".xml");
        const std::wstring cvq = InQuarantine(item.base + L".cvq");
        bool hasIndex = FileExists(xml);
        if (hasIndex)
            expectedInQ.insert(item.base + L".xml");
        if (FileExists(cvq))
            expectedInQ.insert(item.base + L".cvq");
        QuarItem index;
        if (hasIndex && !index.LoadXml(xml.c_str())) {
            violations.push_back(tag + "the index no longer reads");
            return;
        }
        size_t listedCount = 0;
        for (size_t i = 0; i < item.desc.locations.size(); ++i) {
            const CItemLocation& at = item.desc.locations[i];
            bool listed = false;
            for (uint32_t f = 0; hasIndex && f < index.GetFileCount(); ++f)
                listed = listed || (at.name == index.m_Files[f].name &&
                                    at.path == index.m_Files[f].path);
            CheckDestination(item, i, listed, tag, violations, leftovers);
            listedCount += listed;
        }
        if (hasIndex) {
            if (listedCount == item.desc.locations.size() &&
                ReadFileBytes(xml) != m_Stored.at(item.base + L".xml"))
                violations.push_back(tag + "the index changed though no location left it");
            if (listedCount != index.GetFileCount())
                violations.push_back(tag + "the index lists a location it never had");
        }
        bool hasPayload = FileExists(cvq);
        if (listedCount > 0 && hasPayload && ReadFileBytes(cvq) != m_Stored.at(item.base + L".cvq"))
            violations.push_back(tag + "a location is still listed but the payload changed");
        // The payload of a listed location must stay, or every later run fails with 7.
        if (listedCount > 0 && !hasPayload)
            violations.push_back(tag + "a location is still listed but the payload is gone");
        if (listedCount == 0 && hasPayload)
            leftovers.push_back(tag + "payload left after its index went");
    }

    // The destination holds what retiring the location leaves there (the item's complete
    // content, or the file that stood there before) once it has left the index, and never
    // a part-written file.
    void CheckDestination(const CSweepItem& item, size_t i, bool listed, const std::string& tag,
                          std::vector<std::string>& violations,
                          std::vector<std::string>& leftovers) const
    {
        const std::wstring dest = Destination(item, i);
        const std::string where = tag + Narrow(item.desc.locations[i].name) + " in " +
                                  Narrow(item.desc.locations[i].path.substr(m_Dir.Path().size())) +
                                  ": ";
        bool exists = false;
        std::string bytes = ReadFileBytes(dest, &exists);
        auto standing = item.standing.find(i);
        if (standing != item.standing.end()) {
            if (!exists || bytes != standing->second)
                violations.push_back(where + "the file that stood there was changed");
            return;
        }
        if (!listed && (!exists || bytes != item.desc.content))
            violations.push_back(where +
                                 (exists ? "retired with a wrong file" : "retired, no file"));
        if (listed && exists && bytes != item.desc.content)
            violations.push_back(where + "a part-written file is left");
        if (listed && exists && bytes == item.desc.content)
            leftovers.push_back(where + "a complete copy left while still listed");
    }

    CTempDir m_Dir;
    std::vector<CSweepItem> m_Items;
    std::map<std::wstring, std::string> m_Stored;
};

std::string Results(const std::vector<int32_t>& results)
{
    std::string out;
    for (int32_t r : results)
        out += (out.empty() ? "" : ",") + std::to_string(r);
    return out;
}

} // namespace

// Without faults every location is restored and the quarantine is empty afterwards.
TEST(FaultSweep, TheQuarantineRestoresCleanlyWithoutFaults)
{
    CSweepWorld world;
    ASSERT_TRUE(world.Build());
    std::vector<int32_t> results;
    size_t calls = 0;
    {
        CDebugCapture trace;
        CFaultInjector recorder(/*failAt=*/0);
        results = world.RestoreAll();
        calls = recorder.Calls().size();
    }
    EXPECT_EQ(Results(results), "0,0,0,0,13");
    std::vector<std::string> violations, leftovers;
    world.Check(violations, leftovers);
    EXPECT_TRUE(violations.empty()) << testing::PrintToString(violations);
    EXPECT_TRUE(leftovers.empty()) << testing::PrintToString(leftovers);
    EXPECT_GT(calls, 50u);
}

// The checks themselves: each kind of damage a faulty restore could leave is seen.
TEST(FaultSweep, TheChecksSeeWhatAFaultyRestoreWouldLeave)
{
    auto violationsAfter = [](const std::function<void(CSweepWorld&)>& damage) {
        CSweepWorld world;
        EXPECT_TRUE(world.Build());
        damage(world);
        std::vector<std::string> violations, leftovers;
        world.Check(violations, leftovers);
        return violations;
    };
    auto half = [](const std::string& s) { return s.substr(0, s.size() / 2); };
    EXPECT_TRUE(violationsAfter([](CSweepWorld&) {}).empty());
    const std::vector<std::function<void(CSweepWorld&)>> damages = {
        [&](CSweepWorld& w) { WriteFileBytes(w.DestinationOf(1, 0), half(Filler(70000, 2))); },
        [](CSweepWorld& w) { WriteFileBytes(w.DestinationOf(3, 0), "overwritten"); },
        [](CSweepWorld& w) { WriteFileBytes(w.InQuarantine(L"B2.xml.tmp"), "x"); },
        [](CSweepWorld& w) { WriteFileBytes(w.FolderOf(L"D2") + L"\\~vk0000ABCD.tmp", "x"); },
        [](CSweepWorld& w) { DeleteFileW(w.InQuarantine(L"A1.cvq").c_str()); },
        [](CSweepWorld& w) { WriteFileBytes(w.InQuarantine(L"C3.cvq"), "changed"); },
        [](CSweepWorld& w) { WriteFileBytes(w.InQuarantine(L"A1.xml"), "<signature/>"); },
        [](CSweepWorld& w) { DeleteFileW(w.InQuarantine(L"A1.xml").c_str()); }, // no file
        [](CSweepWorld& w) {
            // B2 saved without its first location, but that file is not there.
            QuarItem item;
            ASSERT_TRUE(item.LoadXml(w.InQuarantine(L"B2.xml").c_str()));
            item.m_Files.erase(item.m_Files.begin());
            ASSERT_TRUE(item.SaveXml(w.InQuarantine(L"B2.xml").c_str()));
        },
    };
    for (size_t i = 0; i < damages.size(); ++i)
        EXPECT_EQ(violationsAfter(damages[i]).size(), 1u) << i;
}

TEST(FaultSweep, EveryCallFailingOnceLeavesEveryItemWhole)
{
    size_t calls = 0;
    {
        CSweepWorld world;
        ASSERT_TRUE(world.Build());
        CDebugCapture trace;
        CFaultInjector recorder(/*failAt=*/0);
        world.RestoreAll();
        calls = recorder.Calls().size();
    }
    ASSERT_GT(calls, 0u);

    size_t injected = 0;
    std::map<std::string, size_t> perRow;
    std::vector<std::string> allViolations;
    std::map<std::string, size_t> leftoverKinds;
    for (size_t k = 1; k <= calls; ++k) {
        CSweepWorld world;
        ASSERT_TRUE(world.Build()) << k;
        std::vector<int32_t> results;
        std::string fault;
        bool deletionFailed = false;
        {
            CDebugCapture trace;
            CFaultInjector injector(k);
            results = world.RestoreAll();
            ASSERT_TRUE(injector.Injected()) << "call " << k << " never came";
            // The staging file is removed through its handle (attributes, then the
            // deletion), or by its path when no handle reaches it.
            std::string row = injector.FailedRow();
            deletionFailed = row == "DeleteFileW" || row == "SetFileAttributesW" ||
                             row == "SetFileInformationByHandle";
            fault = std::string(injector.FailedRow()) + " (error " +
                    std::to_string(injector.FailedError()) + ")";
            ++perRow[injector.FailedRow()];
        }
        ++injected;
        std::vector<std::string> violations, leftovers;
        world.Check(violations, leftovers, deletionFailed);
        for (const std::string& v : violations)
            allViolations.push_back("call " + std::to_string(k) + " " + fault + ", results " +
                                    Results(results) + ": " + v);
        for (const std::string& l : leftovers)
            ++leftoverKinds[fault.substr(0, fault.find(' ')) + ": " + l];
    }

    std::printf("fault sweep: %zu calls, %zu faults injected\n", calls, injected);
    for (const auto& r : perRow)
        std::printf("  %-24s %zu\n", r.first.c_str(), r.second);
    std::printf("leftovers the restore's rules allow:\n");
    for (const auto& l : leftoverKinds)
        std::printf("  %zu x %s\n", l.second, l.first.c_str());
    std::printf("violations: %zu\n", allViolations.size());
    for (const std::string& v : allViolations)
        std::printf("  %s\n", v.c_str());
    EXPECT_EQ(injected, calls);
    EXPECT_TRUE(allViolations.empty()) << allViolations.size() << " violations (listed above)";
}
