// The quarantine library's restore operation for one location of a quarantined item.
#pragma once
#include <cstdint>

// Restores location (name, path) of the item whose index is indexPath, checks it against
// size and digests and retires it from the quarantine. Returns a VaultkitError code.
int32_t VaultkitDecryptAndRestore(const wchar_t* indexPath, const wchar_t* name,
                                  const wchar_t* path);
