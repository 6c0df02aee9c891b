// The log comparison of the end-to-end tests: it must tell every kind of difference.
#include "tests/e2e/LogExpectation.h"
#include <gtest/gtest.h>

namespace {

TEST(LogExpectationTest, ExactLinesMustAllBeThereInOrderAndNothingMore)
{
    CLogExpectation log;
    log.Line("a");
    log.Line(All("DoSanarix", "ok"));
    EXPECT_EQ("", log.Compare({"a", "[ALL]:    DoSanarix - ok"}));
    EXPECT_NE("", log.Compare({"a"}));
    EXPECT_NE("", log.Compare({"[ALL]:    DoSanarix - ok", "a"}));
    std::string extra = log.Compare({"a", "[ALL]:    DoSanarix - ok", "b"});
    EXPECT_NE(std::string::npos, extra.find("more lines")) << extra;
    std::string wrong = log.Compare({"a", "[ALL]:    DoSanarix - fail"});
    EXPECT_NE(std::string::npos, wrong.find("DoSanarix - ok")) << wrong;
}

TEST(LogExpectationTest, LevelLabelsArePaddedToTenCharacters)
{
    EXPECT_EQ("[ALL]:    T - x", All("T", "x"));
    EXPECT_EQ("[INFO]:   T - x", Info("T", "x"));
    EXPECT_EQ("[ERROR]:  T - x", Error("T", "x"));
}

TEST(LogExpectationTest, WaitLinesMustNameOneUpperCaseHandle)
{
    CLogExpectation log;
    log.WaitPair("StopCVApp");
    const std::string first = "[INFO]:   StopCVApp - WaitForSingleObject handle=0x0000ABCD ...";
    EXPECT_EQ("", log.Compare({first, "[INFO]:   StopCVApp - WaitForSingleObject handle=0x0000ABCD ok"}));
    EXPECT_NE("", log.Compare({first, "[INFO]:   StopCVApp - WaitForSingleObject handle=0x0000ABCE ok"}));
    EXPECT_NE("", log.Compare({"[INFO]:   StopCVApp - WaitForSingleObject handle=0x0000abcd ...",
                               "[INFO]:   StopCVApp - WaitForSingleObject handle=0x0000abcd ok"}));
    EXPECT_NE("", log.Compare({"[INFO]:   StartCVApp - WaitForSingleObject handle=0x0000ABCD ...",
                               "[INFO]:   StartCVApp - WaitForSingleObject handle=0x0000ABCD ok"}));
}

TEST(LogExpectationTest, GroupsComeInAnyOrderButStayWhole)
{
    CLogExpectation log;
    log.AnyOrder({{"x1", "x2"}, {"y1"}, {"z1", "z2", "z3"}});
    log.Line("end");
    EXPECT_EQ("", log.Compare({"x1", "x2", "y1", "z1", "z2", "z3", "end"}));
    EXPECT_EQ("", log.Compare({"z1", "z2", "z3", "y1", "x1", "x2", "end"}));
    EXPECT_NE("", log.Compare({"x1", "y1", "x2", "z1", "z2", "z3", "end"})) << "interleaved";
    EXPECT_NE("", log.Compare({"x1", "x2", "z1", "z2", "z3", "end"})) << "a group missing";
    EXPECT_NE("", log.Compare({"x1", "x2", "y1", "y1", "z1", "z2", "z3", "end"})) << "twice";
}

TEST(LogExpectationTest, PatternsMatchTheWholeLine)
{
    CLogExpectation log;
    log.Pattern(RegexQuote("command=C:\\a b\\x.exe stop error=") + "(2|3)");
    EXPECT_EQ("", log.Compare({"command=C:\\a b\\x.exe stop error=3"}));
    EXPECT_NE("", log.Compare({"command=C:\\a b\\x.exe stop error=5"}));
    EXPECT_NE("", log.Compare({"command=C:\\a b\\x.exe stop error=23"}));
    EXPECT_NE("", log.Compare({"command=C:\\a bXx.exe stop error=2"})) << "quoting";
}

} // namespace
