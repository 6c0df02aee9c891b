// Defects the item builder can put into a quarantine item, so that tests can see the
// restore reject it: each one breaks exactly one thing.
#pragma once
#include "quarantine/QuarItem.h"
#include <cstdint>
#include <optional>
#include <string>

enum class EItemDamage
{
    TruncatePayload,  // arg (required): the payload keeps its first arg bytes, arg < size
    FlipPayloadByte,  // arg (required): offset of the byte whose bits are all inverted
    WrongHash,        // the index's hash text changed in its first character (or, when
                      // empty, made one digest text of zeros)
    WrongQhash,       // the same for qhash
    WrongSize,        // size recorded as arg; without arg, as size + 1
    BadSecStr,        // an asterisk put into every location's sec_str
    NoPayload,        // the payload file is not written (an old one is deleted)
};

struct CItemDamage
{
    EItemDamage kind;
    std::optional<int64_t> arg;
};

// Applies a damage to the payload bytes and the record about to be written; *writePayload
// turns false for NoPayload. False when it cannot apply (offset or length outside the
// payload); nothing is changed then.
bool ApplyItemDamage(const CItemDamage& damage, std::string& payload, QuarItem& item,
                     bool* writePayload);

// Parses "truncate:N", "flip:N", "hash", "qhash", "size[:N]", "secstr", "nopayload".
bool ParseItemDamage(const std::wstring& text, CItemDamage* damage);
