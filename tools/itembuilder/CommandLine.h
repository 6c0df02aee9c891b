// The item builder program's command line: options to a CItemDescription, and the files it
// names read into it; or the quarantine inspector's folder and output form.
#pragma once
#include "tools/itembuilder/ItemBuilder.h"
#include <optional>
#include <string>
#include <vector>

// --stream "id|name|file": one extra stream whose data is the file's bytes.
struct CStreamFileArg
{
    uint32_t id = 0;
    std::wstring name;
    std::wstring file;
};

struct CItemBuilderArgs
{
    bool help = false;
    bool version = false;
    std::wstring outBase;
    std::optional<std::wstring> contentFile;
    std::vector<CStreamFileArg> streamFiles;
    std::optional<std::wstring> securityFile;
    CItemDescription desc;  // everything given directly; the files are read by LoadItemFiles
};

// Options (after the program name), described with units and defaults by ItemBuilderUsage.
// Times take ISO 8601 or a file time; numbers decimal, or hexadecimal with 0x; --sddl the
// security descriptor as SDDL text. False with a message that says what is wrong and what
// is expected: a bad value, an option given twice, options that contradict each other, or
// one missing (--out-base, a --location).
bool ParseItemBuilderArgs(const std::vector<std::wstring>& args, CItemBuilderArgs* out,
                          std::wstring* error);

// Reads the content, stream and security files into out->desc. False with a message
// naming the file that could not be read.
bool LoadItemFiles(CItemBuilderArgs* out, std::wstring* error);

// "inspect FOLDER [--csv] [--sep C]", after the word "inspect".
struct CInspectArgs
{
    std::wstring folder;
    bool csv = false;
    char separator = ',';
};
bool ParseInspectArgs(const std::vector<std::wstring>& args, CInspectArgs* out, std::wstring* error);

// The usage text printed by --help, -h and /?.
const wchar_t* ItemBuilderUsage();
