// Restricting the library search at start-up (see LibrarySearch.h).
#include "platform/LibrarySearch.h"
#include "platform/SysCalls.h"

void RestrictLibrarySearch()
{
    if (g_Sys.SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
    g_Sys.SetDllDirectoryW(L"");
}
