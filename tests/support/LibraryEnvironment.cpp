// Every test program that restores runs with the Wine stand-ins in the table and the quarantine
// library started as the program starts it, the registry naming a quarantine folder of its own.
#include "platform/WineStandins.h"
#include "tests/support/QuarantineKey.h"
#include <gtest/gtest.h>

namespace {

class CLibraryEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        InstallWineStandins();
        CQuarantineKey key{L"C:\\quarantine"};
        ASSERT_EQ(VaultkitInit(), VAULTKIT_ERROR_SUCCESS);
    }
    void TearDown() override { VaultkitUninit(); }
};

::testing::Environment* const g_pLibrary =
    ::testing::AddGlobalTestEnvironment(new CLibraryEnvironment);

} // namespace
