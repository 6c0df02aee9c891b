// The quarantine library's trace (see VaultkitTrace.h). Its lines go to the debugger
// only, never into the debug log, and carry no prefix of their own.
#include "quarantine/VaultkitTrace.h"
#include "diag/TextBuffer.h"
#include "platform/SysCalls.h"
#include <cstdarg>

namespace {

const size_t kTraceChars = 1024;
// At most 1,022 characters and the NUL.
const size_t kTraceFormatChars = kTraceChars - 1;

void TraceV(const wchar_t* format, va_list args)
{
    wchar_t buffer[kTraceChars] = {};
    FormatIntoV(buffer, kTraceFormatChars, format, args);
    g_Sys.OutputDebugStringW(buffer);
}

// The format of a result's line: before and after around the code's name. The name is
// copied into the format, not passed as an argument, so that the caller's arguments
// line up with the conversions of before and after.
void TraceNamedV(const wchar_t* before, VaultkitError code, const wchar_t* after, va_list args)
{
    wchar_t format[kTraceChars] = {};
    CopyInto(format, kTraceChars, L"[VAULTKIT] ");
    AppendInto(format, kTraceChars, before);
    AppendInto(format, kTraceChars, VaultkitErrorName(code));
    AppendInto(format, kTraceChars, after);
    TraceV(format, args);
}

void TraceNamed(const wchar_t* before, VaultkitError code, const wchar_t* after, ...)
{
    va_list args;
    va_start(args, after);
    TraceNamedV(before, code, after, args);
    va_end(args);
}

} // namespace

void VaultkitTrace(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    TraceV(format, args);
    va_end(args);
}

VaultkitError TraceResult(VaultkitError code, const wchar_t* detail, ...)
{
    va_list args;
    va_start(args, detail);
    TraceNamedV(L"", code, detail, args);
    va_end(args);
    return code;
}

VaultkitError TraceCallResult(const wchar_t* call, VaultkitError code, uint32_t error)
{
    TraceNamed(L"%s [", code, L" (%d)]", call, error);
    return code;
}
