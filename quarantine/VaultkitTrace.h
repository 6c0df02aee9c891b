// The quarantine library's own trace: debugger output only, no prefix, no time stamp.
#pragma once
#include "quarantine/VaultkitError.h"

// Formats into a 1,024-character buffer (cut at 1,022) and sends it to the debugger.
void VaultkitTrace(const wchar_t* format, ...);

// The one way a result goes to the trace: "[VAULTKIT] " and the code's name, followed by
// detail formatted from the arguments (empty: the name alone). Gives the code back, so a
// failure is traced and returned in one statement.
VaultkitError TraceResult(VaultkitError code, const wchar_t* detail = L"", ...);

// A failed Windows call that decides the result: "[VAULTKIT] <call> [<name> (<error>)]".
VaultkitError TraceCallResult(const wchar_t* call, VaultkitError code, uint32_t error);

