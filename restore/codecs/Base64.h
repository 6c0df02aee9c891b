// CBase64: base64 codec (alphabet A-Z a-z 0-9 + /, pad '='), one CR LF
// terminated line per Encode call.
#pragma once

#include "restore/codecs/DecEnc.h"

class CBase64 : public CDecEnc
{
public:
    CBase64();

    // Reads text up to length chars or its first NUL. CR and LF are skipped,
    // '=' is skipped wherever it stands, the top bit of each char is ignored.
    // Any other char outside the alphabet stops decoding and gives 0 (bytes
    // decoded so far stay in output). Leftover bits under a byte are dropped.
    // output must hold length + 1 bytes; all of them are cleared first.
    // Returns 0 for null text or output, or for an empty or negative length.
    uint32_t Decode(const char* text, int32_t length, uint8_t* output) override;

    // Writes the whole input as one line: base64 chars, '=' up to a multiple
    // of 4, CR LF, NUL. Returns the text length including CR LF (not the NUL).
    // output must hold 4 * ceil(length / 3) + 3 bytes. Zero (or negative)
    // length gives just "\r\n" and returns 2; null input or output gives 0
    // and writes nothing.
    uint32_t Encode(const uint8_t* input, int32_t length, char* output) override;

    // 57 input bytes make one 76-char line.
    int32_t GetBlockSize() const override;

private:
    void PushBits(uint32_t value, int32_t bits);
    uint32_t TakeBits(int32_t bits);

    int32_t m_nInputLength;   // bytes given to the last Encode
    int32_t m_nPendingBits;   // bits in m_uBitBuffer not yet emitted
    uint32_t m_uBitBuffer;    // newest bits at the low end
    const uint8_t* m_pInput;  // input of the last Encode
};
