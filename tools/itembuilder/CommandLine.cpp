// Command line of the item builder program.
#include "tools/itembuilder/CommandLine.h"
#include "platform/Utf8.h"
#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <limits>
#include <utility>

namespace {

template <class T>
bool ParseInteger(const std::wstring& text, T* value)
{
    if (text.empty())
        return false;
    wchar_t* end = nullptr;
    errno = 0;
    bool isSigned = std::numeric_limits<T>::is_signed;
    if (!isSigned && text[0] == L'-')
        return false;
    long long v = isSigned ? std::wcstoll(text.c_str(), &end, 0)
                           : (long long)std::wcstoull(text.c_str(), &end, 0);
    if (*end || errno == ERANGE)
        return false;
    if (isSigned ? (v < (long long)std::numeric_limits<T>::min() ||
                    v > (long long)std::numeric_limits<T>::max())
                 : (unsigned long long)v > (unsigned long long)std::numeric_limits<T>::max())
        return false;
    *value = T(v);
    return true;
}

bool ParseLocation(const std::wstring& text, CItemLocation* where)
{
    size_t bar = text.find(L'|');
    if (bar == std::wstring::npos || bar == 0)
        return false;
    where->name = text.substr(0, bar);
    where->path = text.substr(bar + 1);
    return true;
}

bool ParseStream(const std::wstring& text, CStreamFileArg* stream)
{
    size_t first = text.find(L'|');
    size_t last = text.rfind(L'|');
    if (first == std::wstring::npos || first == last || last + 1 == text.size())
        return false;
    if (!ParseInteger(text.substr(0, first), &stream->id))
        return false;
    stream->name = text.substr(first + 1, last - first - 1);
    stream->file = text.substr(last + 1);
    return true;
}

bool ReadWholeFile(const std::wstring& path, std::string* bytes)
{
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f)
        return false;
    bytes->clear();
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        bytes->append(buf, n);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

template <class T>
using COptionSlot = std::pair<const wchar_t*, T*>;

// Options whose value is stored as it stands.
bool TakeText(const std::wstring& name, const std::wstring& value, CItemBuilderArgs* out)
{
    CItemDescription& s = out->desc;
    const COptionSlot<std::wstring> texts[] = {
        {L"--out-base", &out->outBase}, {L"--virus", &s.dvirus}, {L"--qname", &s.qname}};
    const COptionSlot<std::optional<std::wstring>> optionalTexts[] = {
        {L"--content-file", &out->contentFile}, {L"--security-file", &out->securityFile},
        {L"--sender", &s.sender},               {L"--receiver", &s.receiver},
        {L"--subject", &s.subject},             {L"--mailfname", &s.mailfname}};
    for (const auto& slot : texts)
        if (name == slot.first) {
            *slot.second = value;
            return true;
        }
    for (const auto& slot : optionalTexts)
        if (name == slot.first) {
            *slot.second = value;
            return true;
        }
    return false;
}

// Options whose value is a number; *known tells whether the name was one of them.
bool TakeNumber(const std::wstring& name, const std::wstring& value, CItemDescription* s, bool* known)
{
    *known = true;
    const COptionSlot<int64_t> times[] = {
        {L"--crt", &s->crt}, {L"--lat", &s->lat}, {L"--lwt", &s->lwt}, {L"--dtime", &s->dtime}};
    for (const auto& slot : times)
        if (name == slot.first)
            return ParseInteger(value, slot.second);
    if (name == L"--attr")
        return ParseInteger(value, &s->attr);
    if (name == L"--dflags")
        return ParseInteger(value, &s->dflags);
    *known = false;
    return false;
}

// One option with its value; false when the name is unknown or the value is bad.
bool TakeOption(const std::wstring& name, const std::wstring& value, CItemBuilderArgs* out)
{
    CItemDescription& s = out->desc;
    if (TakeText(name, value, out))
        return true;
    bool known = false;
    bool ok = TakeNumber(name, value, &s, &known);
    if (known)
        return ok;
    if (name == L"--content") {
        s.content = WideToUtf8(value);
        return true;
    }
    if (name == L"--location") {
        CItemLocation where;
        if (!ParseLocation(value, &where))
            return false;
        s.locations.push_back(where);
        return true;
    }
    if (name == L"--stream") {
        CStreamFileArg stream;
        if (!ParseStream(value, &stream))
            return false;
        out->streamFiles.push_back(stream);
        return true;
    }
    if (name == L"--damage") {
        CItemDamage damage;
        if (!ParseItemDamage(value, &damage))
            return false;
        s.damages.push_back(damage);
        return true;
    }
    return false;
}

} // namespace

bool ParseItemBuilderArgs(const std::vector<std::wstring>& args, CItemBuilderArgs* out,
                          std::wstring* error)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& name = args[i];
        if (name == L"--help") {
            out->help = true;
            return true;
        }
        if (name == L"--no-empty-record") {
            out->desc.emptyContentAsRecord = false;
            continue;
        }
        if (i + 1 == args.size()) {
            *error = L"missing value or unknown option: " + name;
            return false;
        }
        const std::wstring& value = args[++i];
        if (!TakeOption(name, value, out)) {
            *error = L"bad option: " + name + L" " + value;
            return false;
        }
    }
    if (out->outBase.empty()) {
        *error = L"--out-base is required";
        return false;
    }
    return true;
}

bool LoadItemFiles(CItemBuilderArgs* out, std::wstring* error)
{
    CItemDescription& s = out->desc;
    if (out->contentFile && !ReadWholeFile(*out->contentFile, &s.content)) {
        *error = L"cannot read " + *out->contentFile;
        return false;
    }
    for (const CStreamFileArg& arg : out->streamFiles) {
        CItemStream stream;
        stream.id = arg.id;
        stream.name = arg.name;
        if (!ReadWholeFile(arg.file, &stream.data)) {
            *error = L"cannot read " + arg.file;
            return false;
        }
        s.extraStreams.push_back(std::move(stream));
    }
    if (out->securityFile) {
        std::string sd;
        if (!ReadWholeFile(*out->securityFile, &sd)) {
            *error = L"cannot read " + *out->securityFile;
            return false;
        }
        s.security = sd;
    }
    return true;
}

const wchar_t* ItemBuilderUsage()
{
    return L"itembuilder --out-base B [--content-file F | --content TEXT]\n"
           L"    [--location \"name|path\"]... [--virus NAME] [--qname TEXT]\n"
           L"    [--attr N] [--crt N] [--lat N] [--lwt N] [--dtime N] [--dflags N]\n"
           L"    [--sender T] [--receiver T] [--subject T] [--mailfname T]\n"
           L"    [--stream \"id|name|file\"]... [--security-file F] [--no-empty-record]\n"
           L"    [--damage truncate:N|flip:N|hash|qhash|size[:N]|secstr|nopayload]...\n"
           L"Writes B.cvq and B.xml, a quarantine item as the product writes it.\n";
}
