// GetFinalPathNameByHandleW for Wine, whose own gives up on paths longer than MAX_PATH: it
// asks the object's name into a fixed buffer and fails with ERROR_MORE_DATA whatever room
// the caller offers. Ours asks ntdll's NtQueryObject with room for the longest path.
// InstallWineStandins() puts it into the table of calls on Wine only.
#pragma once
#include "platform/WinHeaders.h"

// GetFinalPathNameByHandleW's contract for what the program asks (VOLUME_NAME_DOS; like
// Wine's own, FILE_NAME_OPENED is not told apart): the name Wine keeps for the handle's
// file, "\??\C:\dir\file" or "\??\UNC\server\share\file", spelt "\\?\C:\dir\file" or
// "\\?\UNC\server\share\file". With room for it and the terminator: its length without
// the terminator. Without: the room it needs, terminator included, and nothing written.
// A name outside the DOS namespace (a device, a pipe): 0 with ERROR_PATH_NOT_FOUND; a
// failed query: 0 with its error (ERROR_INVALID_HANDLE for a handle that is not open).
DWORD WINAPI StandinGetFinalPathNameByHandleW(HANDLE hFile, LPWSTR lpszFilePath,
                                              DWORD cchFilePath, DWORD dwFlags);
