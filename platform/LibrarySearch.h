// The library search of the elevated process. Helpdesk staff start the program from a
// downloads folder or a share; a library placed beside it must never load into it, and the
// shell's file operation loads further libraries at run time. So before anything else the
// search is cut down to the system folder.
#pragma once

// SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) where Windows has it; where it
// does not (early Windows 7), or it fails, SetDllDirectoryW(L"") at least drops the current
// folder. That fallback also changes the search of the product programs the run starts,
// which is why it is only the fallback. Silent: it runs before the log exists.
void RestrictLibrarySearch();
