// Times on the item builder's command line: ISO 8601 (UTC with "Z", with an offset, or the
// local time of the machine it runs on), or a Windows file time given as a number.
#pragma once
#include <cstdint>
#include <string>

// "2024-05-01T10:30:00Z", "2024-05-01T12:30:00.5+02:00", "2024-05-01 10:30",
// "2024-05-01" (midnight, local time), "133590000000000000" (a file time as it stands).
// False when the text is none of these or names no real date.
bool ParseItemTime(const std::wstring& text, int64_t* fileTime);
