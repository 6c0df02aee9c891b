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

} // namespace

void VaultkitTrace(const wchar_t* format, ...)
{
    wchar_t buffer[kTraceChars] = {};
    va_list args;
    va_start(args, format);
    FormatIntoV(buffer, kTraceFormatChars, format, args);
    va_end(args);
    g_Sys.OutputDebugStringW(buffer);
}
