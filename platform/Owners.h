// Owners for Windows handles: one small move-only type per handle kind that closes its
// handle through the table of calls on scope exit. Null and INVALID_HANDLE_VALUE both
// mean "not open". Closing keeps the last-error value, so an owner released on a failure
// path never overwrites the error about to be reported. Declaration order is closing order.
#pragma once
#include "platform/SysCalls.h"
#include <utility>

template <class T, class Traits>
class CUniqueAny
{
public:
    CUniqueAny() = default;
    explicit CUniqueAny(T h) : m_h(h) {}
    ~CUniqueAny() { reset(); }

    CUniqueAny(const CUniqueAny&) = delete;
    CUniqueAny& operator=(const CUniqueAny&) = delete;
    CUniqueAny(CUniqueAny&& other) noexcept : m_h(other.release()) {}
    CUniqueAny& operator=(CUniqueAny&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    T get() const { return m_h; }
    explicit operator bool() const { return IsOpen(m_h); }

    // Closes what is held (keeping the last error) and takes h.
    void reset(T h = Traits::Empty())
    {
        if (IsOpen(m_h)) {
            DWORD err = g_Sys.GetLastError();
            Traits::Close(m_h);
            g_Sys.SetLastError(err);
        }
        m_h = h;
    }

    // Gives the handle up without closing it.
    T release()
    {
        T h = m_h;
        m_h = Traits::Empty();
        return h;
    }

    // For out-parameters: closes what is held and returns the slot's address.
    T* put()
    {
        reset();
        return &m_h;
    }

    static bool IsOpen(T h)
    {
        return h != nullptr && h != reinterpret_cast<T>(INVALID_HANDLE_VALUE);
    }

private:
    T m_h = Traits::Empty();
};

struct SysFileTraits
{
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { g_Sys.CloseHandle(h); }
};
struct SysHandleTraits
{
    static HANDLE Empty() { return nullptr; }
    static void Close(HANDLE h) { g_Sys.CloseHandle(h); }
};
struct SysFindTraits
{
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { g_Sys.FindClose(h); }
};
struct SysKeyTraits
{
    static HKEY Empty() { return nullptr; }
    static void Close(HKEY h) { g_Sys.RegCloseKey(h); }
};
struct SysServiceTraits
{
    static SC_HANDLE Empty() { return nullptr; }
    static void Close(SC_HANDLE h) { g_Sys.CloseServiceHandle(h); }
};
struct SysEfsTraits
{
    static PVOID Empty() { return nullptr; }
    static void Close(PVOID h) { g_Sys.CloseEncryptedFileRaw(h); }
};

struct SysLocalTraits
{
    static HLOCAL Empty() { return nullptr; }
    static void Close(HLOCAL h) { g_Sys.LocalFree(h); }
};
struct SysBoundaryTraits
{
    static HANDLE Empty() { return nullptr; }
    static void Close(HANDLE h) { g_Sys.DeleteBoundaryDescriptor(h); }
};
struct SysNamespaceTraits
{
    static HANDLE Empty() { return nullptr; }
    // Closed, not destroyed: the namespace goes with its last handle, whoever holds it.
    static void Close(HANDLE h) { g_Sys.ClosePrivateNamespace(h, /*Flags=*/0); }
};

using CUniqueFile = CUniqueAny<HANDLE, SysFileTraits>;        // CreateFileW, snapshots
using CUniqueHandle = CUniqueAny<HANDLE, SysHandleTraits>;    // processes, threads, tokens
using CUniqueFind = CUniqueAny<HANDLE, SysFindTraits>;        // FindFirstFileW
using CUniqueKey = CUniqueAny<HKEY, SysKeyTraits>;            // RegOpenKeyExW
using CUniqueService = CUniqueAny<SC_HANDLE, SysServiceTraits>; // OpenSCManagerW, OpenServiceW
using CUniqueEfsContext = CUniqueAny<PVOID, SysEfsTraits>;    // OpenEncryptedFileRawW
using CUniqueLocal = CUniqueAny<HLOCAL, SysLocalTraits>;      // LocalAlloc'd by a call
using CUniqueBoundary = CUniqueAny<HANDLE, SysBoundaryTraits>;   // CreateBoundaryDescriptorW
using CUniqueNamespace = CUniqueAny<HANDLE, SysNamespaceTraits>; // Create/OpenPrivateNamespaceW

// Both handles of a started process.
struct CProcessInfo
{
    CUniqueHandle m_hProcess;
    CUniqueHandle m_hThread;
    DWORD m_dwProcessId = 0;

    void Take(const PROCESS_INFORMATION& pi)
    {
        m_hProcess.reset(pi.hProcess);
        m_hThread.reset(pi.hThread);
        m_dwProcessId = pi.dwProcessId;
    }
};
