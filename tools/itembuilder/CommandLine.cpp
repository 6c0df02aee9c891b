// Command line of the item builder program. Every refusal names the option, the value and
// what would have been accepted, since the people who build items for support cases do it
// rarely and from this text alone.
#include "tools/itembuilder/CommandLine.h"
#include "tools/itembuilder/ItemTime.h"
#include "platform/Utf8.h"
#include "platform/WinHeaders.h"
#include "tools/common/FileTools.h"
#include "tools/common/SecurityText.h"
#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <limits>
#include <set>
#include <utility>

namespace {

const wchar_t kNumberExpected[] =
    L"expected a whole number, decimal or hexadecimal with 0x (e.g. 32 or 0x20)";
const wchar_t kTimeExpected[] =
    L"expected an ISO 8601 time such as 2024-05-01T10:30:00Z (UTC), 2024-05-01T12:30:00+02:00 "
    L"or 2024-05-01 10:30 (local time), or a file time such as 133590000000000000";

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

// The self-relative security descriptor of an SDDL text; its error code when it is none.
bool ParseSddl(const std::wstring& text, std::string* descriptor, DWORD* error)
{
    *descriptor = SecurityDescriptorBytes(text.c_str());
    *error = GetLastError();
    return !descriptor->empty();
}

template <class T>
using COptionSlot = std::pair<const wchar_t*, T*>;

class CParser
{
public:
    CParser(CItemBuilderArgs* out, std::wstring* error) : m_out(out), m_error(error) {}

    bool Option(const std::wstring& name, const std::wstring& value);
    bool Finish();
    bool m_bNoEmptyRecord = false;

private:
    bool Bad(const std::wstring& name, const std::wstring& value, const std::wstring& expected)
    {
        *m_error = name + L": \"" + value + L"\" is not accepted; " + expected;
        return false;
    }
    bool Refuse(const std::wstring& why)
    {
        *m_error = why;
        return false;
    }
    bool Text(const std::wstring& name, const std::wstring& value, bool* known);
    bool Number(const std::wstring& name, const std::wstring& value, bool* known);
    bool Repeatable(const std::wstring& name, const std::wstring& value, bool* known);

