// Registry helpers of the set-up and the end-to-end tests, all under HKEY_LOCAL_MACHINE.
// Each returns the registry's own status code (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ...).
#pragma once
#include "platform/WinHeaders.h"
#include <string>

// Creates the key when missing and sets the value.
LSTATUS SetHklmValue(const std::wstring& key, const std::wstring& value, DWORD type,
                     const void* data, size_t bytes);
// Reads a value's type and raw bytes.
LSTATUS ReadHklmValue(const std::wstring& key, const std::wstring& value, DWORD& type,
                      std::wstring& data);
LSTATUS DeleteHklmValue(const std::wstring& key, const std::wstring& value);
// Deletes the key with all its subkeys and values.
LSTATUS DeleteHklmTree(const std::wstring& key);
