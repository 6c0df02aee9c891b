// Where a restore writes before the file is verified: a name of our own in the destination
// folder, so that the finished file can be renamed into place in one step and a file cut
// short (a crash, a kill, a power cut) never stands under the item's own name. Free of
// Windows headers so that it also builds for the host tests.
#pragma once
#include <cstddef>
#include <string>

// Capacity of the staging path buffer: the longest folder, the "\\?\UNC\" prefix and the
// staging name, with the terminator.
const size_t kStagingPathChars = 300;

// Writes folder (ending in "\") followed by "~vk" + 8 hex digits + ".tmp" into out. The
// digits are a hash of name, so the same location always stages under the same name and
// a later run finds what an interrupted one left. A path that would reach MAX_PATH gets
// the "\\?\" prefix ("\\?\UNC\" for a "\\server" folder). False, with out empty, when
// the result does not fit capacity - 1 characters.
bool MakeStagingPath(const wchar_t* folder, const wchar_t* name, wchar_t* out, size_t capacity);

// The path as Windows' path calls take it at any length: as it is below MAX_PATH, with the
// "\\?\" prefix ("\\?\UNC\" for "\\server") from there on.
std::wstring LongFormPath(const std::wstring& path);
