// Entry point of sanarix.exe: a windowless GUI program that runs the repair once.
// The command line is ignored and the exit code is always 0.
#include "app/Sanarix.h"
#include "platform/WineStandins.h"

int WINAPI wWinMain(HINSTANCE /*hInstance*/, HINSTANCE /*hPrevInstance*/, LPWSTR /*lpCmdLine*/,
                    int /*nShowCmd*/)
{
    InstallWineStandins();
    DoSanarix();
    return 0;
}
