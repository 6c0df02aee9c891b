// Owners for Windows handles: one small move-only type per handle kind that closes its
// handle through the table of calls on scope exit. Null and INVALID_HANDLE_VALUE both
// mean "not open". Closing keeps the last-error value, so an owner released on a failure
// path never overwrites the error about to be reported. Declaration order is closing order.
// Where a failed close must fail the work done through the handle, Close() says how it went.
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

    // Closes what is held and answers whether that worked; the owner is empty afterwards
    // either way, and the last error is the close's own. For a file written with delayed
    // writes, whose close can still lose data. Nothing held answers false: whoever asks
    // means to have written through a handle.
    bool Close()
    {
        if (!IsOpen(m_h))
            return false;
        return Traits::Close(release());
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
    static bool Close(HANDLE h) { return g_Sys.CloseHandle(h) != FALSE; }
};
struct SysHandleTraits
{
    static HANDLE Empty() { return nullptr; }
    static bool Close(HANDLE h) { return g_Sys.CloseHandle(h) != FALSE; }
};
struct SysFindTraits
{
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static bool Close(HANDLE h) { return g_Sys.FindClose(h) != FALSE; }
};
struct SysKeyTraits
{
    static HKEY Empty() { return nullptr; }
    static bool Close(HKEY h) { return g_Sys.RegCloseKey(h) == ERROR_SUCCESS; }
};
struct SysServiceTraits
{
    static SC_HANDLE Empty() { return nullptr; }
    static bool Close(SC_HANDLE h) { return g_Sys.CloseServiceHandle(h) != FALSE; }
};
struct SysEfsTraits
{
    static PVOID Empty() { return nullptr; }
    static bool Close(PVOID h)
    {
        g_Sys.CloseEncryptedFileRaw(h); // reports nothing
        return true;
    }
};

struct SysLocalTraits
{
    static HLOCAL Empty() { return nullptr; }
    static bool Close(HLOCAL h) { return g_Sys.LocalFree(h) == nullptr; }
};
struct SysBoundaryTraits
{
    static HANDLE Empty() { return nullptr; }
    static bool Close(HANDLE h)
    {
        g_Sys.DeleteBoundaryDescriptor(h); // reports nothing
        return true;
    }
};
struct SysNamespaceTraits
{
    static HANDLE Empty() { return nullptr; }
    // Closed, not destroyed: the namespace goes with its last handle, whoever holds it.
    static bool Close(HANDLE h) { return g_Sys.ClosePrivateNamespace(h, /*Flags=*/0) != FALSE; }
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
