// Result codes of the quarantine library's start-up and restore operations; 0 is success.
// Values not listed here are never produced.
#pragma once
#include <cstdint>

// One row per code: its name after "VAULTKIT_ERROR_" and its value. The enum and the names
// the trace prints are both made from these rows, so a code and its name cannot part.
#define VAULTKIT_ERRORS(X)                     \
    X(SUCCESS, 0)                              \
    X(NOT_ENOUGH_SPACE, 3)                     \
    X(DEST_PATH_TO_BIG, 4)                     \
    X(CANNOT_WRITE_DESTINATION, 5)             \
    X(CANNOT_SAVE_XML, 6)                      \
    X(CANNOT_READ_SOURCE, 7)                   \
    X(XML_NO_FILES, 8)                         \
    X(XML_DUPLICATE_ENTRY_NOT_FOUND, 9)        \
    X(CANNOT_READ_XML, 10)                     \
    X(CRYPTED_MD5_MISMATCH, 11)                \
    X(FILE_SIZE_MISMATCH, 12)                  \
    X(OUTPUT_FILE_ALREADY_EXISTS, 13)          \
    X(ORIGINAL_MD5_MISMATCH, 14)               \
    X(NO_QUAR_FOLDER, 16)                      \
    X(NOT_INITIALIZED, 18)                     \
    X(CANNOT_OPEN_PROCESS, 20)

enum VaultkitError : int32_t
{
#define VAULTKIT_ERROR_VALUE(name, value) VAULTKIT_ERROR_##name = value,
    VAULTKIT_ERRORS(VAULTKIT_ERROR_VALUE)
#undef VAULTKIT_ERROR_VALUE
};

// The code's name as the trace spells it ("VAULTKIT_ERROR_NOT_ENOUGH_SPACE"); null for a
// value that is not a code.
inline const wchar_t* VaultkitErrorName(VaultkitError code)
{
    switch (code) {
#define VAULTKIT_ERROR_NAME(name, value) \
    case VAULTKIT_ERROR_##name:          \
        return L"VAULTKIT_ERROR_" #name;
        VAULTKIT_ERRORS(VAULTKIT_ERROR_NAME)
#undef VAULTKIT_ERROR_NAME
    }
    return nullptr;
}
