// The live table of Windows calls and its defaults (the real functions).
#include "platform/SysCalls.h"
#include "platform/LateCalls.h"
#include <cstring>

namespace {

// A late row's default is its run-time lookup (LateCalls.h), never an import.
#undef SANARIX_LATE
#define SANARIX_LATE(X, fn) &Late##fn,
const CSysCalls g_SysDefault = {
#define SANARIX_SYSCALL_DEFAULT(fn) &::fn,
    SANARIX_SYSCALLS(SANARIX_SYSCALL_DEFAULT)
#undef SANARIX_SYSCALL_DEFAULT
};
#undef SANARIX_LATE
#define SANARIX_LATE(X, fn) X(fn)

struct SysRow
{
    const char* name;
    size_t offset;
};

const SysRow g_Rows[] = {
#define SANARIX_SYSCALL_ROW(fn) {#fn, offsetof(CSysCalls, fn)},
    SANARIX_SYSCALLS(SANARIX_SYSCALL_ROW)
#undef SANARIX_SYSCALL_ROW
};


// Every row is a plain function pointer, so a row is copied as pointer-sized bytes.
static_assert(sizeof(CSysCalls) == sizeof(g_Rows) / sizeof(SysRow) * sizeof(void (*)()),
              "every row of the table is one function pointer");

const SysRow* FindRow(const char* name)
{
    if (!name)
        return nullptr;
    for (const SysRow& row : g_Rows)
        if (std::strcmp(row.name, name) == 0)
            return &row;
    return nullptr;
}

} // namespace

CSysCalls g_Sys = g_SysDefault;

void SysRestoreAllCalls()
{
    g_Sys = g_SysDefault;
}

bool SysCallIsDefault(const char* name)
{
    const SysRow* row = FindRow(name);
    if (!row)
        return false;
    return std::memcmp(reinterpret_cast<const char*>(&g_Sys) + row->offset,
                       reinterpret_cast<const char*>(&g_SysDefault) + row->offset,
                       sizeof(void (*)())) == 0;
}
