// Helpers of the leftover cleanup.
#pragma once
#include <string>
#include <vector>

// Appends the full path of every file below folder, depth first in search order.
// Folder links (reparse points) are not followed, and depth is bounded.
void ListFilesRec(std::vector<std::wstring>& files, const std::wstring& folder);

// Deletes one file or folder silently through the shell (nothing to the recycle bin).
bool ShellDeleteFile(const std::wstring& path);
