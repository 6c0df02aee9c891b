// PayloadCipher: the rolling byte cipher that protects stored payload data.
// Two 8-bit counters (one subtracted, one XORed) advance per byte and keep
// running across calls until Reset(), so a payload can be processed in any
// number of pieces.
#pragma once

#include <cstddef>
#include <cstdint>

class PayloadCipher
{
public:
    PayloadCipher();

    // Puts both counters back to their start values.
    void Reset();

    // In place: plain = ((c - S) mod 256) XOR X, then the counters advance.
    void Decipher(uint8_t* data, size_t count);

    // In place: c = ((plain XOR X) + S) mod 256, same counter sequence.
    void Encipher(uint8_t* data, size_t count);

private:
    // Both counters step by odd amounts, so together they repeat every 256
    // bytes; the byte position modulo 256 is all the state we need.
    uint8_t m_uPosition;
};
