// Tests for ComplementBytes at the lengths and offsets that split its 16-byte steps: the
// vector part, the byte tail, and nothing outside the range touched.
#include "restore/codecs/ComplementBytes.h"

#include <gtest/gtest.h>

#include <vector>

TEST(ComplementBytes, EveryOffsetAndLengthAroundTheVectorWidth)
{
    std::vector<uint8_t> source(96);
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<uint8_t>(i * 37 + 11);
    for (size_t offset = 0; offset < 17; ++offset) {
        for (size_t length = 0; offset + length <= 79; ++length) {
            std::vector<uint8_t> data(source);
            ComplementBytes(data.data() + offset, length);
            for (size_t i = 0; i < data.size(); ++i) {
                bool inside = i >= offset && i < offset + length;
                uint8_t expected = inside ? static_cast<uint8_t>(255 - source[i]) : source[i];
                ASSERT_EQ(expected, data[i]) << "offset " << offset << " length " << length
                                             << " byte " << i;
            }
        }
    }
}
