// The quarantine library's own trace: debugger output only, no prefix, no time stamp.
#pragma once

// Formats into a 1,024-character buffer (cut at 1,022) and sends it to the debugger.
void VaultkitTrace(const wchar_t* format, ...);
