// ComplementBytes: byte-wise inversion.
#include "restore/codecs/ComplementBytes.h"

void ComplementBytes(uint8_t* data, size_t count)
{
    if (data == nullptr)
        return;
    for (size_t i = 0; i < count; ++i)
        data[i] = static_cast<uint8_t>(255 - data[i]);
}
