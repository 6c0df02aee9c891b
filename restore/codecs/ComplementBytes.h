// ComplementBytes: the simple byte inversion used on some stored blocks.
#pragma once

#include <cstddef>
#include <cstdint>

// Replaces every byte b with 255 - b, in place. Applying it twice restores
// the original data.
void ComplementBytes(uint8_t* data, size_t count);
