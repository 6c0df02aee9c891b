// A look at an index text before TinyXML parses it, so that hostile input cannot crash or
// stall the reader. No Windows headers.
//
// TinyXML parses elements recursively: under Wine, with the 2 MiB stack of our programs,
// it overflows a few thousand levels down. It also checks each new attribute against all
// earlier ones of its element, so a long attribute list costs quadratic time (40,000
// attributes: 5 s). An index is three elements deep with fourteen attributes at most; the
// bounds below leave it ample room.
#pragma once
#include <cstddef>
#include <string>

const int kIndexMaxDepth = 32;                // open elements at any point
const size_t kIndexMaxNodes = 100000;         // elements, texts, comments and the like
const size_t kIndexMaxTagAttributes = 64;     // attributes of one element
const size_t kIndexMaxAttributes = 1000000;   // attributes of all elements together

// Walks text (as DecodeIndexBytes leaves it) the way TinyXML's parser will and answers
// true when it stays within the bounds. Also false for a character reference that is not
// exactly "&#x" hex digits ";" or "&#" decimal digits ";": TinyXML reads such a reference
// up to the next ';' wherever that is, so it could hide markup from this walk; TinyXML
// itself fails on nearly all of them. Where TinyXML would stop with an error anyway, the
// answer does not matter and may be either.
bool IndexTextIsTame(const std::string& text);
