// Quarantined items for the restore tests, built the way the quarantine stores them:
// payload records with enciphered data (or complemented EFS content), digest texts, and
// the index file written by hand, so the restore is checked against the stored format
// and not against our own index writer.
#pragma once
#include "restore/codecs/Md5Text.h"
#include <cstdint>
#include <string>
#include <vector>

using Lines = std::vector<std::wstring>;
Lines operator+(Lines a, const Lines& b);

// One backup stream of an ordinary item (id 1: the main data; others are kept aside).
struct CTestStream
{
    uint32_t id = 1;
    std::wstring name;
    std::string data;
};

// The 20-byte header of a stream record, plain.
std::string RecordHeader(uint32_t id, int64_t dataSize, uint32_t nameBytes);
// The name bytes of a record (UTF-16, no terminator).
std::string NameBytes(const std::wstring& name);
// A record as stored: header and name plain, data enciphered from a fresh cipher.
std::string StoredRecord(const CTestStream& stream);
// The record before enciphering (what BackupWrite must receive).
std::string PlainRecord(const CTestStream& stream);
// Base64 text of bytes, as sec_str holds it.
std::string Base64Text(const std::string& bytes);

struct CTestLocation
{
    std::wstring name;
    std::wstring path;
    uint32_t attr = 0x20;
    int64_t crt = 132000000000000000;
    int64_t lat = 132100000000000000;
    int64_t lwt = 132200000000000000;
    std::string secStr;
};

struct CTestItem
{
    std::vector<CTestLocation> files;
    int64_t size = 0;
    std::string hash;
    std::string qhash;
    int32_t dflags = 0;
    std::string payload;
};

// Ordinary item: payload of stored records, size of the main data, sorted digest texts.
CTestItem NormalItem(const std::vector<CTestStream>& streams);
// EFS item: the content complemented, one digest pair.
CTestItem EfsItem(const std::string& content);
// Writes the index to indexPath and the payload beside it (".cvq").
void StoreItem(const std::wstring& indexPath, const CTestItem& item);
// Deterministic filler of n bytes.
std::string Filler(size_t n, uint8_t seed);