    CItemBuilderArgs* m_out;
    std::wstring* m_error;
    std::set<std::wstring> m_given;
    bool m_bContent = false;
    bool m_bSddl = false;
};

// Options whose value is stored as it stands.
bool CParser::Text(const std::wstring& name, const std::wstring& value, bool* known)
{
    CItemDescription& s = m_out->desc;
    const COptionSlot<std::wstring> texts[] = {
        {L"--out-base", &m_out->outBase}, {L"--virus", &s.dvirus}, {L"--qname", &s.qname}};
    const COptionSlot<std::optional<std::wstring>> optionalTexts[] = {
        {L"--content-file", &m_out->contentFile}, {L"--security-file", &m_out->securityFile},
        {L"--sender", &s.sender},                 {L"--receiver", &s.receiver},
        {L"--subject", &s.subject},               {L"--mailfname", &s.mailfname}};
    *known = true;
    for (const auto& slot : texts)
        if (name == slot.first) {
            *slot.second = value;
            return !value.empty() || name != L"--out-base" ||
                   Bad(name, value, L"expected the path of the item without extension");
        }
    for (const auto& slot : optionalTexts)
        if (name == slot.first) {
            *slot.second = value;
            return true;
        }
    if (name == L"--content") {
        s.content = WideToUtf8(value);
        m_bContent = true;
        return true;
    }
    if (name == L"--sddl") {
        DWORD error = 0;
        std::string descriptor;
        if (!ParseSddl(value, &descriptor, &error))
            return Bad(name, value, L"expected a security descriptor in SDDL, e.g. "
                                    L"\"O:BAG:SYD:(A;;FA;;;SY)(A;;FA;;;BA)\" (error " +
                                        std::to_wstring(error) + L")");
        s.security = descriptor;
        m_bSddl = true;
        return true;
    }
    *known = false;
    return false;
}

// Options whose value is a number or a time.
bool CParser::Number(const std::wstring& name, const std::wstring& value, bool* known)
{
    CItemDescription& s = m_out->desc;
    const COptionSlot<int64_t> times[] = {
        {L"--crt", &s.crt}, {L"--lat", &s.lat}, {L"--lwt", &s.lwt}, {L"--dtime", &s.dtime}};
    *known = true;
    for (const auto& slot : times)
        if (name == slot.first)
            return ParseItemTime(value, slot.second) || Bad(name, value, kTimeExpected);
    if (name == L"--attr")
        return ParseInteger(value, &s.attr) ||
               Bad(name, value, std::wstring(kNumberExpected) + L", at most 0xFFFFFFFF");
    if (name == L"--dflags")
        return ParseInteger(value, &s.dflags) ||
               Bad(name, value, std::wstring(kNumberExpected) + L", 32 bits with sign");
    *known = false;
    return false;
}

bool CParser::Repeatable(const std::wstring& name, const std::wstring& value, bool* known)
{
    CItemDescription& s = m_out->desc;
    *known = true;
    if (name == L"--location") {
        CItemLocation where;
        if (!ParseLocation(value, &where))
            return Bad(name, value, L"expected \"NAME|FOLDER\", e.g. \"invoice.doc|C:\\Users\\Public\\\"");
        s.locations.push_back(where);
        return true;
    }
    if (name == L"--stream") {
        CStreamFileArg stream;
        if (!ParseStream(value, &stream))
            return Bad(name, value, L"expected \"ID|NAME|FILE\": a stream id number, its name "
                                    L"(may be empty) and the file of its data, e.g. "
                                    L"\"4|:Zone.Identifier:$DATA|zone.txt\"");
        m_out->streamFiles.push_back(stream);
        return true;
    }
    if (name == L"--damage") {
        CItemDamage damage;
        if (!ParseItemDamage(value, &damage))
            return Bad(name, value, L"expected truncate:N, flip:N, hash, qhash, size, size:N, "
                                    L"secstr or nopayload");
        s.damages.push_back(damage);
        return true;
    }
    *known = false;
    return false;
}

bool CParser::Option(const std::wstring& name, const std::wstring& value)
{
    bool known = false;
    bool ok = Repeatable(name, value, &known);
    if (known)
        return ok;
    if (!m_given.insert(name).second)
        return Refuse(name + L" is given twice; it takes one value");
    ok = Text(name, value, &known);
    if (known)
        return ok;
    ok = Number(name, value, &known);
    return known ? ok : Refuse(L"unknown option " + name + L" (see --help)");
}

bool CParser::Finish()
{
    const CItemBuilderArgs& a = *m_out;
    if (a.outBase.empty())
        return Refuse(L"--out-base is required: the item is written as BASE.cvq and BASE.xml");
    if (a.desc.locations.empty())
        return Refuse(L"at least one --location \"NAME|FOLDER\" is required: the place the "
                      L"item is restored to");
    if (m_bContent && a.contentFile)
        return Refuse(L"--content and --content-file both give the content: use one");
    if (m_bSddl && a.securityFile)
        return Refuse(L"--sddl and --security-file both give the security data: use one");
    if (m_bNoEmptyRecord && (a.contentFile || !a.desc.content.empty()))
        return Refuse(L"--no-empty-record applies only to an item without content");
    if ((a.desc.dflags & QUAR_DFLAG_EFS) && !a.streamFiles.empty())
        return Refuse(L"--stream cannot go with --dflags 8: an EFS item's payload is the raw "
                      L"export, without stream records");
    return true;
}

bool IsHelp(const std::wstring& arg)
{
    return arg == L"--help" || arg == L"-h" || arg == L"/?";
}

bool TakeSeparator(const std::wstring& value, char* separator)
{
    if (value == L"," || value == L";")
        *separator = char(value[0]);
    else if (value == L"tab")
        *separator = '\t';
    else
        return false;
    return true;
}

} // namespace

bool ParseItemBuilderArgs(const std::vector<std::wstring>& args, CItemBuilderArgs* out,
                          std::wstring* error)
{
    CParser parser(out, error);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& name = args[i];
        if (IsHelp(name) || name == L"--version") {
            out->help = IsHelp(name);
            out->version = !out->help;
            return true;
        }
        if (name == L"--no-empty-record") {
            out->desc.emptyContentAsRecord = false;
            parser.m_bNoEmptyRecord = true;
            continue;
        }
        if (i + 1 == args.size()) {
            *error = name.compare(0, 2, L"--") == 0 ? name + L" needs a value"
                                                    : L"unknown argument " + name + L" (see --help)";
            return false;
        }
        if (!parser.Option(name, args[++i]))
            return false;
    }
    return parser.Finish();
}

