// Fuzzes CBase64. The first byte picks the direction, the rest is the input.
//  - Decode of any text: it reads no further than length, writes no further than
//    length + 1 bytes (both buffers are exactly that large, so ASan sees any overstep), and
//    gives what a plain decoder written from the rules gives, bytes and count.
//  - Encode of any bytes: one line of the promised length in the promised buffer, which
//    decodes back to the input.
#include "fuzz/FuzzCheck.h"
#include "restore/codecs/Base64.h"
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The rules, as plainly as they can be put: CR and LF (whole bytes) are passed over; of
// any other byte the low seven bits count; '=' is passed over; a character outside the
// alphabet fails; every four characters' worth of six bits make three bytes, leftovers
// under eight bits are dropped. On failure, what was decoded before it is what the output
// holds.
struct Reference
{
    std::vector<uint8_t> bytes;
    bool valid = true;
};

Reference DecodePlainly(const char* text, size_t length)
{
    Reference r;
    std::vector<uint8_t> sextets;
    for (size_t i = 0; i < length && text[i] != '\0'; ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n')
            continue;
        char low = static_cast<char>(c & 0x7F);
        if (low == '=')
            continue;
        const char* at = low ? std::strchr(kAlphabet, low) : nullptr;
        if (!at) {
            r.valid = false;
            break;
        }
        sextets.push_back(static_cast<uint8_t>(at - kAlphabet));
    }
    for (size_t bit = 0; bit + 8 <= sextets.size() * 6; bit += 8) {
        uint8_t byte = 0;
        for (size_t b = bit; b < bit + 8; ++b)
            byte = static_cast<uint8_t>(byte << 1 | (sextets[b / 6] >> (5 - b % 6) & 1));
        r.bytes.push_back(byte);
    }
    return r;
}

void FuzzDecode(const uint8_t* data, size_t size)
{
    // Exactly length characters, not terminated: Decode must stop at length by itself.
    std::unique_ptr<char[]> text(new char[size ? size : 1]);
    std::memcpy(text.get(), data, size);
    std::unique_ptr<uint8_t[]> output(new uint8_t[size + 1]);
    std::memset(output.get(), 0xCC, size + 1);

    CBase64 codec;
    uint32_t count = codec.Decode(text.get(), static_cast<int32_t>(size), output.get());
    if (size == 0 || text[0] == '\0') {
        FuzzCheck(count == 0, "an empty text decodes to nothing");
        return;
    }
    Reference r = DecodePlainly(text.get(), size);
    FuzzCheck(count == (r.valid ? r.bytes.size() : 0), "decoded count as the rules say");
    FuzzCheck(std::equal(r.bytes.begin(), r.bytes.end(), output.get()),
              "decoded bytes as the rules say");
    for (size_t i = r.bytes.size(); i <= size; ++i)
        FuzzCheck(output[i] == 0, "the rest of the output is cleared");
}

void FuzzEncode(const uint8_t* data, size_t size)
{
    const size_t lineChars = 4 * ((size + 2) / 3);
    std::unique_ptr<char[]> line(new char[lineChars + 3]);
    CBase64 codec;
    uint32_t count = codec.Encode(data, static_cast<int32_t>(size), line.get());
    FuzzCheck(count == lineChars + 2, "a line of 4 * ceil(n / 3) characters and CR LF");
    FuzzCheck(line[lineChars] == '\r' && line[lineChars + 1] == '\n' &&
                  line[lineChars + 2] == '\0',
              "the line ends in CR LF and is terminated");
    size_t pads = size % 3 == 0 ? 0 : 3 - size % 3;
    for (size_t i = 0; i < lineChars; ++i) {
        bool pad = i >= lineChars - pads;
        FuzzCheck(pad ? line[i] == '=' : std::strchr(kAlphabet, line[i]) != nullptr,
                  "alphabet characters, then '=' up to a multiple of 4");
    }

    std::unique_ptr<uint8_t[]> back(new uint8_t[count + 1]);
    uint32_t decoded = codec.Decode(line.get(), static_cast<int32_t>(count), back.get());
    FuzzCheck(decoded == size && std::memcmp(back.get(), data, size) == 0,
              "Encode then Decode gives the input back");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    if (data[0] & 1)
        FuzzEncode(data + 1, size - 1);
    else
        FuzzDecode(data + 1, size - 1);
    return 0;
}
