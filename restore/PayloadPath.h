// The payload file of a quarantined item: the index path with its extension replaced.
// Free of Windows headers so that it also builds for the host tests.
#pragma once
#include <cstddef>

// Capacity of the payload path buffer, in wide characters (261 and the terminator).
const size_t kPayloadPathChars = 262;

// Writes indexPath with everything from its last "." replaced by ".cvq" into out
// (capacity chars). The last "." may stand in a folder name: C:\Q.d\A1 gives C:\Q.cvq.
// False, with out empty, when indexPath is null, has no "." at all, or the result does
// not fit capacity - 1 characters: a guessed name could open some other file.
bool MakePayloadPath(const wchar_t* indexPath, wchar_t* out, size_t capacity);
