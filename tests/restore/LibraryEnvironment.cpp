// Every restore test runs with the Wine stand-ins in the table and the quarantine library started.
#include "quarantine/Vaultkit.h"
#include "tests/support/LibrarySetup.h"
#include <gtest/gtest.h>

namespace {

class CLibraryEnvironment : public ::testing::Environment
{
public:
    void SetUp() override { ASSERT_TRUE(StartQuarantineLibrary()); }
    void TearDown() override { VaultkitUninit(); }
};

::testing::Environment* const g_pLibrary =
    ::testing::AddGlobalTestEnvironment(new CLibraryEnvironment);

} // namespace
