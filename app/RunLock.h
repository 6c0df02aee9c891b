// One repair run at a time on a machine. Two runs at once work on the same quarantine
// items and undo each other's restores, so a run holds a machine-wide mutex for its whole
// length; one left behind by a killed run counts as free.
//
// Windows: the mutex lies in a private namespace whose boundary is the Administrators
// group, and the namespace and the mutex admit only SYSTEM and Administrators. A standard
// user's token lacks that group, so the user can neither create the namespace first nor
// open the mutex: nobody but an administrator can keep the repair from running. Wine 8 has
// no private namespaces (its stand-in fails at once); there, and wherever the namespace
// cannot be had, the mutex is a named one in Global\ with the same security, and an
// existing one counts only when its owner is SYSTEM or Administrators: an object of that
// name made by anybody else is not a run in progress.
#pragma once
#include "platform/Owners.h"

enum class ERunLock
{
    Taken,     // this run holds the lock
    Busy,      // another run holds it
    Untrusted, // no lock that an ordinary user could not have made or blocked
};

class CRunLock
{
public:
    CRunLock() = default;
    ~CRunLock();
    CRunLock(const CRunLock&) = delete;
    CRunLock& operator=(const CRunLock&) = delete;

    // Takes the lock without waiting.
    ERunLock Take();

private:
    bool OpenNamespace(SECURITY_ATTRIBUTES& sa);
    ERunLock TakeMutex(SECURITY_ATTRIBUTES& sa, const wchar_t* name);

    // Declaration order is closing order, reversed: mutex, namespace, boundary.
    CUniqueBoundary m_hBoundary;
    CUniqueNamespace m_hNamespace;
    CUniqueHandle m_hMutex;
    bool m_bHeld = false;
};

// True when the object's owner is SYSTEM or the Administrators group.
bool MadeByAdministrators(HANDLE object);
