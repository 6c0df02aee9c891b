// The item builder program's command line: options to a CItemDescription, and the files it names
// read into it.
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
    std::wstring outBase;
    std::optional<std::wstring> contentFile;
    std::vector<CStreamFileArg> streamFiles;
    std::optional<std::wstring> securityFile;
    CItemDescription desc;  // everything given directly; the files are read by LoadItemFiles
};

// Options (after the program name):
//   --out-base B            required: writes B.cvq and B.xml
//   --content-file F | --content TEXT (stored as UTF-8)
//   --location "name|path"  repeatable; the index lists them in this order
//   --virus NAME  --qname TEXT  --attr N  --crt N  --lat N  --lwt N  --dtime N  --dflags N
//   --sender T  --receiver T  --subject T  --mailfname T
//   --stream "id|name|file" repeatable    --security-file F
//   --no-empty-record       empty content: no main data record at all
//   --damage kind[:arg]     repeatable: truncate:N flip:N hash qhash size[:N] secstr nopayload
//   --help
// Numbers take decimal, or hexadecimal with 0x. False with a message for anything else.
bool ParseItemBuilderArgs(const std::vector<std::wstring>& args, CItemBuilderArgs* out,
                          std::wstring* error);

// Reads the content, stream and security files into out->desc. False with a message
// naming the file that could not be read.
bool LoadItemFiles(CItemBuilderArgs* out, std::wstring* error);

// The usage text printed by --help and after a bad option.
const wchar_t* ItemBuilderUsage();