bool LoadItemFiles(CItemBuilderArgs* out, std::wstring* error)
{
    CItemDescription& s = out->desc;
    if (out->contentFile && !ReadWholeFile(*out->contentFile, s.content)) {
        *error = L"cannot read " + *out->contentFile;
        return false;
    }
    for (const CStreamFileArg& arg : out->streamFiles) {
        CItemStream stream;
        stream.id = arg.id;
        stream.name = arg.name;
        if (!ReadWholeFile(arg.file, stream.data)) {
            *error = L"cannot read " + arg.file;
            return false;
        }
        s.extraStreams.push_back(std::move(stream));
    }
    if (out->securityFile) {
        std::string sd;
        if (!ReadWholeFile(*out->securityFile, sd)) {
            *error = L"cannot read " + *out->securityFile;
            return false;
        }
        s.security = sd;
    }
    return true;
}

bool ParseInspectArgs(const std::vector<std::wstring>& args, CInspectArgs* out, std::wstring* error)
{
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == L"--csv") {
            out->csv = true;
        } else if (args[i] == L"--sep") {
            if (i + 1 == args.size() || !TakeSeparator(args[++i], &out->separator)) {
                *error = L"--sep takes , or ; or tab";
                return false;
            }
        } else if (args[i].compare(0, 2, L"--") == 0) {
            *error = L"unknown option " + args[i] + L" (inspect takes --csv and --sep)";
            return false;
        } else if (!out->folder.empty()) {
            *error = L"inspect reads one quarantine folder, not " + args[i] + L" as well";
            return false;
        } else {
            out->folder = args[i];
        }
    }
    if (out->folder.empty()) {
        *error = L"inspect needs the quarantine folder to read";
        return false;
    }
    return true;
}

const wchar_t* ItemBuilderUsage()
{
    return LR"usage(usage: itembuilder --out-base BASE --location "NAME|FOLDER" [options]
       itembuilder inspect FOLDER [--csv] [--sep C]
       itembuilder --version | --help | -h | /?

Builds one quarantine item as the product writes it: BASE.cvq, the enciphered content, and
BASE.xml, its index. Every option except --location, --stream and --damage is given once.

  --out-base BASE           required: the item's path without extension
  --location "NAME|FOLDER"  required, repeatable: a file name and the folder it is restored
                            to, in the order the index lists them
Content (default: empty, stored as one data record of 0 bytes):
  --content TEXT            the file's content, stored as UTF-8
  --content-file FILE       the file's content, read from FILE (not with --content)
  --no-empty-record         with no content: no data record at all
  --stream "ID|NAME|FILE"   repeatable: one more stream, after the content: its stream id
                            (4: alternate data), its name (e.g. :Zone.Identifier:$DATA),
                            its data read from FILE
Every location's attributes, times and security:
  --attr N                  file attribute bits (default 0x20, archive)
  --crt T                   creation time (default 2020-01-01T00:00:00Z)
  --lwt T                   last-write time (default 2020-01-02T00:00:00Z)
  --lat T                   last-access time (default 2020-01-03T00:00:00Z)
  --sddl TEXT               security descriptor as SDDL (default: none)
  --security-file FILE      the same as binary self-relative bytes (not with --sddl)
The index's other fields:
  --virus NAME              detected threat name (default trojan.fakealert.5, the one the
                            repair restores)
  --qname TEXT              quarantine name (default empty)
  --dflags N                detection flags; 8: the file was EFS-encrypted, its payload is
                            the raw export (default 0)
  --dtime T                 detection time (default 0)
  --sender T, --receiver T, --subject T, --mailfname T   mail fields (default: none)
Defects, for tests, repeatable:
  --damage D                truncate:N (keep the first N payload bytes), flip:N (invert the
                            byte at offset N), hash or qhash (a wrong digest text),
                            size[:N] (a wrong size, default size + 1), secstr (a bad
                            security text), nopayload (no .cvq file)

Numbers N: decimal, or hexadecimal with 0x. Times T: ISO 8601, in UTC (2024-05-01T10:30:00Z),
with an offset (2024-05-01T12:30:00+02:00) or in this machine's local time
(2024-05-01T10:30:00, 2024-05-01); or a Windows file time, 100-ns units since 1601-01-01 UTC
(133590000000000000).

inspect: lists every item of a quarantine folder (copied from a machine): index file,
threat name, whether the repair restores it, its places, its size, and whether the payload
verifies (size, crypted and original digests), with a verdict per item. It only reads.

Example:
  itembuilder --out-base C:\Q\A1 --content-file invoice.doc ^
      --location "invoice.doc|C:\Users\Public\Documents\" --crt 2024-05-01T10:30:00Z ^
      --sddl "O:BAG:SYD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)"
)usage";
}
