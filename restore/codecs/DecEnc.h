// CDecEnc: common interface of the text codecs (decode, encode, block size).
// The order of the virtual operations is fixed; keep new ones after it.
#pragma once

#include <cstdint>

class CDecEnc
{
public:
    // Decodes length chars of text into output; returns bytes written.
    virtual uint32_t Decode(const char* text, int32_t length, uint8_t* output) = 0;
    // Encodes length bytes of input into output text; returns its length.
    virtual uint32_t Encode(const uint8_t* input, int32_t length, char* output) = 0;
    // Input bytes a caller should hand to Encode per call for one text line.
    virtual int32_t GetBlockSize() const = 0;
    virtual ~CDecEnc() {}
};
